#include "logs/LogFile.h"

#include <QFile>
#include <QLocale>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Qt's long time format carries a time-zone name ("t"); a log line reads
// better without it, as a desktop clock shows the time.
QString timeFormatWithoutZone(const QLocale& locale)
{
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        result += c;
    }
    return result.trimmed();
}

bool append(const QString& path, const QByteArray& bytes, bool synced, QString* error,
            const QByteArray& header)
{
    const QByteArray name = QFile::encodeName(path);
    // Created exclusively, so a link planted where the file would be is never followed.
    int fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST)
        fd = ::open(name.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = systemError();
        return false;
    }
    const off_t before = ::lseek(fd, 0, SEEK_END);
    const bool ok = writeAll(fd, created ? header + bytes : bytes) && (!synced || ::fdatasync(fd) == 0);
    if (!ok) {
        if (error)
            *error = systemError();
        // A file this write created goes again: left empty, it would count as
        // existing and the next write would leave out what starts a new file.
        if (created) {
            ::unlink(name.constData());
        } else if (before >= 0) {
            [[maybe_unused]] const int cut = ::ftruncate(fd, before);
        }
    }
    ::close(fd);
    return ok;
}

} // namespace

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

bool writeAll(int fd, QByteArrayView bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += n;
    }
    return true;
}

bool appendToFile(const QString& path, const QByteArray& bytes, QString* error)
{
    return append(path, bytes, false, error, {});
}

bool appendToFileSynced(const QString& path, const QByteArray& bytes, QString* error,
                        const QByteArray& header)
{
    return append(path, bytes, true, error, header);
}

QString logTimestamp(const QDateTime& when)
{
    const QLocale locale;
    QString text = locale.toString(when.date(), QLocale::ShortFormat);
    const QTime time = when.time();
    if (time.hour() != 0 || time.minute() != 0 || time.second() != 0) {
        text += QLatin1Char(' ');
        text += locale.toString(time, timeFormatWithoutZone(locale));
    }
    return text;
}
