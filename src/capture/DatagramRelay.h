#pragma once

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QSet>
#include <QStringList>

#include <chrono>
#include <deque>

class QHostInfo;

// One RelayTo entry: a host name or address, and a port.
struct RelayDestination
{
    QString host;
    quint16 port = 0;

    QString text() const; // as the setting writes it: host:port, [IPv6 address]:port
    bool operator==(const RelayDestination&) const = default;
};

// The destinations a RelayTo setting names, comma-separated; each unusable
// entry is skipped and named in `problems`.
QList<RelayDestination> parseRelayTo(const QString& setting, QStringList* problems = nullptr);

// Hands every datagram read on to other programs on the station, which
// cannot hold the logger's port themselves. Each destination has a connected
// socket of its own, so its ICMP answers show up as errors on later sends;
// sends never block, and a copy that cannot go is counted, never retried.
// Lives on the capture thread.
class DatagramRelay final : public QObject
{
    Q_OBJECT

public:
    // A datagram that comes back this soon went round a loop.
    static constexpr std::chrono::milliseconds LoopWindow{1000};

    explicit DatagramRelay(QObject* parent = nullptr);
    ~DatagramRelay() override;

    // Replaces the destinations; names are resolved without waiting.
    void setDestinations(const QList<RelayDestination>& destinations);
    // The port Tarvex listens on, which no destination on this machine may name.
    void setOwnPort(quint16 port);

    // Sends the datagram to every destination, unless it is identical to one
    // relayed within the loop window: then it returns false, and the datagram
    // is to be neither relayed nor read.
    bool relay(const QByteArray& datagram);

    quint64 relayed() const { return m_relayed; }
    quint64 failures() const { return m_failures; }
    quint64 looped() const { return m_looped; }

signals:
    void destinationsChanged(const QStringList& destinations);
    // Once per destination and kind of trouble.
    void problem(const QString& text);

private:
    struct Resolved
    {
        RelayDestination destination;
        QHostAddress address;
    };
    struct Open
    {
        QString text;
        int socket = -1;
    };
    using Clock = std::chrono::steady_clock;

    void resolved(const RelayDestination& destination, const QHostInfo& info);
    void reopen();
    void closeAll();
    void send(const Open& destination, const QByteArray& datagram);
    void report(const QString& key, const QString& text);

    quint64 m_generation = 0;
    quint16 m_ownPort = 0;
    QList<Resolved> m_resolved;
    QList<Open> m_open;
    QStringList m_shown;
    QSet<QString> m_reported;
    std::deque<std::pair<Clock::time_point, size_t>> m_recent;
    QHash<size_t, Clock::time_point> m_lastRelayed;
    quint64 m_relayed = 0;
    quint64 m_failures = 0;
    quint64 m_looped = 0;
};
