#include "capture/ContactCapture.h"

#include "capture/AdifRecord.h"
#include "capture/SocketAddress.h"
#include "outbox/DiskKeeper.h"
#include "outbox/Outbox.h"
#include "settings/SettingConversions.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>
#include <utility>

namespace {

// Reading is cheap next to converting, so the socket is emptied into memory
// first; these bound what one pass holds and hands on at once.
constexpr qsizetype MaxQueued = 8192;
constexpr qsizetype BatchSize = 128;
// Spoofed sender addresses could otherwise fill memory; past this many,
// new ones are only counted.
constexpr qsizetype MaxRefusedSenders = 1024;

// A socket bound to `port` on every local address, IPv4 and IPv6 alike (IPv4
// alone where the system has no IPv6), or -1 with the system's reason.
int openListening(quint16 port, int receiveBuffer, QString& reason)
{
    for (const QHostAddress& any :
         {QHostAddress(QHostAddress::AnyIPv6), QHostAddress(QHostAddress::AnyIPv4)}) {
        sockaddr_storage address;
        const socklen_t length = toSocketAddress(any, port, address);
        const int socket = ::socket(address.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (socket < 0 && errno == EAFNOSUPPORT)
            continue;
        const int off = 0;
        const int on = 1;
        if (socket >= 0 &&
            (address.ss_family == AF_INET ||
             ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) == 0) &&
            ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer) == 0 &&
            ::setsockopt(socket, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on) == 0 &&
            ::bind(socket, reinterpret_cast<const sockaddr*>(&address), length) == 0)
            return socket;
        reason = systemError(errno);
        if (socket >= 0)
            ::close(socket);
        return -1;
    }
    reason = systemError(EAFNOSUPPORT);
    return -1;
}

quint16 boundPort(int socket)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    quint16 port = 0;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    fromSocketAddress(address, port);
    return port;
}

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
      m_relay(new DatagramRelay(this)),
      m_senders(SenderFilter::fromSetting({}, SenderFilter::interfaceNetworks())),
      m_buffer(MaxDatagramSize, Qt::Uninitialized)
{
    qRegisterMetaType<CaptureBatch>();
    qRegisterMetaType<CaptureCounts>();
    connect(m_relay, &DatagramRelay::destinationsChanged, this, &ContactCapture::relayChanged);
    connect(m_relay, &DatagramRelay::problem, this, &ContactCapture::relayProblem);
    m_rebind->setSingleShot(true);
    m_rebind->setInterval(DefaultRebindInterval);
    connect(m_rebind, &QTimer::timeout, this, &ContactCapture::tryBind);
}

ContactCapture::~ContactCapture()
{
    delete m_notifier;
    if (m_socket >= 0)
        ::close(m_socket);
}

void ContactCapture::setRebindInterval(std::chrono::milliseconds interval)
{
    m_rebind->setInterval(interval);
}

void ContactCapture::setSenders(const SenderFilter& senders)
{
    QMetaObject::invokeMethod(this, [this, senders] { m_senders = senders; });
}

void ContactCapture::setRelay(const QList<RelayDestination>& destinations)
{
    QMetaObject::invokeMethod(this, [this, destinations] { m_relay->setDestinations(destinations); });
}

void ContactCapture::bind(quint16 port)
{
    m_wantedPort = port;
    m_relay->setOwnPort(port);
    m_rebind->stop();
    tryBind();
}

void ContactCapture::closeSocket()
{
    if (m_socket < 0)
        return;
    // Whatever the old port still holds is handed on before it closes.
    readPending();
    delete std::exchange(m_notifier, nullptr);
    ::close(std::exchange(m_socket, -1));
    m_earlierDrops += std::exchange(m_socketDrops, 0);
}

void ContactCapture::tryBind()
{
    closeSocket();
    QString reason;
    m_socket = openListening(m_wantedPort, m_receiveBuffer, reason);
    if (m_socket < 0) {
        emit notListening(m_wantedPort, reason);
        m_rebind->start();
        return;
    }
    m_notifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ContactCapture::readPending);
    const quint16 port = boundPort(m_socket);
    m_relay->setOwnPort(port);
    emit listening(port);
    readPending();
}

void ContactCapture::readPending()
{
    // Every notification is answered by reading until the socket is empty.
    while (m_socket >= 0) {
        while (m_queue.size() < MaxQueued && receive()) {
        }
        if (m_queue.isEmpty())
            break;
        handle(std::min(m_queue.size(), BatchSize));
    }
    const CaptureCounts now = counts();
    if (now != m_reportedCounts)
        emit counted(m_reportedCounts = now);
}

bool ContactCapture::receive()
{
    sockaddr_storage from{};
    iovec part{m_buffer.data(), size_t(m_buffer.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(quint32))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size = ::recvmsg(m_socket, &message, 0);
    if (size < 0)
        return false;
    // The system's running count of drops on this socket, sent along once it is not zero.
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SO_RXQ_OVFL)
            std::memcpy(&m_socketDrops, CMSG_DATA(header), sizeof m_socketDrops);
    }
    quint16 port = 0;
    const QHostAddress sender = fromSocketAddress(from, port);
    if (!m_senders.admits(sender)) {
        refuse(sender, port);
        return true;
    }
    const QByteArray datagram(m_buffer.constData(), size);
    if (m_relay->relay(datagram))
        m_queue.append(datagram);
    return true;
}

void ContactCapture::refuse(const QHostAddress& sender, quint16 port)
{
    ++m_refused;
    const QHostAddress address = SenderFilter::plain(sender);
    if (m_refusedSenders.size() >= MaxRefusedSenders || m_refusedSenders.contains(address))
        return;
    m_refusedSenders.insert(address);
    emit senderRefused(address.toString(), port, SenderFilter::entryFor(address));
}

CaptureCounts ContactCapture::counts() const
{
    return {m_earlierDrops + m_socketDrops, m_refused, m_relay->looped(), m_relay->relayed(),
            m_relay->failures()};
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
        const QList<quint64> keys = m_outbox.append(records, nullptr, &batch.outboxError);
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
