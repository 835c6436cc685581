#include "capture/SenderFilter.h"

#include <QNetworkInterface>

SenderFilter SenderFilter::fromSetting(const QString& setting, const QList<Network>& ownNetworks,
                                       QStringList* problems)
{
    SenderFilter filter;
    for (const QString& part : setting.split(QLatin1Char(','))) {
        const QString entry = part.trimmed();
        if (entry.isEmpty())
            continue;
        if (entry.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0) {
            filter.m_networks << Network(QHostAddress(QHostAddress::AnyIPv4), 0)
                              << Network(QHostAddress(QHostAddress::AnyIPv6), 0);
            continue;
        }
        const Network parsed = QHostAddress::parseSubnet(entry);
        // A bare address must be whole: a partial or cut one ("192.168.1") would be read as a /24.
        const bool partial =
            !entry.contains(QLatin1Char('/')) &&
            (QHostAddress(entry).isNull() || (parsed.first.protocol() == QAbstractSocket::IPv4Protocol &&
                                              entry.count(QLatin1Char('.')) != 3));
        if (parsed.first.isNull() || partial) {
            if (problems)
                *problems << QStringLiteral("The AllowedSenders entry \"%1\" is not an address or a network "
                                            "such as 192.168.1.0/24; it is skipped")
                                 .arg(entry);
            continue;
        }
        filter.m_networks << Network(plain(parsed.first), parsed.second);
    }
    if (!filter.m_networks.isEmpty())
        return filter;
    if (problems && !setting.trimmed().isEmpty())
        *problems << QStringLiteral(
            "AllowedSenders names no usable entry; the station's own networks may send");

    for (const char* network : {"127.0.0.0/8", "::1/128", "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
                                "169.254.0.0/16", "fc00::/7", "fe80::/10", "100.64.0.0/10", "44.0.0.0/8"})
        filter.m_networks << QHostAddress::parseSubnet(QLatin1String(network));
    filter.m_networks << ownNetworks;
    return filter;
}

QList<SenderFilter::Network> SenderFilter::interfaceNetworks()
{
    QList<Network> networks;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            networks << Network(plain(entry.ip()), entry.prefixLength());
    }
    return networks;
}

bool SenderFilter::admits(const QHostAddress& sender) const
{
    const QHostAddress address = plain(sender);
    for (const Network& network : m_networks) {
        if (address.isInSubnet(network))
            return true;
    }
    return false;
}

QHostAddress SenderFilter::plain(const QHostAddress& address)
{
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    // "::" converts too, and must stay IPv6: "::/0" is every IPv6 address.
    return mapped && address.protocol() == QAbstractSocket::IPv6Protocol && address != QHostAddress::AnyIPv6
               ? QHostAddress(ipv4)
               : address;
}

QString SenderFilter::entryFor(const QHostAddress& sender)
{
    QHostAddress address = plain(sender);
    address.setScopeId({});
    return address.toString();
}
