#include "settings/AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

AppPaths::AppPaths(QString directory)
    : m_directory(std::move(directory))
{
}

AppPaths AppPaths::forRunningProgram()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    if (QFileInfo(programDir).isWritable())
        return AppPaths(programDir);

    const QString userDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
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
