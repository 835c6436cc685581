#include "upload/HttpFileUpload.h"

#include "logs/LogFile.h"
#include "logs/LogText.h"
#include "upload/HttpClient.h"
#include "upload/HttpTexts.h"
#include "upload/ServiceAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
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

QByteArray multipartFormData(const QList<FormPart>& parts, const QByteArray& boundary)
{
    QByteArray body;
    for (const FormPart& part : parts) {
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=" + quotedName(part.name);
        if (!part.fileName.isEmpty())
            body += "; filename=" + quotedName(part.fileName) + "\r\nContent-Type: " + FileContentType;
        body += "\r\n\r\n" + part.data + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

HttpFileUpload::HttpFileUpload(HttpClient& http, QString logDirectory, QObject* parent)
    : QObject(parent), m_http(http), m_logDirectory(std::move(logDirectory)),
      m_statusText(QStringLiteral("Not started"))
{
}

HttpFileUpload::~HttpFileUpload()
{
    // A dropped upload ends without finished().
    if (m_request)
        m_http.abort(m_request);
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
    QList<FormPart> parts;
    for (const Field& field : std::as_const(m_fields))
        parts.append({field.name, field.value.toUtf8(), {}});
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
        parts.append({m_fileField, m_snapshot, QFileInfo(m_filePath).fileName()});
    }
    // As QHttpMultiPart made them: 24 random bytes in Base64 behind a fixed prefix.
    quint32 random[6];
    QRandomGenerator::global()->fillRange(random);
    m_boundary =
        "boundary_.oOo._" + QByteArray(reinterpret_cast<const char*>(random), sizeof random).toBase64();

    HttpRequest request;
    request.url = target;
    request.headers = {"Content-Type: multipart/form-data; boundary=\"" + m_boundary + '"',
                       "MIME-Version: 1.0"};
    request.body = multipartFormData(parts, m_boundary);
    request.stallTimeout = m_timeout;
    request.bodyLimit = ResponseLimit;
    request.peer = QStringLiteral("the server");
    m_request = m_http.start(
        request, [this](const HttpResult& result) { complete(result); },
        [this](qint64 sent, qint64 total) { onUploadProgress(sent, total); });
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
    const int before = Percent();
    const bool first = m_total == 0;
    m_sent = sent;
    m_total = total;
    // One step per per cent is all a status line can show.
    if (first || Percent() != before || sent == total)
        emit progress(sent, total);
}

void HttpFileUpload::complete(const HttpResult& result)
{
    m_request = 0;
    m_statusCode = result.status;
    m_reasonPhrase = result.reasonPhrase;
    m_replyHeaders = result.headers;
    m_response = result.body;
    m_completed = result.whole;
    m_statusText =
        m_completed
            ? QStringLiteral("HTTP status %1 %2").arg(m_statusCode).arg(QString::fromLatin1(m_reasonPhrase))
            : result.failureText;
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
