#include "logs/ErrorLog.h"

#include "logs/LogFile.h"

ErrorLog::ErrorLog(QString path) : m_path(std::move(path)) {}

QString ErrorLog::blockText(const QString& timestamp, const QString& Title, const QString& Setting)
{
    const QLatin1String crlf(LineEnd);
    return QLatin1String("----------") + crlf + timestamp + QLatin1String(" - ") + Title + crlf +
           QLatin1String(" =Error Report= ") + crlf + Setting + crlf + QLatin1String(" =Error Report End= ") +
           crlf + crlf;
}

bool ErrorLog::write(const QString& Title, const QString& Setting) const
{
    return append(blockText(logTimestamp(), Title, Setting));
}

bool ErrorLog::append(const QString& block, QString* error) const
{
    return appendToFile(m_path, block.toUtf8(), error);
}
