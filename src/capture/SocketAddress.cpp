#include "capture/SocketAddress.h"

#include <QNetworkInterface>

#include <cstring>
#include <netinet/in.h>

socklen_t toSocketAddress(const QHostAddress& address, quint16 port, sockaddr_storage& storage)
{
    storage = {};
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto& ipv4 = reinterpret_cast<sockaddr_in&>(storage);
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        ipv4.sin_addr.s_addr = htonl(address.toIPv4Address());
        return sizeof ipv4;
    }
    auto& ipv6 = reinterpret_cast<sockaddr_in6&>(storage);
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(port);
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    std::memcpy(&ipv6.sin6_addr, &bytes, sizeof bytes);
    if (!address.scopeId().isEmpty())
        ipv6.sin6_scope_id = QNetworkInterface::interfaceIndexFromName(address.scopeId());
    return sizeof ipv6;
}

QHostAddress fromSocketAddress(const sockaddr_storage& storage, quint16& port)
{
    const bool ipv6 = storage.ss_family == AF_INET6;
    port = ntohs(ipv6 ? reinterpret_cast<const sockaddr_in6&>(storage).sin6_port
                      : reinterpret_cast<const sockaddr_in&>(storage).sin_port);
    return QHostAddress(reinterpret_cast<const sockaddr*>(&storage));
}
