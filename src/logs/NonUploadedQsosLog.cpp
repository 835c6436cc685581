#include "logs/NonUploadedQsosLog.h"

#include "logs/LogFile.h"

#include <QFileInfo>

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
    // Existence, not emptiness, decides the header: a file the user emptied
    // by hand stays without one.
    QString text = QFileInfo::exists(m_path) ? QString() : header();
    text += record;
    text += QLatin1String(LineEnd);
    return appendToFileSynced(m_path, text.toUtf8(), error);
}
