#include "upload/HttpFileUpload.h"

#include "logs/LogFile.h"
#include "logs/LogText.h"
#include "upload/HttpTexts.h"
#include "upload/ServiceAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
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
    m_fields.append({name, value.toUtf8(), {}});
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
    QList<FormPart> parts = m_fields;
    if (!m_filePath.isEmpty()) {
        QFile file(m_filePath);
        if (file.open(QIODevice::ReadOnly))
            m_snapshot = file.readAll();
        if (!file.isOpen() || file.error() != QFileDevice::NoError) {
            m_snapshot.clear();
            m_statusText = QStringLiteral("Cannot read \"%1\": %2")
                               .arg(QDir::toNativeSeparators(m_filePath), file.errorString());
            // Callers connect after Start(), so the end is announced from the event loop.
            QTimer::singleShot(0, this, [this] { emit finished(); });
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
    request.url = url();
    request.headers = {"Content-Type: multipart/form-data; boundary=\"" + m_boundary + '"',
                       "MIME-Version: 1.0"};
    request.body = multipartFormData(parts, m_boundary);
    request.stallTimeout = m_timeout;
    request.bodyLimit = ResponseLimit;
    request.peer = QStringLiteral("the server");
    m_request = m_http.start(
        request, [this](const HttpResult& result) { complete(result); },
        [this](qint64 sent, qint64 total) { onUploadProgress(sent, total); });
    m_statusText = QStringLiteral("Uploading");
    return true;
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
    m_reply = result;
    m_statusText = result.whole ? QStringLiteral("HTTP status %1 %2")
                                      .arg(result.status)
                                      .arg(QString::fromLatin1(result.reasonPhrase))
                                : result.failureText;
    emit finished();
}

bool HttpFileUpload::SaveLog(const QString& fileName) const
{
    const QByteArray crlf(LineEnd);
    const QUrl target = url();
    QByteArray text = "---------- " + logTimestamp().toUtf8() + " - Upload of " +
                      QDir::toNativeSeparators(m_filePath).toUtf8() + crlf;

    text += "POST " + target.path(QUrl::FullyEncoded).toUtf8() + " HTTP/1.1" + crlf;
    text += "Host: " + target.host().toUtf8() +
            (target.port() != -1 ? ':' + QByteArray::number(target.port()) : QByteArray()) + crlf;
    if (!m_boundary.isEmpty())
        text += "Content-Type: multipart/form-data; boundary=\"" + m_boundary + '"' + crlf;
    if (m_total > 0)
        text += "Content-Length: " + QByteArray::number(m_total) + crlf;
    text += "User-Agent: " + HttpTexts::userAgent() + crlf + crlf;

    QString password;
    for (const FormPart& field : m_fields) {
        const bool secret = field.name.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0;
        if (secret)
            password = QString::fromUtf8(field.data);
        text += field.name.toUtf8() + ": " + (secret ? QByteArray("********") : field.data) + crlf;
    }
    if (!m_filePath.isEmpty()) {
        text += m_fileField.toUtf8() + ": " + QFileInfo(m_filePath).fileName().toUtf8() + " (" +
                QByteArray::number(m_snapshot.size()) + " bytes, " + FileContentType + ')' + crlf;
    }
    text += crlf;

    if (m_reply.status == 0) {
        text += "No reply: " + m_statusText.toUtf8() + crlf;
    } else {
        text += "HTTP/1.1 " + QByteArray::number(m_reply.status) + ' ' + m_reply.reasonPhrase + crlf;
        for (const auto& [name, value] : m_reply.headers)
            text += name + ": " + value + crlf;
        // The reply goes in as safe text: a service echoing the request would
        // otherwise put the password into the log.
        text += crlf + LogText::safeReply(m_reply.body, password).toUtf8() + crlf;
    }
    return appendToFile(QDir(m_logDirectory).filePath(fileName), text + crlf);
}
