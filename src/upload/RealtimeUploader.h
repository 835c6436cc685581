#pragma once

#include "upload/RealtimeRequest.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>

class HttpClient;
class QTimer;
struct HttpResult;

struct UploadContact
{
    quint64 key = 0; // its outbox key; keys rise with arrival
    QString record;
};

// A verdict on one contact.
struct UploadResult
{
    UploadContact contact;
    bool accepted = false;
    QByteArray reply; // the judged part of the body
    int httpStatus = 0;
    QString failure;       // why it was refused when the service's words do not say it
    QByteArray reportBody; // the body as sent, the password written as "********"
    QString password;      // as sent, so a reply that echoes it can be masked
};

// Why contacts are not going out right now.
enum class UploadHold
{
    None,
    Paused,       // automatic upload is off
    HostUnusable, // the service's address in the settings is not usable
    LoginRefused, // HTTP 401 or 403: until the login is changed
    LoginMissing, // an e-mail address, call sign or password still "Not Set" or empty
    Retrying,     // no verdict came; the next try waits for a growing pause
};

// Posts contacts to /realtime.php without ever blocking the event loop, in
// arrival order, at most MaxInFlight at once. A reply about the contact is a
// verdict (finished()); anything else (no connection, a time-out, a cut
// reply, 408, 429, 5xx) leaves the contact waiting in its place, and the
// queue goes on after a pause that doubles from FirstPause up to
// LongestPause, one contact first to probe.
class RealtimeUploader final : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxInFlight = 4;
    static constexpr std::chrono::milliseconds DefaultTimeout{30000};
    static constexpr std::chrono::milliseconds FirstPause{2000};
    static constexpr std::chrono::milliseconds LongestPause{60000};
    // One contact that keeps drawing server errors must not block a contest.
    static constexpr int ServerErrorLimit = 5;

    explicit RealtimeUploader(HttpClient& http, QObject* parent = nullptr);
    ~RealtimeUploader() override;

    // An unusable address comes with the problem to show; nothing is sent then.
    void setEndpoint(const QUrl& url, const QString& problem = QString());
    QUrl endpoint() const { return m_endpoint; }
    // The login the station committed; contacts held for a login go out with
    // it. `retry` tries an unchanged login again after it was refused.
    void setLogin(const Credentials& login, bool retry = false);
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    std::chrono::milliseconds timeout() const { return m_timeout; }
    void setPauses(std::chrono::milliseconds first, std::chrono::milliseconds longest);
    std::pair<std::chrono::milliseconds, std::chrono::milliseconds> pauses() const
    {
        return {m_firstPause, m_longestPause};
    }
    void setPaused(bool paused);
    void enqueue(UploadContact contact);
    // Stops every unfinished request without a signal and hands the contacts
    // back in arrival order; they stay in the outbox for the next start.
    QList<UploadContact> abandonAll();

    int waitingCount() const;
    int inFlight() const { return int(m_flights.size()); }
    UploadHold hold() const;
    QString holdReason() const;
    QDateTime nextTry() const { return m_nextTry; }

    static bool isLoginComplete(const Credentials& credentials);

signals:
    void sending(const UploadContact& contact);
    void finished(const UploadResult& result);
    // Every reply, judged or not, as it came (for the debug trace).
    void replied(const QByteArray& body, const QString& password);
    // The first contact without a verdict after a time of verdicts.
    void outageBegan(const QString& reason, const UploadResult& first);
    void serviceBack();
    void loginRefused(const QString& reason, const QByteArray& reply, const QString& password);
    // hold(), holdReason(), nextTry() or waitingCount() changed.
    void holdChanged();

private:
    struct Flight;

    void pump();
    void start(UploadContact contact, const Credentials& credentials);
    void onReply(Flight* flight, const HttpResult& reply);
    void requeue(UploadContact contact);
    void verdictArrived();

    HttpClient& m_http;
    QUrl m_endpoint;
    QString m_hostProblem;
    Credentials m_login;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
    std::chrono::milliseconds m_firstPause = FirstPause;
    std::chrono::milliseconds m_longestPause = LongestPause;
    std::chrono::milliseconds m_pause = FirstPause;
    QList<UploadContact> m_queue;
    QList<Flight*> m_flights;
    QTimer* m_retryTimer = nullptr;
    QHash<quint64, int> m_serverErrors;
    QString m_retryReason;
    QString m_loginReason;
    QDateTime m_nextTry;
    bool m_paused = false;
    bool m_loginRefused = false;
    bool m_loginMissing = false;
    bool m_outage = false;
    bool m_probing = false;
};
