#include "capture/DatagramRelay.h"

#include "capture/SenderFilter.h"
#include "capture/SocketAddress.h"

#include <QHostInfo>
#include <QNetworkInterface>

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

// A connected, non-blocking socket to the address, or -1 with `error` set.
int openConnected(const QHostAddress& address, quint16 port, int& error)
{
    sockaddr_storage storage;
    const socklen_t length = toSocketAddress(address, port, storage);
    const int socket = ::socket(storage.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    // A broadcast address is a destination like any other.
    if (socket >= 0 && ::setsockopt(socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) == 0 &&
        ::connect(socket, reinterpret_cast<const sockaddr*>(&storage), length) == 0)
        return socket;
    error = errno;
    if (socket >= 0)
        ::close(socket);
    return -1;
}

bool isOwnAddress(const QHostAddress& address)
{
    const QHostAddress plain = SenderFilter::plain(address);
    return plain.isLoopback() || plain == QHostAddress::AnyIPv4 || plain == QHostAddress::AnyIPv6 ||
           QNetworkInterface::allAddresses().contains(plain);
}

} // namespace

QString RelayDestination::text() const
{
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

QList<RelayDestination> parseRelayTo(const QString& setting, QStringList* problems)
{
    QList<RelayDestination> destinations;
    for (const QString& part : setting.split(QLatin1Char(','))) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        const qsizetype colon = entry.lastIndexOf(QLatin1Char(':'));
        QString host = entry.left(std::max<qsizetype>(colon, 0));
        const bool bracketed = host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'));
        if (bracketed)
            host = host.mid(1, host.size() - 2);
        bool ok = false;
        const quint16 port = entry.mid(colon + 1).toUShort(&ok);
        // Without its brackets the last group of an IPv6 address would be taken for the port.
        const bool usable = colon > 0 && ok && port != 0 && !host.isEmpty() &&
                            !host.contains(QLatin1Char(' ')) &&
                            (bracketed ? QHostAddress(host).protocol() == QAbstractSocket::IPv6Protocol
                                       : !host.contains(QLatin1Char(':')));
        if (!usable) {
            if (problems)
                *problems << QStringLiteral("The RelayTo entry \"%1\" is not host:port (an IPv6 address as "
                                            "[address]:port); it is skipped")
                                 .arg(entry);
            continue;
        }
        const RelayDestination destination{host, port};
        if (!destinations.contains(destination))
            destinations << destination;
    }
    return destinations;
}

DatagramRelay::DatagramRelay(QObject* parent) : QObject(parent) {}

DatagramRelay::~DatagramRelay()
{
    closeAll();
}

void DatagramRelay::setDestinations(const QList<RelayDestination>& destinations)
{
    ++m_generation;
    m_resolved.clear();
    m_reported.clear();
    reopen();
    for (const RelayDestination& destination : destinations) {
        QHostInfo::lookupHost(destination.host, this,
                              [this, destination, generation = m_generation](const QHostInfo& info) {
                                  if (generation == m_generation)
                                      resolved(destination, info);
                              });
    }
}

void DatagramRelay::resolved(const RelayDestination& destination, const QHostInfo& info)
{
    const QList<QHostAddress> addresses = info.addresses();
    if (addresses.isEmpty()) {
        report(destination.text(), tr("RelayTo %1: the name does not resolve (%2); nothing is relayed there")
                                       .arg(destination.text(), info.errorString()));
        return;
    }
    // Programs on the station mostly listen on IPv4 alone.
    const auto ipv4 = std::find_if(addresses.begin(), addresses.end(), [](const QHostAddress& address) {
        return address.protocol() == QAbstractSocket::IPv4Protocol;
    });
    m_resolved << Resolved{destination, ipv4 != addresses.end() ? *ipv4 : addresses.first()};
    reopen();
}

void DatagramRelay::setOwnPort(quint16 port)
{
    if (port == m_ownPort)
        return;
    m_ownPort = port;
    reopen();
}

void DatagramRelay::reopen()
{
    closeAll();
    QStringList shown;
    for (const Resolved& resolved : std::as_const(m_resolved)) {
        const QString text = resolved.destination.text();
        if (resolved.destination.port == m_ownPort && isOwnAddress(resolved.address)) {
            report(text + QLatin1String("/own"),
                   tr("RelayTo %1 is Tarvex's own port on this machine; nothing is relayed there").arg(text));
            continue;
        }
        int error = 0;
        const int socket = openConnected(resolved.address, resolved.destination.port, error);
        if (socket < 0) {
            report(text + QLatin1Char('/') + QString::number(error),
                   tr("Relaying to %1 is not possible: %2").arg(text, systemError(error)));
            continue;
        }
        m_open << Open{text, socket};
        shown << text;
    }
    if (shown != m_shown)
        emit destinationsChanged(m_shown = shown);
}

void DatagramRelay::closeAll()
{
    for (const Open& destination : std::as_const(m_open))
        ::close(destination.socket);
    m_open.clear();
}

bool DatagramRelay::relay(const QByteArray& datagram)
{
    if (m_open.isEmpty())
        return true;
    const Clock::time_point now = Clock::now();
    while (!m_recent.empty() && now - m_recent.front().first >= LoopWindow) {
        const auto [at, hash] = m_recent.front();
        if (m_lastRelayed.value(hash) == at)
            m_lastRelayed.remove(hash);
        m_recent.pop_front();
    }
    const size_t hash = qHash(datagram, QHashSeed::globalSeed());
    if (m_lastRelayed.contains(hash)) {
        ++m_looped;
        return false;
    }
    for (const Open& destination : std::as_const(m_open))
        send(destination, datagram);
    m_recent.emplace_back(now, hash);
    m_lastRelayed.insert(hash, now);
    return true;
}

void DatagramRelay::send(const Open& destination, const QByteArray& datagram)
{
    // A refusal answers an earlier copy (the destination's ICMP message comes
    // back after the send); this copy has not gone yet, so it is sent once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (::send(destination.socket, datagram.constData(), size_t(datagram.size()),
                   MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
            ++m_relayed;
            return;
        }
        const int error = errno;
        ++m_failures;
        report(destination.text + QLatin1Char('/') + QString::number(error),
               tr("Relaying to %1 failed: %2; later failures there are only counted")
                   .arg(destination.text, systemError(error)));
        if (error != ECONNREFUSED)
            return;
    }
}

void DatagramRelay::report(const QString& key, const QString& text)
{
    const qsizetype before = m_reported.size();
    m_reported.insert(key);
    if (m_reported.size() != before)
        emit problem(text);
}
