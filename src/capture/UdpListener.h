#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;
class QUdpSocket;

// True when the text is a number (a point for decimals, blanks around it
// allowed) that names a usable port: once rounded, from 1 to 65534.
bool IsValidPort(const QString& text);

// The port a valid text names: the number rounded to the nearest whole
// number, a half to the even neighbour. Call only after IsValidPort.
quint16 portFromText(const QString& text);

// The one UDP socket on which contact datagrams arrive. It only ever binds
// and receives; every datagram is handed on whole, one signal per datagram,
// in arrival order, those received before a rebinding included.
class UdpListener final : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxDatagramSize = 65536;
    // Several stations logging at once send bursts; a large kernel buffer
    // keeps them until the event loop gets to them. The system may grant
    // less (Linux caps it at net.core.rmem_max).
    static constexpr int ReceiveBufferSize = 4 << 20;

    explicit UdpListener(QObject* parent = nullptr);
    ~UdpListener() override;

    // Closes any earlier binding, then binds `port` on all local addresses,
    // not shared with other programs. Returns the platform's description of
    // the failure, or the empty text when bound; a failed bind leaves the
    // listener closed.
    QString bind(qint64 port);
    void close();

    bool isBound() const;
    quint16 boundPort() const;

signals:
    void datagramReceived(const QByteArray& datagram);

private:
    void readPending();
    void handleQueued();

    QUdpSocket* m_socket = nullptr;
    QTimer* m_handler = nullptr;
    QByteArray m_buffer;
    QList<QByteArray> m_queue;
    qsizetype m_queuedBytes = 0;
};
