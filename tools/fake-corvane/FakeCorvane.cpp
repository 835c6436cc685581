#include "FakeCorvane.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSslKey>
#include <QSslServer>
#include <QTcpSocket>
#include <QTimer>

#include <cctype>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#endif

namespace {

constexpr qint64 GarbageChunk = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    static const QHash<int, QByteArray> phrases{{200, "OK"},           {301, "Moved Permanently"},
                                                {302, "Found"},        {400, "Bad Request"},
                                                {401, "Unauthorized"}, {403, "Forbidden"},
                                                {404, "Not Found"},    {500, "Internal Server Error"},
                                                {502, "Bad Gateway"},  {503, "Service Unavailable"}};
    return phrases.value(status, "Status");
}

// `framing` is the Content-Length or Transfer-Encoding line; without one the
// body ends where the connection does.
QByteArray head(int status, const QByteArray& framing, bool close,
                const QList<std::pair<QByteArray, QByteArray>>& extra = {})
{
    QByteArray text = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
                      "\r\nContent-Type: text/plain; charset=utf-8\r\n";
    if (!framing.isEmpty())
        text += framing + "\r\n";
    text += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    for (const auto& [name, value] : extra)
        text += name + ": " + value + "\r\n";
    return text + "\r\n";
}

QByteArray contentLength(qint64 length)
{
    return "Content-Length: " + QByteArray::number(length);
}

QByteArray chunk(const QByteArray& data)
{
    return data.isEmpty() ? QByteArray() : QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n";
}

// A linger time of zero makes closing send a reset. Elsewhere it stays an
// orderly close, which Qt reports to the client just the same.
void reset(QTcpSocket* socket)
{
    socket->flush();
#ifdef Q_OS_UNIX
    const linger now{1, 0};
    ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &now, sizeof now);
#endif
    socket->abort();
}

QList<std::pair<QByteArray, QByteArray>> headerLines(const QByteArray& block)
{
    QList<std::pair<QByteArray, QByteArray>> headers;
    for (const QByteArray& line : block.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return headers;
}

QByteArray findHeader(const QList<std::pair<QByteArray, QByteArray>>& headers, const QByteArray& name)
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

// A parameter of a header value such as `form-data; name="f"; filename="a.adi"`, quoted or not.
QByteArray headerParameter(const QByteArray& value, const QString& name)
{
    const QRegularExpression form(QStringLiteral(";\\s*%1=\"?([^\";]*)").arg(name),
                                  QRegularExpression::CaseInsensitiveOption);
    return form.match(QString::fromLatin1(value)).captured(1).trimmed().toLatin1();
}

} // namespace

QByteArray FakeCorvane::Request::header(const QByteArray& name) const
{
    return findHeader(headers, name);
}

FakeCorvane::FakeCorvane(QObject* parent) : QObject(parent)
{
    m_replies.insert(QStringLiteral("/realtime.php"), {Reply{}});
    m_replies.insert(QStringLiteral("/putlogs.php"), {Reply{}});
}

FakeCorvane::~FakeCorvane()
{
    stopListening();
}

bool FakeCorvane::useTls(const QString& certificateFile, const QString& keyFile)
{
    QFile key(keyFile);
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(certificateFile);
    if (chain.isEmpty() || !key.open(QIODevice::ReadOnly))
        return false;
    m_tls = QSslConfiguration::defaultConfiguration();
    m_tls.setLocalCertificateChain(chain);
    m_tls.setPrivateKey(QSslKey(&key, QSsl::Rsa));
    return !m_tls.privateKey().isNull();
}

bool FakeCorvane::listen(quint16 port)
{
    if (m_tls.localCertificate().isNull()) {
        m_server = std::make_unique<QTcpServer>();
    } else {
        auto server = std::make_unique<QSslServer>();
        server->setSslConfiguration(m_tls);
        m_server = std::move(server);
    }
    // Only once a TLS handshake is through.
    connect(m_server.get(), &QTcpServer::pendingConnectionAvailable, this, &FakeCorvane::accept);
    if (!m_server->listen(QHostAddress::LocalHost, port))
        return false;
    m_port = m_server->serverPort();
    return true;
}

void FakeCorvane::stopListening()
{
    if (m_server)
        m_server->close();
    while (!m_connections.empty()) {
        QTcpSocket* socket = m_connections.begin()->first;
        drop(socket);
        socket->abort();
    }
}

QUrl FakeCorvane::baseUrl() const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2")
                    .arg(m_tls.localCertificate().isNull() ? QStringLiteral("http") : QStringLiteral("https"))
                    .arg(m_port));
}

void FakeCorvane::setReply(const QString& path, const Reply& reply)
{
    m_replies.insert(path, {reply});
}

void FakeCorvane::setReplies(const QString& path, const QList<Reply>& replies)
{
    if (!replies.isEmpty())
        m_replies.insert(path, replies);
}

QMap<QString, QString> FakeCorvane::formFields(const QByteArray& body)
{
    QMap<QString, QString> fields;
    for (QByteArray pair : body.split('&')) {
        if (pair.isEmpty())
            continue;
        // "+" is a blank only where it stands; an encoded "%2B" stays a plus.
        pair.replace('+', ' ');
        const qsizetype equals = pair.indexOf('=');
        const QByteArray name = equals < 0 ? pair : pair.left(equals);
        const QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        fields.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return fields;
}

QList<FakeCorvane::Part> FakeCorvane::multipartParts(const QByteArray& body, const QByteArray& contentType)
{
    const QByteArray boundary = headerParameter(contentType, QStringLiteral("boundary"));
    if (boundary.isEmpty() || !contentType.trimmed().toLower().startsWith("multipart/"))
        return {};
    const QByteArray delimiter = "\r\n--" + boundary;

    // The first delimiter may open the body without the line break before it.
    qsizetype at = body.startsWith(delimiter.mid(2)) ? -2 : body.indexOf(delimiter);
    if (at == -1)
        return {};
    at += delimiter.size();

    QList<Part> parts;
    while (true) {
        if (body.mid(at, 2) == "--")
            return parts;
        if (body.mid(at, 2) != "\r\n")
            return {};
        const qsizetype headersEnd = body.indexOf("\r\n\r\n", at);
        if (headersEnd < 0)
            return {};
        const qsizetype dataStart = headersEnd + 4;
        const qsizetype dataEnd = body.indexOf(delimiter, dataStart);
        if (dataEnd < 0)
            return {};

        const QByteArray disposition =
            findHeader(headerLines(body.mid(at + 2, headersEnd - at - 2)), "Content-Disposition");
        parts.append({headerParameter(disposition, QStringLiteral("name")),
                      headerParameter(disposition, QStringLiteral("filename")),
                      body.mid(dataStart, dataEnd - dataStart)});
        at = dataEnd + delimiter.size();
    }
}

void FakeCorvane::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        m_connections[socket].id = ++m_connectionCount;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readRequests(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { feedGarbage(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });
    }
}

void FakeCorvane::readRequests(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection& connection = found->second;
    connection.buffer += socket->readAll();
    if (connection.answering)
        return;

    // A request starts with a method name; anything else (a TLS handshake) is
    // refused at once, as a plain server would.
    if (!connection.buffer.isEmpty() && !std::isupper(static_cast<unsigned char>(connection.buffer[0]))) {
        refuse(socket);
        return;
    }
    const qsizetype headersEnd = connection.buffer.indexOf("\r\n\r\n");
    if (headersEnd < 0)
        return;

    QByteArray block = connection.buffer.left(headersEnd);
    block.replace("\r\n", "\n");
    const qsizetype lineEnd = block.indexOf('\n');
    const QList<QByteArray> requestLine = block.left(lineEnd < 0 ? block.size() : lineEnd).split(' ');
    Request request;
    request.headers = lineEnd < 0 ? decltype(request.headers)() : headerLines(block.mid(lineEnd + 1));
    bool lengthOk = true;
    const QByteArray lengthText = request.header("Content-Length");
    const qint64 length = lengthText.isEmpty() ? 0 : lengthText.toLongLong(&lengthOk);
    if (requestLine.size() != 3 || !lengthOk || length < 0) {
        refuse(socket);
        return;
    }
    if (connection.buffer.size() < headersEnd + 4 + length)
        return;

    request.method = QString::fromLatin1(requestLine[0]);
    request.target = QString::fromLatin1(requestLine[1]);
    request.path = QUrl(request.target).path(QUrl::FullyEncoded);
    request.head = connection.buffer.left(headersEnd);
    request.body = connection.buffer.mid(headersEnd + 4, length);
    request.connection = connection.id;
    connection.buffer.remove(0, headersEnd + 4 + length);

    const QByteArray connectionHeader = request.header("Connection").toLower();
    connection.closeAfter = connectionHeader.contains("close") ||
                            (requestLine[2] == "HTTP/1.0" && !connectionHeader.contains("keep-alive"));
    connection.answering = true;
    connection.waiting = true;
    m_maxOpen = std::max(m_maxOpen, ++m_open);

    const std::optional<Reply> own = m_responder ? m_responder(request) : std::nullopt;
    const Reply reply = own ? *own : nextReply(request.path);
    m_requests.append(request);
    emit requestReceived(request);

    if (reply.fault == Fault::NeverAnswer)
        return;
    // The socket as context: a connection the client dropped gets no answer.
    QTimer::singleShot(reply.delay, socket, [this, socket, reply] { answer(socket, reply); });
}

void FakeCorvane::refuse(QTcpSocket* socket)
{
    Connection& connection = m_connections.at(socket);
    connection.answering = true;
    connection.buffer.clear();
    socket->write(head(400, contentLength(0), true));
    socket->disconnectFromHost();
}

void FakeCorvane::answer(QTcpSocket* socket, const Reply& reply)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection& connection = found->second;
    connection.waiting = false;
    --m_open;

    const QByteArray half = reply.body.left(reply.body.size() / 2);
    const QByteArray chunked = "Transfer-Encoding: chunked";
    switch (reply.fault) {
    case Fault::CloseHalfway:
        socket->write(head(reply.status, contentLength(reply.body.size()), false, reply.headers) + half);
        socket->disconnectFromHost();
        return;
    case Fault::ResetHalfway:
        socket->write(head(reply.status, contentLength(reply.body.size()), false, reply.headers) + half);
        drop(socket);
        reset(socket);
        return;
    case Fault::NotHttp:
        socket->write(reply.body);
        finishAnswer(socket);
        return;
    case Fault::Trickle: {
        socket->write(
            head(reply.status, contentLength(reply.body.size()), connection.closeAfter, reply.headers));
        auto* clock = new QTimer(socket);
        connect(clock, &QTimer::timeout, this, [this, socket, clock, rest = reply.body]() mutable {
            if (!m_connections.contains(socket))
                return;
            socket->write(rest.left(1));
            rest.remove(0, 1);
            if (rest.isEmpty()) {
                clock->deleteLater();
                finishAnswer(socket);
            }
        });
        clock->start(reply.delay);
        return;
    }
    case Fault::NoLength:
        socket->write(head(reply.status, {}, true, reply.headers) + reply.body);
        socket->disconnectFromHost();
        return;
    case Fault::Chunked:
        // Two chunks, so a reader that stops after the first is caught.
        socket->write(head(reply.status, chunked, connection.closeAfter, reply.headers) + chunk(half) +
                      chunk(reply.body.mid(half.size())) + "0\r\n\r\n");
        finishAnswer(socket);
        return;
    case Fault::Garbage:
        connection.garbageLeft = reply.garbageBytes;
        socket->write(head(200, contentLength(reply.garbageBytes), connection.closeAfter, reply.headers));
        feedGarbage(socket);
        return;
    case Fault::None:
    case Fault::NeverAnswer:
        break;
    }
    socket->write(head(reply.status, contentLength(reply.body.size()), connection.closeAfter, reply.headers) +
                  reply.body);
    finishAnswer(socket);
}

// Written a chunk at a time as the client takes it, so 10 MiB of noise never
// sits in memory on this side either.
void FakeCorvane::feedGarbage(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end() || found->second.garbageLeft == 0)
        return;
    Connection& connection = found->second;
    if (socket->bytesToWrite() >= GarbageChunk)
        return;
    static const QByteArray noise =
        QByteArray("#noise-without-any-accepting-word#").repeated(2000).left(GarbageChunk);
    const qint64 size = std::min(connection.garbageLeft, GarbageChunk);
    connection.garbageLeft -= size;
    socket->write(noise.left(size));
    if (connection.garbageLeft == 0)
        finishAnswer(socket);
}

void FakeCorvane::finishAnswer(QTcpSocket* socket)
{
    Connection& connection = m_connections.at(socket);
    if (connection.closeAfter) {
        socket->disconnectFromHost();
        return;
    }
    connection.answering = false;
    if (!connection.buffer.isEmpty())
        readRequests(socket);
}

void FakeCorvane::drop(QTcpSocket* socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    if (found->second.waiting)
        --m_open;
    m_connections.erase(found);
    socket->disconnect(this);
    socket->deleteLater();
}

FakeCorvane::Reply FakeCorvane::nextReply(const QString& path)
{
    const auto found = m_replies.find(path);
    if (found == m_replies.end())
        return Reply{404, "Not Found"};
    if (found->size() > 1)
        return found->takeFirst();
    return found->first();
}
