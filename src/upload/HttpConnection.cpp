#include "upload/HttpConnection.h"

#include "upload/HttpTexts.h"

#include <QSslSocket>
#include <QTcpSocket>

#include <utility>

namespace {

// Bounds what Qt takes in ahead of us, so a flood sits in the server's buffers, not ours.
constexpr qint64 ReadBufferSize = 64 * 1024;

int defaultPort(const QString& scheme)
{
    return scheme == QLatin1String("https") ? 443 : 80;
}

QByteArray requestBytes(const QUrl& url, const QList<QByteArray>& headerLines, const QByteArray& body)
{
    QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (!target.startsWith('/'))
        target.prepend('/');
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    const int port = url.port();
    if (port != -1 && port != defaultPort(url.scheme().toLower()))
        host += ':' + QByteArray::number(port);

    QByteArray request = "POST " + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
    for (const QByteArray& line : headerLines)
        request += line + "\r\n";
    request += "Content-Length: " + QByteArray::number(body.size()) +
               "\r\nUser-Agent: " + HttpTexts::userAgent() + "\r\nConnection: keep-alive\r\n\r\n" + body;
    return request;
}

bool isTlsError(QAbstractSocket::SocketError error)
{
    return error == QAbstractSocket::SslHandshakeFailedError || error == QAbstractSocket::SslInternalError ||
           error == QAbstractSocket::SslInvalidUserDataError;
}

} // namespace

HttpConnection::HttpConnection(QObject* parent) : QObject(parent)
{
    m_requestTimer.setSingleShot(true);
    connect(&m_requestTimer, &QTimer::timeout, this, [this] {
        fail(HttpReply::Failure::Timeout,
             QStringLiteral("No answer from the log service within %1").arg(HttpTexts::duration(m_timeout)));
    });
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setTimerType(Qt::VeryCoarseTimer);
    m_idleTimer.setInterval(IdleTimeout);
    connect(&m_idleTimer, &QTimer::timeout, this, &HttpConnection::dropConnection);
}

HttpConnection::~HttpConnection()
{
    dropConnection();
}

void HttpConnection::post(const QUrl& url, const QList<QByteArray>& headerLines, const QByteArray& body,
                          std::chrono::milliseconds timeout)
{
    Q_ASSERT_X(!m_busy, "HttpConnection::post", "one request at a time");
    if (m_busy)
        abort();
    m_busy = true;
    m_waiting = true;
    m_timeout = timeout;
    m_request = requestBytes(url, headerLines, body);
    m_requestTimer.start(timeout);

    const QString scheme = url.scheme().toLower();
    const Endpoint endpoint{scheme, url.host(), url.port(defaultPort(scheme))};
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        fail(HttpReply::Failure::Connect,
             QStringLiteral("Could not reach the log service: unsupported scheme \"%1\"").arg(url.scheme()));
        return;
    }
    if (m_socket && m_endpoint == endpoint && m_phase == Phase::Open &&
        m_socket->state() == QAbstractSocket::ConnectedState) {
        m_idleTimer.stop();
        m_reused = true;
        m_reader = HttpReplyReader();
        send();
        return;
    }
    dropConnection();
    m_endpoint = endpoint;
    open();
}

void HttpConnection::abort()
{
    ++m_serial;
    m_busy = false;
    m_waiting = false;
    m_request.clear();
    m_requestTimer.stop();
    dropConnection();
}

void HttpConnection::open()
{
    m_reused = false;
    m_phase = Phase::Connecting;
    m_reader = HttpReplyReader();
    const bool secure = m_endpoint.scheme == QLatin1String("https");
    if (secure && !QSslSocket::supportsSsl()) {
        fail(HttpReply::Failure::Tls,
             QStringLiteral(
                 "Secure connection to the log service failed: TLS is not available on this system"));
        return;
    }

    QTcpSocket* socket = secure ? new QSslSocket(this) : new QTcpSocket(this);
    m_socket = socket;
    socket->setReadBufferSize(ReadBufferSize);
    connect(socket, &QTcpSocket::connected, this, [this, secure] {
        m_phase = secure ? Phase::Securing : Phase::Open;
        if (!secure)
            send();
    });
    if (auto* ssl = qobject_cast<QSslSocket*>(socket)) {
        connect(ssl, &QSslSocket::encrypted, this, [this] {
            m_phase = Phase::Open;
            send();
        });
    }
    connect(socket, &QTcpSocket::readyRead, this, &HttpConnection::readReply);
    connect(socket, &QTcpSocket::errorOccurred, this, &HttpConnection::onSocketEnded);
    connect(socket, &QTcpSocket::disconnected, this, &HttpConnection::onSocketEnded);

    // Last: Qt may report a refused connection before these return.
    if (auto* ssl = qobject_cast<QSslSocket*>(socket))
        ssl->connectToHostEncrypted(m_endpoint.host, static_cast<quint16>(m_endpoint.port));
    else
        socket->connectToHost(m_endpoint.host, static_cast<quint16>(m_endpoint.port));
}

void HttpConnection::send()
{
    if (m_waiting)
        m_socket->write(m_request);
}

void HttpConnection::readReply()
{
    if (!m_waiting) {
        // Nothing may arrive on an idle connection: it is out of step.
        dropConnection();
        return;
    }
    while (m_waiting && m_socket->bytesAvailable() > 0) {
        if (m_reader.feed(m_socket->read(ReadBufferSize)))
            finishFromReader();
    }
}

void HttpConnection::onSocketEnded()
{
    if (!m_waiting) {
        dropConnection();
        return;
    }
    // What arrived before the end still counts.
    readReply();
    if (!m_waiting)
        return;

    const QString reason = m_socket->errorString();
    if (m_phase == Phase::Securing || isTlsError(m_socket->error())) {
        fail(HttpReply::Failure::Tls,
             QStringLiteral("Secure connection to the log service failed: ") + reason);
    } else if (m_phase == Phase::Connecting) {
        fail(HttpReply::Failure::Connect, QStringLiteral("Could not reach the log service: ") + reason);
    } else if (m_reused && !m_reader.anyBytes()) {
        // The server closed the idle connection, maybe just as we wrote: the
        // request never reached it, so it goes once more on a fresh one.
        dropConnection();
        open();
    } else {
        m_reader.endOfStream();
        finishFromReader();
    }
}

void HttpConnection::finishFromReader()
{
    const bool keep = m_reader.connectionReusable() && m_socket->state() == QAbstractSocket::ConnectedState &&
                      m_socket->bytesAvailable() == 0;
    if (keep)
        m_idleTimer.start();
    else
        dropConnection();
    complete(m_reader.reply());
}

void HttpConnection::fail(HttpReply::Failure failure, const QString& text)
{
    HttpReply reply = m_reader.reply();
    reply.failure = failure;
    reply.failureText = text;
    reply.whole = false;
    dropConnection();
    complete(std::move(reply));
}

void HttpConnection::complete(HttpReply reply)
{
    m_waiting = false;
    m_request.clear(); // it carries the password
    m_requestTimer.stop();
    // Always from the event loop: the caller may be inside post(), and a slot
    // may post again or delete us, which must not happen under a socket's signal.
    QMetaObject::invokeMethod(
        this,
        [this, serial = m_serial, reply = std::move(reply)] {
            if (serial != m_serial)
                return;
            m_busy = false;
            emit finished(reply);
        },
        Qt::QueuedConnection);
}

void HttpConnection::dropConnection()
{
    m_idleTimer.stop();
    if (QTcpSocket* socket = std::exchange(m_socket, nullptr)) {
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
}
