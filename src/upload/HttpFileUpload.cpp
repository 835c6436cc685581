#include "upload/HttpFileUpload.h"

#include "logs/LogFile.h"
#include "logs/LogText.h"
#include "upload/HttpTexts.h"
#include "upload/ServiceAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStringDecoder>
#include <QTimer>

namespace {

const QByteArray FileContentType = QByteArrayLiteral("application/octet-stream");

// Quoted names in a Content-Disposition header, escaped as browsers do.
QByteArray quotedName(const QString& name)
{
    QByteArray bytes = name.toUtf8();
    bytes.replace('"', "%22").replace('\r', "%0D").replace('\n', "%0A");
    return '"' + bytes + '"';
}

} // namespace

HttpFileUpload::HttpFileUpload(QNetworkAccessManager* network, QString logDirectory, QObject* parent)
    : QObject(parent), m_network(network), m_logDirectory(std::move(logDirectory)),
      m_statusText(QStringLiteral("Not started"))
{
}

HttpFileUpload::~HttpFileUpload()
{
    if (m_reply) {
        // A dropped upload ends without finished(); the multipart goes with its reply.
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

QUrl HttpFileUpload::url() const
{
    return serviceUrl(m_host, m_path);
}

void HttpFileUpload::AddField(const QString& name, const QString& value)
{
    m_fields.append(Field{name, value});
}

void HttpFileUpload::AddFile(const QString& name, const QString& path)
{
    m_fileField = name;
    m_filePath = path;
}

int HttpFileUpload::Percent() const
{
    return m_total > 0 ? static_cast<int>(m_sent * 100 / m_total) : 0;
}

bool HttpFileUpload::Start()
{
    if (m_started) {
        m_statusText = QStringLiteral("The upload has already been started");
        return false;
    }
    m_started = true;

    const QUrl target = url();
    if (!target.isValid() || target.host().isEmpty()) {
        fail(QStringLiteral("No usable server address"));
        return false;
    }
    if (!m_filePath.isEmpty()) {
        QFile file(m_filePath);
        if (file.open(QIODevice::ReadOnly))
            m_snapshot = file.readAll();
        if (!file.isOpen() || file.error() != QFileDevice::NoError) {
            m_snapshot.clear();
            fail(QStringLiteral("Cannot read \"%1\": %2")
                     .arg(QDir::toNativeSeparators(m_filePath), file.errorString()));
            return false;
        }
    }

    auto* multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    for (const Field& field : std::as_const(m_fields)) {
        QHttpPart part;
        part.setRawHeader("Content-Disposition", "form-data; name=" + quotedName(field.name));
        part.setBody(field.value.toUtf8());
        multiPart->append(part);
    }
    if (!m_filePath.isEmpty()) {
        QHttpPart part;
        part.setRawHeader("Content-Disposition",
                          "form-data; name=" + quotedName(m_fileField) +
                              "; filename=" + quotedName(QFileInfo(m_filePath).fileName()));
        part.setRawHeader("Content-Type", FileContentType);
        part.setBody(m_snapshot);
        multiPart->append(part);
    }
    m_boundary = multiPart->boundary();

    QNetworkRequest request(target);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArray("multipart/form-data; boundary=\"" + m_boundary + '"'));
    request.setHeader(QNetworkRequest::UserAgentHeader, HttpTexts::userAgent());
    // A redirect would carry the credentials wherever it points; it counts as a refusal instead.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    // Qt would pass on a step only every 100 ms; a fast link would show none.
    request.setAttribute(QNetworkRequest::EmitAllUploadProgressSignalsAttribute, true);

    m_stallTimer = new QTimer(this);
    m_stallTimer->setSingleShot(true);
    connect(m_stallTimer, &QTimer::timeout, this, &HttpFileUpload::onTimeout);

    QNetworkReply* reply = m_network->post(request, multiPart);
    multiPart->setParent(reply);
    m_reply = reply;
    connect(reply, &QNetworkReply::uploadProgress, this, &HttpFileUpload::onUploadProgress);
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        m_stallTimer->start(m_timeout);
        takeResponse(*reply);
    });
    connect(reply, &QNetworkReply::finished, this, &HttpFileUpload::complete);
    m_stallTimer->start(m_timeout);

    m_busy = true;
    m_statusText = QStringLiteral("Uploading");
    return true;
}

void HttpFileUpload::fail(const QString& reason)
{
    m_statusText = reason;
    // Callers connect after Start(), so the end is announced from the event loop.
    QTimer::singleShot(0, this, [this] { emit finished(); });
}

void HttpFileUpload::onUploadProgress(qint64 sent, qint64 total)
{
    m_stallTimer->start(m_timeout);
    if (total <= 0)
        return;
    const int before = Percent();
    const bool first = m_total == 0;
    m_sent = sent;
    m_total = total;
    // One step per per cent is all a status line can show.
    if (first || Percent() != before || sent == total)
        emit progress(sent, total);
}

void HttpFileUpload::takeResponse(QNetworkReply& reply)
{
    const QByteArray bytes = reply.readAll();
    const qsizetype room = ResponseLimit - m_response.size();
    if (room > 0)
        m_response += bytes.left(room);
}

void HttpFileUpload::onTimeout()
{
    m_timedOut = true;
    if (m_reply && m_reply->isRunning())
        m_reply->abort(); // emits finished(), which completes the upload
}

void HttpFileUpload::complete()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    m_reply = nullptr;
    m_stallTimer->stop();
    if (reply->isOpen())
        takeResponse(*reply);
    reply->disconnect(this);
    reply->deleteLater();

    const QNetworkReply::NetworkError error = reply->error();
    m_statusCode = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_reasonPhrase = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    m_replyHeaders = reply->rawHeaderPairs();
    // Errors below the content range are about the connection: whatever
    // status arrived, the reply behind it did not arrive whole.
    const bool connectionFailed =
        error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
    m_completed = !m_timedOut && m_statusCode != 0 && !connectionFailed;

    if (m_timedOut)
        m_statusText =
            QStringLiteral("No progress for %1; the upload was stopped").arg(HttpTexts::duration(m_timeout));
    else if (error == QNetworkReply::RemoteHostClosedError)
        m_statusText = QStringLiteral("The server closed the connection before its reply was complete");
    else if (!m_completed)
        m_statusText =
            QStringLiteral("Could not reach the server: %1").arg(reply->errorString().simplified());
    else
        m_statusText =
            QStringLiteral("HTTP status %1 %2").arg(m_statusCode).arg(QString::fromLatin1(m_reasonPhrase));

    m_busy = false;
    emit finished();
}

bool HttpFileUpload::SaveLog(const QString& fileName) const
{
    return appendToFile(QDir(m_logDirectory).filePath(fileName), logRecord());
}

QByteArray HttpFileUpload::logRecord() const
{
    const QByteArray crlf(LineEnd);
    const QUrl target = url();
    QByteArray text = "---------- " + logTimestamp().toUtf8() + " - Upload of " +
                      QDir::toNativeSeparators(m_filePath).toUtf8() + crlf;

    QByteArray requestTarget = target.path(QUrl::FullyEncoded).toUtf8();
    if (requestTarget.isEmpty())
        requestTarget = "/";
    text += "POST " + requestTarget + " HTTP/1.1" + crlf;
    text += "Host: " + target.host().toUtf8() +
            (target.port() != -1 ? ':' + QByteArray::number(target.port()) : QByteArray()) + crlf;
    if (!m_boundary.isEmpty())
        text += "Content-Type: multipart/form-data; boundary=\"" + m_boundary + '"' + crlf;
    if (m_total > 0)
        text += "Content-Length: " + QByteArray::number(m_total) + crlf;
    text += "User-Agent: " + HttpTexts::userAgent() + crlf + crlf;

    QString password;
    for (const Field& field : m_fields) {
        const bool secret = field.name.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0;
        if (secret)
            password = field.value;
        text += field.name.toUtf8() + ": " + (secret ? QByteArray("********") : field.value.toUtf8()) + crlf;
    }
    if (!m_filePath.isEmpty()) {
        text += m_fileField.toUtf8() + ": " + QFileInfo(m_filePath).fileName().toUtf8() + " (" +
                QByteArray::number(m_snapshot.size()) + " bytes, " + FileContentType + ')' + crlf;
    }
    text += crlf;

    if (m_statusCode == 0) {
        text += "No reply: " + m_statusText.toUtf8() + crlf;
    } else {
        text += "HTTP/1.1 " + QByteArray::number(m_statusCode) + ' ' + m_reasonPhrase + crlf;
        for (const auto& [name, value] : m_replyHeaders)
            text += name + ": " + value + crlf;
        // The reply goes in as safe text: a service echoing the request would
        // otherwise put the password into the log.
        text += crlf + LogText::safeReply(m_response, password).toUtf8() + crlf;
    }
    return text + crlf;
}

QString HttpFileUpload::DecodeText(const QByteArray& bytes, const QString& charset)
{
    QStringDecoder decoder(charset.toLatin1().constData());
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}
