#include "upload/ContactPipeline.h"

#include "capture/ContactCapture.h"
#include "logs/DebugTrace.h"
#include "logs/LogFile.h"
#include "logs/LogText.h"
#include "outbox/DiskKeeper.h"
#include "upload/RealtimeUploader.h"

#include <QRegularExpression>
#include <QTimer>

#include <limits>

QString firstLine(const QString& text)
{
    const QString trimmed = text.trimmed();
    const qsizetype end = trimmed.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    return end < 0 ? trimmed : trimmed.left(end).trimmed();
}

ContactPipeline::ContactPipeline(const Settings& settings, RealtimeUploader& uploader, DiskKeeper* keeper,
                                 QObject* parent)
    : QObject(parent), m_settings(settings), m_uploader(uploader), m_keeper(keeper)
{
    m_countStore = new QTimer(this);
    m_countStore->setSingleShot(true);
    m_countStore->setInterval(CountStoreInterval);
    connect(m_countStore, &QTimer::timeout, this, [this] {
        if (m_countPending)
            storeCount();
    });

    const QLatin1String crlf(LineEnd);
    connect(&m_uploader, &RealtimeUploader::sending, this, [this] { emit statusChanged(StatusText::Uploading); });
    connect(&m_uploader, &RealtimeUploader::finished, this, &ContactPipeline::onFinished);
    connect(&m_uploader, &RealtimeUploader::replied, this, [this](const QByteArray& body, const QString& password) {
        if (DebugTrace::enabled())
            m_settings.trace().write(TraceKey::UploadReturn, LogText::safeReply(body, password));
    });
    connect(&m_uploader, &RealtimeUploader::outageBegan, this,
            [this, crlf](const QString& reason, const UploadResult& first) {
                report(ErrorTitle::Unreachable, reason + crlf + QLatin1String("Sent Data= ") +
                                                    QString::fromUtf8(first.reportBody) + crlf + first.contact.record);
            });
    connect(&m_uploader, &RealtimeUploader::loginRefused, this,
            [this, crlf](const QString& reason, const QByteArray& reply, const QString& password) {
                report(ErrorTitle::LoginRefused, reason + crlf + LogText::safeReply(reply, password));
            });
    if (m_keeper)
        connect(m_keeper, &DiskKeeper::kept, this, &ContactPipeline::contactKept);
}

void ContactPipeline::resume(const QList<Outbox::Entry>& waiting)
{
    for (const Outbox::Entry& entry : waiting) {
        emit contactReceived(entry.key, entry.record, true);
        m_uploader.enqueue({entry.key, entry.record});
    }
}

void ContactPipeline::handleBatch(const CaptureBatch& batch)
{
    if (batch.contacts.isEmpty())
        return;
    // Each datagram starts with a clear status line.
    emit statusChanged(QString());
    const QLatin1String crlf(LineEnd);
    for (const CapturedContact& contact : batch.contacts) {
        switch (contact.kind) {
        case DatagramKind::Unreadable:
            // Kept whole, so the contact can be recovered by hand.
            report(ErrorTitle::UnreadableDatagram, contact.problem + crlf + contact.datagram);
            emit datagramUnreadable(contact.problem);
            break;
        case DatagramKind::Contact:
            emit contactReceived(contact.key, contact.record, contact.key != 0);
            if (contact.key != 0)
                m_uploader.enqueue({contact.key, contact.record});
            break;
        case DatagramKind::NoContact:
        case DatagramKind::OtherDocument:
            break;
        }
    }
    m_lastDatagram = batch.contacts.last().datagram;
    emit datagramShown(m_lastDatagram);
    if (!batch.outboxError.isEmpty())
        emit statusChanged(tr("Contacts could not be written to the outbox (%1); they are sent from memory")
                               .arg(batch.outboxError));
}

void ContactPipeline::onFinished(const UploadResult& result)
{
    if (result.accepted) {
        emit statusChanged(StatusText::UploadComplete);
        if (m_uploadedCount < std::numeric_limits<qint32>::max())
            setCount(m_uploadedCount + 1);
        if (m_keeper)
            m_keeper->done(result.contact.key);
        emit contactAccepted(result.contact.key, result.contact.record);
        return;
    }

    emit statusChanged(StatusText::UploadRejected);
    // The first line says what failed: the service's own words, or, when it
    // gave none, why there was no usable answer.
    const QString reply = LogText::safeReply(result.reply, result.password);
    QString headline = reply;
    if (!result.failure.isEmpty())
        headline = reply.isEmpty() ? result.failure : result.failure + QLatin1String(LineEnd) + reply;
    const QLatin1String crlf(LineEnd);
    if (m_keeper)
        m_keeper->keep(result.contact.key, result.contact.record, ErrorTitle::ServiceError,
                       headline + crlf + QLatin1String("Sent Data= ") + QString::fromUtf8(result.reportBody) +
                           crlf + result.contact.record);
    emit errorReported();
    emit contactRefused(result.contact.key, result.contact.record,
                        firstLine(reply).isEmpty() ? result.failure : firstLine(reply));
}

void ContactPipeline::report(const QString& title, const QString& text)
{
    if (m_keeper)
        m_keeper->report(title, text);
    emit errorReported();
}

void ContactPipeline::resetUploadedCount()
{
    // The user asked for it: stored now, whatever is pending.
    m_uploadedCount = 0;
    storeCount();
    emit uploadedCountChanged(0);
}

void ContactPipeline::storeCountNow()
{
    if (m_countPending)
        storeCount();
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
