#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <utility>

struct HttpRequest
{
    QUrl url;
    bool post = true; // else GET
    // Sent as given, in this order, right after Host; Content-Length (for a
    // POST), User-Agent and Connection follow.
    QList<QByteArray> headers;
    QByteArray body;
    std::chrono::milliseconds timeout{0};             // the whole exchange; 0: none
    std::chrono::milliseconds stallTimeout{0};        // ends it when no byte moves for this long; 0: none
    qsizetype bodyLimit = 1024;                       // reply bytes kept; the rest is read and dropped
    QString peer = QStringLiteral("the log service"); // who failed, in failure texts
};

struct HttpResult
{
    enum class Failure
    {
        None,
        Connect,
        Tls,
        Timeout,
        Cut,
        Other
    };

    Failure failure = Failure::None;
    QString failureText; // one line for status lines and the error log; empty when None
    int status = 0;      // 0 when no status line arrived
    QByteArray reasonPhrase;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;               // at most bodyLimit bytes
    bool whole = false;            // status line, headers and the body up to its announced end all arrived
    bool plainHttpOverTls = false; // https was asked and the server answered in plain HTTP

    // Case-insensitive, first match, trimmed; empty when absent.
    QByteArray header(const QByteArray& name) const;
};

// Speaks HTTP/1.1 for one thread through libcurl, whose connection cache keeps
// connections open between requests. Never blocks: libcurl's sockets and its
// one timer are watched by the event loop, and nothing runs while no transfer
// does. https verifies the certificate and the host name, and proxies come
// from the environment as for every other program. Redirects are never
// followed, so credentials never reach another host.
class HttpClient final : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(const HttpResult&)>;
    using Progress = std::function<void(qint64 sent, qint64 total)>;

    explicit HttpClient(QObject* parent = nullptr);
    // Aborts what runs, without callbacks.
    ~HttpClient() override;

    // `done` runs exactly once, from the event loop, never inside start().
    // `progress` follows the request body going out.
    quint64 start(const HttpRequest& request, Done done, Progress progress = {});
    // No callback follows.
    void abort(quint64 id);
    // Trusts this CA bundle instead of the system's.
    void setCaFile(const QString& path) { m_caFile = path; }

private:
    struct Transfer;
    struct Watch;

    // libcurl's handles are void pointers, which keeps its header out of ours.
    static int watchSocket(void* easy, int socket, int what, void* client, void* watch);
    static int setTimer(void* multi, long milliseconds, void* client);
    void act(int socket, int events);
    bool drive(int socket, int events);
    void report();
    void finish(quint64 id, int code);
    std::unique_ptr<Transfer> take(quint64 id);

    void* m_multi = nullptr;
    QTimer m_timer;
    std::map<quint64, std::unique_ptr<Transfer>> m_transfers;
    quint64 m_lastId = 0;
    QString m_caFile;
};
