#pragma once

#include "upload/HttpClient.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>

// One part of a multipart/form-data body; one with a file name is a file.
struct FormPart
{
    QString name;
    QByteArray data;
    QString fileName;
};

// The body as QHttpMultiPart wrote it, which the service has always taken:
// each part behind "--boundary", its headers, a blank line and its data; a
// file part typed application/octet-stream.
QByteArray multipartFormData(const QList<FormPart>& parts, const QByteArray& boundary);

// One multipart/form-data POST of text fields and one file, made for a single
// upload and dropped afterwards. The file is read whole when the upload starts
// and that copy is what goes out, so a file that grows meanwhile cannot garble
// the request. Never blocks: Start() returns at once, progress() follows the
// transfer and finished() comes exactly once, whatever the outcome.
class HttpFileUpload final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultTimeout{60000};
    // A reply is only shown and logged, so no more of it than this is kept.
    static constexpr qsizetype ResponseLimit = 1024 * 1024;

    // `logDirectory` is where SaveLog puts a bare file name.
    HttpFileUpload(HttpClient& http, QString logDirectory, QObject* parent = nullptr);
    ~HttpFileUpload() override;

    // A base URL as resolveServiceBase() gives it; the path is appended to it.
    void setHost(const QUrl& baseUrl) { m_host = baseUrl; }
    // The longest the transfer may go without a byte moving, sending or
    // waiting for the reply; a slow transfer that keeps moving goes on.
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds Timeout() const { return m_timeout; }
    void setPath(const QString& path) { m_path = path; }
    QUrl url() const;

    // Text parts go out in call order, UTF-8 encoded; SaveLog never writes the
    // value of a field named "password".
    void AddField(const QString& name, const QString& value);
    // The one file part, after the text parts, as application/octet-stream.
    void AddFile(const QString& name, const QString& path);

    // Once. True when the request went out. Otherwise StatusText says why,
    // and finished() still follows from the event loop.
    bool Start();

    QString StatusText() const { return m_statusText; }
    int Percent() const;
    qint64 SentAmount() const { return m_sent; }
    qint64 TotalAmount() const { return m_total; }
    // True when the server answered with a status line and a whole reply.
    bool Completed() const { return m_reply.whole; }
    int StatusCode() const { return m_reply.status; }
    QByteArray ResponseBody() const { return m_reply.body; }

    // The bytes of the file as they were sent (empty before Start).
    const QByteArray& fileSnapshot() const { return m_snapshot; }

    // Appends a plain record of the exchange; returns whether it was written.
    bool SaveLog(const QString& fileName) const;

signals:
    void progress(qint64 sent, qint64 total);
    void finished();

private:
    void onUploadProgress(qint64 sent, qint64 total);
    void complete(const HttpResult& result);

    HttpClient& m_http;
    QString m_logDirectory;
    QUrl m_host;
    QString m_path;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
    QList<FormPart> m_fields;
    QString m_fileField;
    QString m_filePath;

    QString m_statusText;
    QByteArray m_snapshot;
    QByteArray m_boundary;
    qint64 m_sent = 0;
    qint64 m_total = 0;
    HttpResult m_reply;
    quint64 m_request = 0; // while it runs
};
