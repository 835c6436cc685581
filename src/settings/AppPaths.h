#pragma once

#include <QString>

// Where Tarvex keeps its settings file, outbox and logs: a folder given on
// the command line; else the directory the program runs from; else, when
// that directory is not writable or belongs to an installation (/usr/bin, a
// prefix given to make install), the per-user data folder. Every file name
// lives here and nowhere else. A folder Tarvex creates is private (0700).
class AppPaths final
{
public:
    explicit AppPaths(QString directory);

    // `dataDir` from --data-dir, or empty. The folder is created when missing.
    static AppPaths forRunningProgram(const QString& dataDir = QString());
    static bool isInstalledLayout(const QString& programDir);
    static QString userDataFolder();
    // Parents as the system makes them; the folder itself 0700, as it holds a
    // password. A folder that exists is left as it is.
    static void makePrivateFolder(const QString& folder);

    const QString& directory() const { return m_directory; }
    QString settingsFile() const;
    QString errorLog() const;
    QString nonUploaded() const;
    QString debugLog() const;
    QString outbox() const;
    QString lockFile() const;
    QString windowState() const;
    QString damagedOutbox() const;
    // Where closing puts contacts it could write nowhere in this folder, and
    // where the next start looks for them: the user's state folder, which is
    // not emptied at boot as /tmp is. One file per data folder.
    QString rescueFile() const;

    static constexpr const char* SettingsName = "Tarvex.ini";
    static constexpr const char* ErrorLogName = "ErrorLog.txt";
    static constexpr const char* NonUploadedName = "NotUploadedQsosLog.adi";
    static constexpr const char* DebugLogName = "DebugLog.txt";
    // Not .adi: the outbox must never be picked for a manual upload.
    static constexpr const char* OutboxName = "Outbox.txt";
    static constexpr const char* DamagedOutboxName = "Outbox.damaged.txt";
    static constexpr const char* LockName = "Tarvex.lock";
    static constexpr const char* WindowStateName = "Window.ini";

private:
    QString file(const char* name) const;

    QString m_directory;
};
