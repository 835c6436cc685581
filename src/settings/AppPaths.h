#pragma once

#include <QString>

// Where Tarvex keeps its settings file and logs: the directory the program
// runs from, or the per-user data folder when that directory is not writable
// or belongs to an installation (/usr/bin, a prefix given to make install).
// Every file name lives here and nowhere else.
class AppPaths final
{
public:
    explicit AppPaths(QString directory);

    static AppPaths forRunningProgram();
    static bool isInstalledLayout(const QString& programDir);

    const QString& directory() const { return m_directory; }
    QString settingsFile() const;
    QString errorLog() const;
    QString nonUploaded() const;
    QString debugLog() const;

    static constexpr const char* SettingsName = "Tarvex.ini";
    static constexpr const char* ErrorLogName = "ErrorLog.txt";
    static constexpr const char* NonUploadedName = "NotUploadedQsosLog.adi";
    static constexpr const char* DebugLogName = "DebugLog.txt";

private:
    QString file(const char* name) const;

    QString m_directory;
};
