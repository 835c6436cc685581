#include "logs/NonUploadedQsosLog.h"

#include "logs/LogFile.h"

NonUploadedQsosLog::NonUploadedQsosLog(QString path) : m_path(std::move(path)) {}

QString NonUploadedQsosLog::header()
{
    // ADIF readers take everything before <EOH> as the header; without it the
    // first record would be read as part of the header.
    const QLatin1String crlf(LineEnd);
    return QLatin1String("'The qso's listed below were not uploaded to Corvane due to an error occuring.") +
           crlf + QLatin1String("'You should manually upload this file to Corvane.") + crlf +
           QLatin1String("<EOH>") + crlf + crlf;
}

bool NonUploadedQsosLog::append(const QString& record, QString* error) const
{
    // A file this append creates starts with the header; one the user
    // emptied by hand stays without one.
    return appendToFileSynced(m_path, (record + QLatin1String(LineEnd)).toUtf8(), error, header().toUtf8());
}
