#pragma once

#include <QDir>
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
    // Parents as the system makes them; the folder itself 0700, as it holds a
    // password. A folder that exists is left as it is.
    static void makePrivateFolder(const QString& folder);

    const QString& directory() const { return m_directory; }
    QString settingsFile() const { return file(SettingsName); }
    QString errorLog() const { return file(ErrorLogName); }
    QString nonUploaded() const { return file(NonUploadedName); }
    QString debugLog() const { return file(DebugLogName); }
    QString outbox() const { return file(OutboxName); }
    QString lockFile() const { return file(LockName); }
    QString windowState() const { return file(WindowStateName); }
    QString damagedOutbox() const { return file(DamagedOutboxName); }
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
    QString file(const char* name) const { return QDir(m_directory).filePath(QString::fromLatin1(name)); }

    QString m_directory;
};
