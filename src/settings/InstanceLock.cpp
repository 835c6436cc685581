#include "settings/InstanceLock.h"

#include <QDir>

InstanceLock::InstanceLock(const QString& path) : m_lock(path)
{
    // Only a lock whose process is gone is stale, however old it is.
    m_lock.setStaleLockTime(0);
}

bool InstanceLock::acquire(QString* holder, QString* problem)
{
    if (m_lock.tryLock(0))
        return true;
    if (m_lock.error() == QLockFile::LockFailedError) {
        qint64 pid = 0;
        QString host;
        QString application;
        if (holder) {
            *holder = m_lock.getLockInfo(&pid, &host, &application)
                          ? QStringLiteral("process %1 on %2").arg(pid).arg(host)
                          : QStringLiteral("another process");
        }
        return false;
    }
    if (problem)
        *problem = m_lock.error() == QLockFile::PermissionError ? QStringLiteral("the folder is not writable")
                                                                 : QStringLiteral("the lock file cannot be made");
    return true;
}

QString InstanceLock::alreadyRunning(const QString& folder, const QString& holder)
{
    return QStringLiteral("Tarvex is already running (%1) with the data folder %2.\r\n"
                          "Only one Tarvex can use a data folder at a time; this one ends now.")
        .arg(holder, QDir::toNativeSeparators(folder));
}
