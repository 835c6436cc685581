#include "capture/UdpListener.h"

#include "settings/SettingConversions.h"

#include <QTimer>
#include <QUdpSocket>
#include <QVariant>

namespace {

// Datagrams handed on per turn of the event loop before the rest wait for the
// next turn, so a flood never freezes the window.
constexpr int DatagramsPerTurn = 64;

// Reading is cheap next to handling, so the socket is emptied into memory
// first and a burst does not overflow the system's buffer; these bound one
// reading pass and what waits in memory.
constexpr int ReadsPerTurn = 512;
constexpr qsizetype MaxQueuedBytes = 16 * 1024 * 1024;

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

UdpListener::UdpListener(QObject* parent)
    : QObject(parent), m_handler(new QTimer(this)), m_buffer(MaxDatagramSize, Qt::Uninitialized)
{
    m_handler->setSingleShot(true);
    m_handler->setInterval(0);
    connect(m_handler, &QTimer::timeout, this, &UdpListener::handleQueued);
}

UdpListener::~UdpListener() = default;

QString UdpListener::bind(qint64 port)
{
    close();
    if (port < 0 || port > 65535)
        return tr("The port number %1 is out of range.").arg(port);

    auto* socket = new QUdpSocket(this);
    if (!socket->bind(QHostAddress::Any, static_cast<quint16>(port), QAbstractSocket::DontShareAddress)) {
        const QString reason = socket->errorString();
        delete socket;
        return reason;
    }
    socket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, QVariant(ReceiveBufferSize));
    connect(socket, &QUdpSocket::readyRead, this, &UdpListener::readPending);
    m_socket = socket;
    return {};
}

void UdpListener::close()
{
    if (!m_socket)
        return;
    m_socket->close();
    m_socket->deleteLater();
    m_socket = nullptr;
}

bool UdpListener::isBound() const
{
    return m_socket && m_socket->state() == QAbstractSocket::BoundState;
}

quint16 UdpListener::boundPort() const
{
    return isBound() ? m_socket->localPort() : 0;
}

void UdpListener::readPending()
{
    // Only this handler reads, and it takes at least one datagram whenever
    // there is one: a QUdpSocket whose readyRead() goes unanswered by a read
    // stops notifying, and the listener would fall silent for good.
    for (int taken = 0; m_socket && m_socket->hasPendingDatagrams(); ++taken) {
        if (taken > 0 && (taken == ReadsPerTurn || m_queuedBytes >= MaxQueuedBytes))
            break;
        const qint64 size = m_socket->readDatagram(m_buffer.data(), m_buffer.size());
        if (size < 0)
            continue;
        m_queue.append(QByteArray(m_buffer.constData(), size));
        m_queuedBytes += size;
    }
    if (!m_queue.isEmpty() && !m_handler->isActive())
        m_handler->start();
}

void UdpListener::handleQueued()
{
    for (int handled = 0; handled < DatagramsPerTurn && !m_queue.isEmpty(); ++handled) {
        const QByteArray datagram = m_queue.takeFirst();
        m_queuedBytes -= datagram.size();
        emit datagramReceived(datagram);
    }
    if (!m_queue.isEmpty())
        m_handler->start();
}
