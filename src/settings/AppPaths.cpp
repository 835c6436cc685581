#include "settings/AppPaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>


AppPaths::AppPaths(QString directory) : m_directory(std::move(directory)) {}

void AppPaths::makePrivateFolder(const QString& folder)
{
    QDir().mkpath(QFileInfo(folder).absolutePath());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
}

bool AppPaths::isInstalledLayout(const QString& programDir)
{
    // An installation puts the menu entry beside the program's bin folder; a
    // copy somewhere else has none, and keeps its files next to itself.
    return QFileInfo::exists(
        QDir(programDir).filePath(QStringLiteral("../share/applications/tarvex.desktop")));
}

QString AppPaths::userDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

AppPaths AppPaths::forRunningProgram(const QString& dataDir)
{
    if (!dataDir.isEmpty()) {
        const QString folder = QDir(dataDir).absolutePath();
        makePrivateFolder(folder);
        return AppPaths(folder);
    }
    const QString programDir = QCoreApplication::applicationDirPath();
    // Root may write to /usr/bin, which is still no place for settings and logs.
    if (QFileInfo(programDir).isWritable() && !isInstalledLayout(programDir))
        return AppPaths(programDir);

    const QString userDir = userDataFolder();
    makePrivateFolder(userDir);
    return AppPaths(userDir);
}

QString AppPaths::file(const char* name) const
{
    return QDir(m_directory).filePath(QString::fromLatin1(name));
}

QString AppPaths::settingsFile() const
{
    return file(SettingsName);
}

QString AppPaths::errorLog() const
{
    return file(ErrorLogName);
}

QString AppPaths::nonUploaded() const
{
    return file(NonUploadedName);
}

QString AppPaths::debugLog() const
{
    return file(DebugLogName);
}

QString AppPaths::outbox() const
{
    return file(OutboxName);
}

QString AppPaths::lockFile() const
{
    return file(LockName);
}

QString AppPaths::windowState() const
{
    return file(WindowStateName);
}

QString AppPaths::damagedOutbox() const
{
    return file(DamagedOutboxName);
}

QString AppPaths::rescueFile() const
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    const QByteArray folder =
        QCryptographicHash::hash(QFile::encodeName(m_directory), QCryptographicHash::Sha1).toHex().left(12);
    return state + QStringLiteral("/Tarvex/Rescue-%1.txt").arg(QString::fromLatin1(folder));
}
