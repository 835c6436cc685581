#include "logs/LogFile.h"

#include <QFile>
#include <QLocale>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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

bool syncToDisk(QFile& file)
{
#ifdef Q_OS_UNIX
    return ::fdatasync(file.handle()) == 0;
#else
    return file.flush();
#endif
}

bool append(const QString& path, const QByteArray& bytes, bool synced, QString* error)
{
    // Unbuffered: a buffer that failed to flush would be written again on
    // close, after the cut-back below.
    QFile file(path);
    const bool existed = file.exists();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const qint64 before = file.size();
    bool ok = file.write(bytes) == bytes.size();
    QString reason = file.errorString();
    if (ok && synced && !syncToDisk(file)) {
        ok = false;
        reason = qt_error_string();
    }
    if (!ok) {
        // A file this write created goes again: left empty, it would count as
        // existing and the next write would leave out what starts a new file.
        if (existed)
            file.resize(before);
        else
            file.remove();
    }
    if (!ok && error)
        *error = reason;
    return ok;
}

} // namespace

bool appendToFile(const QString& path, const QByteArray& bytes, QString* error)
{
    return append(path, bytes, false, error);
}

bool appendToFileSynced(const QString& path, const QByteArray& bytes, QString* error)
{
    return append(path, bytes, true, error);
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
