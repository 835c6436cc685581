#include "upload/HttpClient.h"

#include "upload/HttpTexts.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>

#include <curl/curl.h>

#include <cstring>

struct HttpClient::Transfer
{
    HttpRequest request;
    Done done;
    Progress progress;
    CURL* easy = nullptr;
    curl_slist* headers = nullptr;
    HttpResult result;
    char error[CURL_ERROR_SIZE] = {};
    curl_off_t sent = 0;
    curl_off_t total = 0;
    bool progressDue = false;
    bool ended = false;
    int code = CURLE_OK;
    curl_off_t moved = 0; // bytes both ways, for the stall watch
    QElapsedTimer sinceMove;
    QTimer stallTimer;

    ~Transfer()
    {
        curl_easy_cleanup(easy);
        curl_slist_free_all(headers);
    }
};

// libcurl asks to be told when one of its sockets can be read or written.
struct HttpClient::Watch
{
    Watch(HttpClient* client, int socket)
        : read(socket, QSocketNotifier::Read), write(socket, QSocketNotifier::Write)
    {
        QObject::connect(&read, &QSocketNotifier::activated, client,
                         [client, socket] { client->act(socket, CURL_CSELECT_IN); });
        QObject::connect(&write, &QSocketNotifier::activated, client,
                         [client, socket] { client->act(socket, CURL_CSELECT_OUT); });
    }
    QSocketNotifier read;
    QSocketNotifier write;
};

QByteArray HttpResult::header(const QByteArray& name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value.trimmed();
    }
    return {};
}

HttpClient::HttpClient(QObject* parent) : QObject(parent)
{
    [[maybe_unused]] static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &HttpClient::watchSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &HttpClient::setTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
}

HttpClient::~HttpClient()
{
    while (!m_transfers.empty())
        take(m_transfers.begin()->first);
    curl_multi_cleanup(m_multi);
}

quint64 HttpClient::start(const HttpRequest& request, Done done, Progress progress)
{
    const quint64 id = ++m_lastId;
    auto owned = std::make_unique<Transfer>();
    Transfer& t = *owned;
    t.request = request;
    t.done = std::move(done);
    t.progress = std::move(progress);
    t.easy = curl_easy_init();

    QList<QByteArray> lines = request.headers;
    if (request.post)
        lines << "Content-Length: " + QByteArray::number(request.body.size());
    // The empty values keep libcurl from adding lines of its own.
    lines += {"User-Agent: " + HttpTexts::userAgent(), "Connection: keep-alive", "Accept:", "Expect:"};
    for (const QByteArray& line : std::as_const(lines))
        t.headers = curl_slist_append(t.headers, line.constData());

    CURL* easy = t.easy;
    curl_easy_setopt(easy, CURLOPT_URL, request.url.toEncoded().constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headers);
    // A proxy's answer to CONNECT is not the reply.
    curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (request.post) {
        curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(request.body.size()));
        curl_easy_setopt(easy, CURLOPT_POSTFIELDS, t.request.body.constData());
    }
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(request.timeout.count()));
    if (!m_caFile.isEmpty()) {
        curl_easy_setopt(easy, CURLOPT_CAINFO, QFile::encodeName(m_caFile).constData());
        curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
    }
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.error);
    curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(
        easy, CURLOPT_HEADERFUNCTION, +[](char* data, size_t, size_t size, void* target) {
            HttpResult& result = static_cast<Transfer*>(target)->result;
            const QByteArray line(data, qsizetype(size));
            const qsizetype colon = line.indexOf(':');
            if (line.startsWith("HTTP/")) {
                // Each status line starts a reply; an interim 1xx is followed by the final one.
                const qsizetype blank = line.indexOf(' ');
                result.status = line.mid(blank + 1, 3).toInt();
                result.reasonPhrase = line.mid(blank + 5).trimmed();
                result.headers.clear();
            } else if (colon > 0) {
                result.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            return size;
        });
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(
        easy, CURLOPT_WRITEFUNCTION, +[](char* data, size_t, size_t size, void* target) {
            auto* transfer = static_cast<Transfer*>(target);
            QByteArray& body = transfer->result.body;
            body.append(data, std::min(qsizetype(size),
                                       std::max<qsizetype>(0, transfer->request.bodyLimit - body.size())));
            return size;
        });
    if (t.progress || request.stallTimeout.count() > 0) {
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
        curl_easy_setopt(
            easy, CURLOPT_XFERINFOFUNCTION,
            +[](void* target, curl_off_t, curl_off_t received, curl_off_t total, curl_off_t sent) {
                auto* transfer = static_cast<Transfer*>(target);
                if (received + sent != transfer->moved) {
                    transfer->moved = received + sent;
                    transfer->sinceMove.start();
                }
                if (total > 0 && (sent != transfer->sent || total != transfer->total)) {
                    transfer->sent = sent;
                    transfer->total = total;
                    transfer->progressDue = bool(transfer->progress);
                }
                return 0;
            });
    }
    if (request.stallTimeout.count() > 0) {
        t.sinceMove.start();
        t.stallTimer.setSingleShot(true);
        connect(&t.stallTimer, &QTimer::timeout, this, [this, id, &t] {
            // A transfer that keeps moving is never stopped, however slow.
            const auto quiet = std::chrono::milliseconds(t.sinceMove.elapsed());
            if (quiet < t.request.stallTimeout)
                t.stallTimer.start(t.request.stallTimeout - quiet);
            else // not from inside the timer's own signal: finishing deletes it
                QMetaObject::invokeMethod(
                    this, [this, id] { finish(id, CURLE_ABORTED_BY_CALLBACK); }, Qt::QueuedConnection);
        });
        t.stallTimer.start(request.stallTimeout);
    }
    m_transfers.emplace(id, std::move(owned));
    curl_multi_add_handle(m_multi, easy);
    // Sent now, not a turn of the event loop later; what ends is told from the event loop.
    if (drive(CURL_SOCKET_TIMEOUT, 0))
        QMetaObject::invokeMethod(this, &HttpClient::report, Qt::QueuedConnection);
    return id;
}

void HttpClient::abort(quint64 id)
{
    take(id);
}

std::unique_ptr<HttpClient::Transfer> HttpClient::take(quint64 id)
{
    const auto found = m_transfers.find(id);
    if (found == m_transfers.end())
        return {};
    std::unique_ptr<Transfer> transfer = std::move(found->second);
    m_transfers.erase(found);
    curl_multi_remove_handle(m_multi, transfer->easy);
    return transfer;
}

int HttpClient::watchSocket(void*, int socket, int what, void* client, void* watch)
{
    auto* self = static_cast<HttpClient*>(client);
    auto* sockets = static_cast<Watch*>(watch);
    if (what == CURL_POLL_REMOVE) {
        delete sockets;
        return 0;
    }
    if (!sockets) {
        sockets = new Watch(self, socket);
        curl_multi_assign(self->m_multi, socket, sockets);
    }
    sockets->read.setEnabled(what & CURL_POLL_IN);
    sockets->write.setEnabled(what & CURL_POLL_OUT);
    return 0;
}

int HttpClient::setTimer(void*, long milliseconds, void* client)
{
    auto* self = static_cast<HttpClient*>(client);
    if (milliseconds < 0)
        self->m_timer.stop();
    else
        self->m_timer.start(int(milliseconds));
    return 0;
}

void HttpClient::act(int socket, int events)
{
    drive(socket, events);
    report();
}

bool HttpClient::drive(int socket, int events)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, events, &running);
    bool ended = false;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &queued)) {
        Transfer* transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        if (message->msg == CURLMSG_DONE) {
            transfer->ended = ended = true;
            transfer->code = message->data.result;
        }
    }
    return ended;
}

void HttpClient::report()
{
    // Callers hear of progress and ends only here, outside libcurl, so they
    // may start or abort transfers from their callbacks.
    QList<quint64> due;
    for (const auto& [id, transfer] : m_transfers) {
        if (transfer->progressDue || transfer->ended)
            due.append(id);
    }
    const QPointer<HttpClient> alive(this);
    for (const quint64 id : std::as_const(due)) {
        auto found = m_transfers.find(id);
        if (found != m_transfers.end() && std::exchange(found->second->progressDue, false))
            found->second->progress(found->second->sent, found->second->total);
        if (!alive)
            return;
        found = m_transfers.find(id);
        if (found != m_transfers.end() && found->second->ended)
            finish(id, found->second->code);
        if (!alive)
            return;
    }
}

void HttpClient::finish(quint64 id, int code)
{
    const std::unique_ptr<Transfer> transfer = take(id);
    if (!transfer)
        return;
    HttpResult& result = transfer->result;
    const HttpRequest& request = transfer->request;
    const QString reason = QString::fromUtf8(transfer->error).simplified();
    long osError = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_OS_ERRNO, &osError);
    long proxyStatus = 0;
    curl_easy_getinfo(transfer->easy, CURLINFO_HTTP_CONNECTCODE, &proxyStatus);
    if (proxyStatus >= 300)
        code = CURLE_COULDNT_CONNECT;
    using Failure = HttpResult::Failure;
    switch (code) {
    case CURLE_OK:
        result.whole = result.status != 0;
        break;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        result.failure = Failure::Connect;
        result.failureText =
            QStringLiteral("Could not reach %1: %2")
                .arg(request.peer, osError ? QString::fromLocal8Bit(std::strerror(int(osError))) : reason);
        break;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        result.failure = Failure::Tls;
        result.failureText = QStringLiteral("Secure connection to %1 failed: %2").arg(request.peer, reason);
        result.plainHttpOverTls = reason.contains(QLatin1String("wrong version number"));
        break;
    case CURLE_OPERATION_TIMEDOUT:
        result.failure = Failure::Timeout;
        result.failureText = QStringLiteral("No answer from %1 within %2")
                                 .arg(request.peer, HttpTexts::duration(request.timeout));
        break;
    case CURLE_ABORTED_BY_CALLBACK: // our stall watch
        result.failure = Failure::Timeout;
        result.failureText = QStringLiteral("No progress with %1 for %2; the transfer was stopped")
                                 .arg(request.peer, HttpTexts::duration(request.stallTimeout));
        break;
    case CURLE_PARTIAL_FILE:
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        result.failure = Failure::Cut;
        result.failureText = request.peer.left(1).toUpper() + request.peer.mid(1) +
                             QStringLiteral(" closed the connection before the reply was complete");
        break;
    default:
        result.failure = Failure::Other;
        result.failureText =
            QStringLiteral("The exchange with %1 failed: %2")
                .arg(request.peer,
                     reason.isEmpty() ? QString::fromUtf8(curl_easy_strerror(CURLcode(code))) : reason);
    }
    transfer->done(result);
}
