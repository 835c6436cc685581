#include "logs/LogFile.h"

#include <QFile>
#include <QLocale>

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

} // namespace

bool appendToFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QFile file(path);
    bool ok = file.open(QIODevice::WriteOnly | QIODevice::Append);
    if (ok) {
        ok = file.write(bytes) == bytes.size();
        ok = file.flush() && ok;
        file.close();
        ok = ok && file.error() == QFileDevice::NoError;
    }
    if (!ok && error)
        *error = file.errorString();
    return ok;
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
