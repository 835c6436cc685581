#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <chrono>
#include <compare>

class HttpClient;
struct HttpResult;

// Versions are numbers joined by dots ("1.0.10"), compared as numbers field by
// field, a missing field counting as 0; white space around the text (CR and LF
// included) does not count. Unordered when either text is not a version.
std::partial_ordering compareVersions(const QString& available, const QString& running);

enum class UpdateVerdict
{
    Newer,
    NotNewer,
    Failed
};

struct UpdateCheckResult
{
    UpdateVerdict verdict = UpdateVerdict::Failed;
    QString available; // the published version, trimmed; empty when none was read
    QString failure;   // one line saying what went wrong; empty unless Failed
};

// Asks the update host which version is the newest, without blocking: one
// check at a time, bounded by a time-out, ending in exactly one finished().
class UpdateChecker final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultTimeout{15000};
    // A version file is a few bytes; anything longer is not one.
    static constexpr qsizetype ReplyLimit = 256;

    explicit UpdateChecker(HttpClient& http, QObject* parent = nullptr);
    ~UpdateChecker() override;

    static QUrl versionFileUrl(const QUrl& updateBase);
    static QUrl archiveUrl(const QUrl& updateBase);

    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }

    // Returns false, and starts nothing, while an earlier check runs.
    bool check(const QUrl& updateBase, const QString& runningVersion);
    bool isRunning() const { return m_request != 0; }

signals:
    void finished(const UpdateCheckResult& result);

private:
    void complete(const HttpResult& reply);

    HttpClient& m_http;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
    quint64 m_request = 0; // while a check runs
    QString m_running;
};
