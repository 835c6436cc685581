#include "capture/ContactCapture.h"

#include "capture/AdifRecord.h"
#include "outbox/DiskKeeper.h"
#include "outbox/Outbox.h"
#include "settings/SettingConversions.h"

#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

namespace {

// Reading is cheap next to converting, so the socket is emptied into memory
// first; these bound what one pass holds and hands on at once.
constexpr qsizetype MaxQueued = 8192;
constexpr qsizetype BatchSize = 128;

} // namespace

bool IsValidPort(const QString& text)
{
    // A port text and a stored port read alike; rounding happens before the
    // range check, since 0.4 would otherwise bind whatever port the system picks.
    return SettingConversions::toPort(text).has_value();
}

quint16 portFromText(const QString& text)
{
    return SettingConversions::toPort(text).value_or(0);
}

ContactCapture::ContactCapture(Outbox& outbox, DiskKeeper* keeper, const DebugTrace& trace, QObject* parent)
    : QObject(parent), m_outbox(outbox), m_keeper(keeper), m_trace(trace), m_rebind(new QTimer(this)),
      m_buffer(MaxDatagramSize, Qt::Uninitialized)
{
    qRegisterMetaType<CaptureBatch>();
    m_rebind->setSingleShot(true);
    m_rebind->setInterval(DefaultRebindInterval);
    connect(m_rebind, &QTimer::timeout, this, &ContactCapture::tryBind);
}

ContactCapture::~ContactCapture() = default;

void ContactCapture::setRebindInterval(std::chrono::milliseconds interval)
{
    m_rebind->setInterval(interval);
}

void ContactCapture::bind(quint16 port)
{
    m_wantedPort = port;
    m_rebind->stop();
    tryBind();
}

void ContactCapture::closeSocket()
{
    if (!m_socket)
        return;
    // Whatever the old port still holds is handed on before it closes.
    readPending();
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

void ContactCapture::tryBind()
{
    closeSocket();
    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress::Any, m_wantedPort, QAbstractSocket::DontShareAddress)) {
        const QString reason = socket->errorString();
        delete socket;
        emit notListening(m_wantedPort, reason);
        m_rebind->start();
        return;
    }
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(m_receiveBuffer));
    connect(socket, &QUdpSocket::readyRead, this, &ContactCapture::readPending);
    m_socket = socket;
    emit listening(socket->localPort());
    readPending();
}

void ContactCapture::readPending()
{
    // Every notification is answered by reading until the socket is empty: a
    // QUdpSocket whose readyRead() goes unanswered stops notifying.
    while (m_socket) {
        while (m_queue.size() < MaxQueued && m_socket->hasPendingDatagrams()) {
            const qint64 size = m_socket->readDatagram(m_buffer.data(), m_buffer.size());
            if (size < 0)
                break;
            m_queue.append(QByteArray(m_buffer.constData(), size));
        }
        if (m_queue.isEmpty())
            return;
        handle(std::min(m_queue.size(), BatchSize));
    }
}

void ContactCapture::handle(qsizetype count)
{
    CaptureBatch batch;
    batch.contacts.reserve(count);
    QStringList records;
    QList<qsizetype> toAppend;
    const bool tracing = DebugTrace::enabled();
    const bool adding = m_autoUpload;

    for (qsizetype i = 0; i < count; ++i) {
        CapturedContact contact;
        contact.datagram = ContactConverter::datagramText(m_queue[i]);
        if (tracing)
            m_trace.write(TraceKey::DatagramArrival, contact.datagram);
        AdifRecord record;
        const Conversion conversion = ContactConverter::convert(contact.datagram, record, &m_trace);
        contact.kind = conversion.kind;
        contact.problem = conversion.problem;
        if (contact.kind == DatagramKind::Contact) {
            contact.record = record.text();
            if (tracing)
                m_trace.write(TraceKey::LogRecord, contact.record);
            if (adding) {
                toAppend.append(batch.contacts.size());
                records.append(contact.record);
            }
        }
        batch.contacts.append(std::move(contact));
    }
    m_queue.remove(0, count);

    if (!records.isEmpty()) {
        bool written = false;
        const QList<quint64> keys = m_outbox.append(records, &written, &batch.outboxError);
        for (qsizetype i = 0; i < keys.size(); ++i)
            batch.contacts[toAppend[i]].key = keys[i];
        if (m_keeper)
            m_keeper->appended();
    }
    emit captured(batch);
}

void ContactCapture::drain()
{
    m_rebind->stop();
    closeSocket();
    m_outbox.sync();
}
