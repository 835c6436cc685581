#pragma once

#include "capture/ContactConverter.h"
#include "capture/DatagramRelay.h"
#include "capture/SenderFilter.h"
#include "logs/DebugTrace.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <chrono>

class DiskKeeper;
class Outbox;
class QSocketNotifier;
class QTimer;

// True when the text is a number (a point for decimals, blanks around it
// allowed) that names a usable port: once rounded, from 1 to 65534.
bool IsValidPort(const QString& text);

// The port a valid text names: the number rounded to the nearest whole
// number, a half to the even neighbour; 0 when the text names none.
quint16 portFromText(const QString& text);

struct CapturedContact
{
    QString datagram; // the text as received
    DatagramKind kind = DatagramKind::NoContact;
    QString record;  // the ADIF record of a Contact
    quint64 key = 0; // its outbox key; 0 when it was not added (automatic upload off)
    QString problem; // the parser's reason for an Unreadable or OtherDocument datagram
};

struct CaptureBatch
{
    QList<CapturedContact> contacts;
    QString outboxError; // why the batch's contacts are held in memory instead of the outbox
};
Q_DECLARE_METATYPE(CaptureBatch)

// Running totals since the capture began.
struct CaptureCounts
{
    quint64 kernelDrops = 0;   // datagrams the system dropped because the receive buffer was full
    quint64 refused = 0;       // datagrams from senders not allowed, never read
    quint64 looped = 0;        // datagrams identical to one relayed within the loop window, never read
    quint64 relayed = 0;       // copies handed to the system for the relay destinations
    quint64 relayFailures = 0; // copies that could not be sent or were refused there

    bool operator==(const CaptureCounts&) const = default;
};
Q_DECLARE_METATYPE(CaptureCounts)

// Reads contact datagrams on a thread of its own, so a busy window (a
// layout, a dialog, a slow disk) never leaves them to overflow the system's
// buffer. A datagram from an allowed sender is relayed as it is read, then
// converted, and every contact appended to the outbox before it is handed
// on; the window only shows and uploads. The socket is our own, so the
// system's count of datagrams it dropped comes with the datagrams.
// Lives on its capture thread: call bind() and drain() there (queued).
class ContactCapture final : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxDatagramSize = 65536;
    // Several stations logging at once send bursts; a large kernel buffer
    // keeps them until the thread gets to them. The system may grant less
    // (Linux caps it at net.core.rmem_max).
    static constexpr int DefaultReceiveBuffer = 4 << 20;
    static constexpr std::chrono::milliseconds DefaultRebindInterval{5000};

    ContactCapture(Outbox& outbox, DiskKeeper* keeper, const DebugTrace& trace, QObject* parent = nullptr);
    ~ContactCapture() override;

    // Any thread. New contacts are shown but not added while this is off.
    void setAutoUpload(bool on) { m_autoUpload = on; }
    // Before the first bind.
    void setReceiveBufferSize(int bytes) { m_receiveBuffer = bytes; }
    void setRebindInterval(std::chrono::milliseconds interval);
    // Any thread: who may send (the station's networks until this is called),
    // and where every datagram from them is relayed.
    void setSenders(const SenderFilter& senders);
    void setRelay(const QList<RelayDestination>& destinations);

    // Listens on `port` (all local addresses, not shared with other
    // programs), replacing any earlier binding; while that fails it tries
    // again every rebind interval.
    void bind(quint16 port);
    // Closing: everything already read or still waiting on the socket goes
    // into the outbox, which is synced; then the socket closes.
    void drain();

signals:
    void captured(const CaptureBatch& batch);
    void listening(quint16 port);
    void notListening(quint16 port, const QString& reason);
    // The first datagram from a sender that is not allowed; later ones are
    // only counted. `admittingEntry` is what AllowedSenders would need.
    void senderRefused(const QString& address, quint16 port, const QString& admittingEntry);
    // After a read pass that changed them.
    void counted(const CaptureCounts& counts);
    void relayChanged(const QStringList& destinations);
    void relayProblem(const QString& text);

private:
    void tryBind();
    void closeSocket();
    void readPending();
    bool receive();
    void refuse(const QHostAddress& sender, quint16 port);
    void handle(qsizetype count);
    CaptureCounts counts() const;

    Outbox& m_outbox;
    DiskKeeper* m_keeper;
    DebugTrace m_trace;
    std::atomic<bool> m_autoUpload = true;
    int m_receiveBuffer = DefaultReceiveBuffer;
    quint16 m_wantedPort = 0;
    int m_socket = -1;
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_rebind = nullptr;
    DatagramRelay* m_relay = nullptr;
    SenderFilter m_senders;
    QSet<QHostAddress> m_refusedSenders;
    quint64 m_refused = 0;
    quint64 m_earlierDrops = 0; // on sockets closed since
    quint32 m_socketDrops = 0;  // the system's count for the socket open now
    CaptureCounts m_reportedCounts;
    QByteArray m_buffer;
    QList<QByteArray> m_queue;
};
