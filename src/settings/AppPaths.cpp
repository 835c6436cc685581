#include "settings/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

AppPaths::AppPaths(QString directory) : m_directory(std::move(directory)) {}

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
        QDir().mkpath(folder);
        return AppPaths(folder);
    }
    const QString programDir = QCoreApplication::applicationDirPath();
    // Root may write to /usr/bin, which is still no place for settings and logs.
    if (QFileInfo(programDir).isWritable() && !isInstalledLayout(programDir))
        return AppPaths(programDir);

    const QString userDir = userDataFolder();
    QDir().mkpath(userDir);
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
