#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSslConfiguration>
#include <QString>
#include <QTcpServer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

class QTcpSocket;

// The log service on loopback: a small HTTP/1.1 server that records every
// request and answers each path with a configured reply, or with a fault.
// "/realtime.php" and "/putlogs.php" answer 200 "OK" until told otherwise;
// every other path gets 404. It also takes requests as a proxy gets them
// (absolute URLs, CONNECT), and speaks TLS when told to.
class FakeCorvane final : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QString method;
        QString path;    // without the query, also of an absolute target
        QString target;  // as in the request line
        QByteArray head; // the request line and the header lines as they came, without the blank line
        QList<std::pair<QByteArray, QByteArray>> headers;
        QByteArray body;
        int connection = 0; // serial number of the TCP connection that carried it

        // Case-insensitive; empty when absent.
        QByteArray header(const QByteArray& name) const;
    };

    enum class Fault
    {
        None,
        CloseHalfway, // the status line, the headers and half the body, then the connection closes
        Garbage,      // 200 with `garbageBytes` bytes of noise instead of `body`
        NeverAnswer,
        Chunked,      // the body in chunked transfer coding
        NoLength,     // neither a length nor chunks: the body ends where the connection closes
        ResetHalfway, // the length announced, half the body, then the connection is reset
        NotHttp,      // `body` alone, without a status line
        Trickle,      // the head, then the body one byte every `delay`
    };

    struct Reply
    {
        int status = 200;
        QByteArray body = "OK";
        std::chrono::milliseconds delay{0};
        Fault fault = Fault::None;
        qint64 garbageBytes = 0;
        QList<std::pair<QByteArray, QByteArray>> headers{}; // sent after the usual ones
    };

    // One part of a multipart/form-data body.
    struct Part
    {
        QByteArray name;
        QByteArray filename;
        QByteArray data;
    };

    explicit FakeCorvane(QObject* parent = nullptr);
    ~FakeCorvane() override;

    // Later listen() calls serve TLS with this certificate and key (PEM files).
    bool useTls(const QString& certificateFile, const QString& keyFile);
    // On 127.0.0.1; port 0 lets the system pick.
    bool listen(quint16 port = 0);
    // Refuses new connections and drops the open ones, as a service that went away.
    void stopListening();
    QString errorString() const { return m_server ? m_server->errorString() : QString(); }
    quint16 port() const { return m_port; }
    QUrl baseUrl() const;

    void setReply(const QString& path, const Reply& reply);
    // Taken one per request in this order; the last one repeats.
    void setReplies(const QString& path, const QList<Reply>& replies);
    // Asked first for every request: a reply of its own, or none for the usual one.
    void setResponder(std::function<std::optional<Reply>(const Request&)> responder)
    {
        m_responder = std::move(responder);
    }

    const QList<Request>& requests() const { return m_requests; }
    // Received and not yet answered, now and at the most.
    int openRequests() const { return m_open; }
    int maxOpenRequests() const { return m_maxOpen; }

    // application/x-www-form-urlencoded fields, decoded; the last of equal names wins.
    static QMap<QString, QString> formFields(const QByteArray& body);
    // The parts of a multipart/form-data body; empty when it is not well-formed.
    static QList<Part> multipartParts(const QByteArray& body, const QByteArray& contentType);

signals:
    void requestReceived(const FakeCorvane::Request& request);

private:
    struct Connection
    {
        int id = 0;
        QByteArray buffer;
        bool answering = false; // later requests on this connection wait for the answer
        bool waiting = false;   // the current request has had no answer yet
        bool closeAfter = false;
        qint64 garbageLeft = 0;
    };

    void accept();
    void readRequests(QTcpSocket* socket);
    void refuse(QTcpSocket* socket);
    void answer(QTcpSocket* socket, const Reply& reply);
    void feedGarbage(QTcpSocket* socket);
    void finishAnswer(QTcpSocket* socket);
    void drop(QTcpSocket* socket);
    Reply nextReply(const QString& path);

    std::unique_ptr<QTcpServer> m_server;
    QSslConfiguration m_tls;
    quint16 m_port = 0;
    QHash<QString, QList<Reply>> m_replies;
    std::map<QTcpSocket*, Connection> m_connections;
    QList<Request> m_requests;
    std::function<std::optional<Reply>(const Request&)> m_responder;
    int m_connectionCount = 0;
    int m_open = 0;
    int m_maxOpen = 0;
};
