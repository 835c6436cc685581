#include "settings/AppPaths.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>

namespace {

bool isInstalledLayout(const QString& programDir)
{
    // An installation puts the menu entry beside the program's bin folder; a
    // copy somewhere else has none, and keeps its files next to itself.
    return QFileInfo::exists(
        QDir(programDir).filePath(QStringLiteral("../share/applications/tarvex.desktop")));
}

} // namespace

AppPaths::AppPaths(QString directory) : m_directory(std::move(directory)) {}

void AppPaths::makePrivateFolder(const QString& folder)
{
    QDir().mkpath(QFileInfo(folder).absolutePath());
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
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

    const QString userDir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    makePrivateFolder(userDir);
    return AppPaths(userDir);
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
