#pragma once

#include "upload/HttpReply.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>

class QTcpSocket;

// One connection to the log service for POST requests, one at a time, kept
// open between them while the server allows, so a contact does not pay a new
// TCP (and TLS) handshake. Ours rather than QNetworkAccessManager's because a
// reply cut short must never pass for a whole one.
class HttpConnection final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::seconds IdleTimeout{30};

    explicit HttpConnection(QObject* parent = nullptr);
    ~HttpConnection() override;

    // Header lines go out exactly as given; Host, Content-Length, User-Agent
    // and Connection are added. https verifies against the system CAs and
    // never ignores a TLS error. The time-out counts from here to the reply
    // being whole. finished() follows exactly once, never from inside post().
    void post(const QUrl& url, const QList<QByteArray>& headerLines, const QByteArray& body,
              std::chrono::milliseconds timeout);
    // Drops the request under way and the connection, without finished().
    void abort();
    bool isBusy() const { return m_busy; }

signals:
    void finished(const HttpReply& reply);

private:
    enum class Phase
    {
        Connecting,
        Securing,
        Open
    };

    struct Endpoint
    {
        QString scheme;
        QString host;
        int port = 0;
        bool operator==(const Endpoint&) const = default;
    };

    void open();
    void send();
    void readReply();
    void onSocketEnded();
    void finishFromReader();
    void fail(HttpReply::Failure failure, const QString& text);
    void complete(HttpReply reply);
    void dropConnection();

    QTcpSocket* m_socket = nullptr;
    Endpoint m_endpoint;
    Phase m_phase = Phase::Connecting;
    QByteArray m_request;
    HttpReplyReader m_reader;
    std::chrono::milliseconds m_timeout{0};
    QTimer m_requestTimer;
    QTimer m_idleTimer;
    quint64 m_serial = 0; // tells a finished() queued for an aborted request
    bool m_busy = false;
    bool m_waiting = false; // the reply to the request under way is not yet whole
    bool m_reused = false;  // this attempt runs on a connection kept from an earlier request
};
