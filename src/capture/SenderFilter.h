#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QStringList>

// Who may send datagrams to the capture port: anyone else who reaches it
// could have contacts uploaded under the user's login.
class SenderFilter final
{
public:
    using Network = QPair<QHostAddress, int>;

    // The filter an AllowedSenders setting names: comma-separated addresses
    // and networks (address/prefix length), IPv4 or IPv6, or "any". Each
    // unusable entry is skipped and named in `problems`. With no usable entry
    // the station's own networks are allowed: loopback, `ownNetworks`,
    // private, link-local, shared (overlay VPNs) and AMPRNet addresses.
    static SenderFilter fromSetting(const QString& setting, const QList<Network>& ownNetworks,
                                    QStringList* problems = nullptr);
    // The subnets the machine's interfaces are on.
    static QList<Network> interfaceNetworks();

    bool admits(const QHostAddress& sender) const;

    // An IPv4 sender seen on a dual-stack socket (::ffff:a.b.c.d) as IPv4.
    static QHostAddress plain(const QHostAddress& address);
    // The AllowedSenders entry that would admit `sender`.
    static QString entryFor(const QHostAddress& sender);

private:
    SenderFilter() = default;

    QList<Network> m_networks;
};
