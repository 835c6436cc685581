#include "settings/InstanceLock.h"

#include "logs/LogFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSysInfo>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "pid\nTarvex\nhost\n", as earlier versions wrote it.
QString holderText(const QByteArray& content)
{
    const QList<QByteArray> lines = content.split('\n');
    bool ok = false;
    const qint64 pid = lines.value(0).toLongLong(&ok);
    if (!ok || pid <= 0 || lines.size() < 3)
        return {};
    return QStringLiteral("process %1 on %2").arg(pid).arg(QString::fromUtf8(lines[2]));
}

QByteArray readAll(int fd)
{
    QByteArray content(512, '\0');
    const ssize_t n = ::pread(fd, content.data(), size_t(content.size()), 0);
    content.resize(n > 0 ? n : 0);
    return content;
}

} // namespace

InstanceLock::InstanceLock(QString path) : m_path(std::move(path)) {}

InstanceLock::~InstanceLock()
{
    if (m_fd < 0)
        return;
    // Emptied, not removed: a copy that opened the file just now must find the
    // same file locked, not lock one nobody else sees. Empty means a clean exit.
    [[maybe_unused]] const int emptied = ::ftruncate(m_fd, 0);
    ::close(m_fd);
}

bool InstanceLock::acquire(QString* holder, QString* note)
{
    const QByteArray name = QFile::encodeName(m_path);
    m_fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (m_fd < 0) // a read-only folder may still hold a lock file to take
        m_fd = ::open(name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (m_fd < 0) {
        if (note)
            *note = QStringLiteral("no lock in %1 (%2); make sure no other Tarvex uses that folder")
                        .arg(QDir::toNativeSeparators(QFileInfo(m_path).absolutePath()), systemError());
        return true;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (holder) {
            // A copy that is just starting has the lock and may not have said who it is yet.
            *holder = holderText(readAll(m_fd));
            if (holder->isEmpty())
                *holder = QStringLiteral("another process");
        }
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    const QByteArray left = readAll(m_fd);
    if (!left.isEmpty() && note) {
        const QString stale = holderText(left);
        *note = stale.isEmpty() ? QStringLiteral("%1 held no lock and made no sense; it was taken over")
                                      .arg(QDir::toNativeSeparators(m_path))
                                : QStringLiteral("%1 was left by %2, which no longer runs; it was taken over")
                                      .arg(QDir::toNativeSeparators(m_path), stale);
    }
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid()) + "\nTarvex\n" +
                            QSysInfo::machineHostName().toUtf8() + '\n';
    if (::ftruncate(m_fd, 0) == 0)
        writeAll(m_fd, self);
    [[maybe_unused]] const int private_ = ::fchmod(m_fd, 0600); // also a lock left by an earlier version
    return true;
}

QString InstanceLock::alreadyRunning(const QString& folder, const QString& holder)
{
    return QStringLiteral("Tarvex is already running (%1) with the data folder %2.\r\n"
                          "Only one Tarvex can use a data folder at a time; this one ends now.")
        .arg(holder, QDir::toNativeSeparators(folder));
}
