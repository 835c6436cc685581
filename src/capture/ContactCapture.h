#pragma once

#include "capture/ContactConverter.h"
#include "logs/DebugTrace.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>

class DiskKeeper;
class Outbox;
class QTimer;
class QUdpSocket;

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
    QString record;   // the ADIF record of a Contact
    quint64 key = 0;  // its outbox key; 0 when it was not added (automatic upload off)
    QString problem;  // the parser's reason for an Unreadable or OtherDocument datagram
};

struct CaptureBatch
{
    QList<CapturedContact> contacts;
    QString outboxError; // why the batch's contacts are held in memory instead of the outbox
};
Q_DECLARE_METATYPE(CaptureBatch)

// Reads contact datagrams on a thread of its own, so a busy window (a
// layout, a dialog, a slow disk) never leaves them to overflow the system's
// buffer. Every datagram is converted at once and every contact appended to
// the outbox before it is handed on; the window only shows and uploads.
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

private:
    void tryBind();
    void closeSocket();
    void readPending();
    void handle(qsizetype count);

    Outbox& m_outbox;
    DiskKeeper* m_keeper;
    DebugTrace m_trace;
    std::atomic<bool> m_autoUpload = true;
    int m_receiveBuffer = DefaultReceiveBuffer;
    quint16 m_wantedPort = 0;
    QUdpSocket* m_socket = nullptr;
    QTimer* m_rebind = nullptr;
    QByteArray m_buffer;
    QList<QByteArray> m_queue;
};
