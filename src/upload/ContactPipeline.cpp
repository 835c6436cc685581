#include "upload/ContactPipeline.h"

#include "capture/ContactConverter.h"
#include "logs/DebugTrace.h"
#include "logs/LogFile.h"
#include "settings/Settings.h"
#include "upload/RealtimeUploader.h"

#include <QFileInfo>
#include <QTimer>

#include <limits>

ContactPipeline::ContactPipeline(const Settings& settings, const QString& errorLogPath,
                                 const QString& nonUploadedPath, RealtimeUploader& uploader, QObject* parent)
    : QObject(parent), m_settings(settings), m_errorLog(errorLogPath), m_nonUploaded(nonUploadedPath),
      m_uploader(uploader)
{
    connect(&m_uploader, &RealtimeUploader::finished, this, &ContactPipeline::onUploadFinished);
    m_countStore = new QTimer(this);
    m_countStore->setSingleShot(true);
    m_countStore->setInterval(CountStoreInterval);
    connect(m_countStore, &QTimer::timeout, this, [this] {
        if (m_countPending)
            storeCount();
    });
}

void ContactPipeline::handleDatagram(const QByteArray& datagram)
{
    emit statusChanged(QString());
    const QString text = ContactConverter::datagramText(datagram);
    emit datagramShown(text);

    const DebugTrace& trace = m_settings.trace();
    if (DebugTrace::enabled())
        trace.write(TraceKey::DatagramArrival, text);

    if (!ContactConverter::convert(text, m_record, &trace))
        return;

    if (DebugTrace::enabled())
        trace.write(TraceKey::LogRecord, m_record.text());
    if (m_autoUpload)
        UploadRealtime();
    m_record.clear();
}

void ContactPipeline::UploadRealtime()
{
    emit statusChanged(StatusText::Uploading);
    m_uploader.enqueue(RealtimeRequest::make(m_credentials, m_record.text()));
}

void ContactPipeline::onUploadFinished(const RealtimeResult& result)
{
    const QString reply = QString::fromUtf8(result.reply);
    if (DebugTrace::enabled())
        m_settings.trace().write(TraceKey::UploadReturn, reply);

    if (result.accepted) {
        emit statusChanged(StatusText::UploadComplete);
        if (m_uploadedCount < std::numeric_limits<qint32>::max())
            setCount(m_uploadedCount + 1);
        return;
    }

    emit statusChanged(StatusText::UploadRejected);
    // The first line says what failed: the service's own words, or, when it
    // gave none, why there was no usable answer.
    QString headline = reply;
    if (!result.failure.isEmpty())
        headline = reply.isEmpty() ? result.failure : result.failure + QLatin1String(LineEnd) + reply;
    const QLatin1String crlf(LineEnd);
    m_errorLog.write(ServiceErrorTitle, headline + crlf + QLatin1String("Sent Data= ") +
                                            QString::fromUtf8(result.request.reportBody) + crlf +
                                            result.request.record);
    emit errorReported();
    keepRecord(result.request.record);
}

void ContactPipeline::keepRecord(const QString& record)
{
    QString reason;
    if (m_nonUploaded.append(record, &reason))
        return;
    emit statusChanged(
        tr("Contact could not be saved to %1: %2").arg(QFileInfo(m_nonUploaded.path()).fileName(), reason));
    emit errorReported();
}

int ContactPipeline::keepUnfinished()
{
    if (m_countPending)
        storeCount();
    int lost = 0;
    for (const RealtimeRequest& request : m_uploader.abandonAll()) {
        if (!m_nonUploaded.append(request.record))
            ++lost;
    }
    return lost;
}

void ContactPipeline::resetUploadedCount()
{
    // The user asked for it: stored now, whatever is pending.
    m_uploadedCount = 0;
    storeCount();
    emit uploadedCountChanged(0);
}

void ContactPipeline::setCount(qint32 count)
{
    m_uploadedCount = count;
    if (m_countStore->isActive())
        m_countPending = true;
    else
        storeCount();
    emit uploadedCountChanged(count);
}

void ContactPipeline::storeCount()
{
    m_countPending = false;
    m_settings.SaveSettings(SettingKey::TotalUploaded, QString::number(m_uploadedCount), false);
    m_countStore->start();
}
