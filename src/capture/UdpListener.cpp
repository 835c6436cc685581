#include "capture/UdpListener.h"

#include "settings/SettingConversions.h"

#include <QTimer>
#include <QUdpSocket>
#include <QVariant>


namespace {

// Datagrams handled per turn of the event loop before the rest wait for the
// next turn, so a flood never freezes the window.
constexpr int DatagramsPerTurn = 64;

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
    : QObject(parent)
    , m_buffer(MaxDatagramSize, Qt::Uninitialized)
{
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
    connect(socket, &QUdpSocket::readyRead, this, &UdpListener::drain);
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

void UdpListener::drain()
{
    m_drainScheduled = false;
    // Handlers may close or rebind the listener, so the socket is looked up afresh each time.
    for (int handled = 0; m_socket && m_socket->hasPendingDatagrams(); ++handled) {
        if (handled == DatagramsPerTurn) {
            if (!m_drainScheduled) {
                m_drainScheduled = true;
                QTimer::singleShot(0, this, &UdpListener::drain);
            }
            return;
        }
        const qint64 size = m_socket->readDatagram(m_buffer.data(), m_buffer.size());
        if (size < 0)
            continue;
        emit datagramReceived(QByteArray(m_buffer.constData(), size));
    }
}
