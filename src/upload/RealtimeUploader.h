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
struct Judgement;
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
// arrival order, at most MaxInFlight at once, holding at most QueueLimit
// records: the rest are read back from the source (the outbox) in key order.
// A reply about the contact is a verdict (finished()); anything else (no
// connection, a time-out, a cut reply, 408, 429, 5xx, an answer from
// something other than the service) leaves the contact waiting, and the
// queue goes on after a pause that doubles from FirstPause up to
// LongestPause (a Retry-After may lengthen it, never shorten it), one
// contact at a time probing until a verdict comes. A contact that draws
// server errors goes behind the others, so it never blocks them; its errors
// count only while the service takes other contacts, and ServerErrorLimit
// of them in a row refuse it.
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
    static constexpr int QueueLimit = 256;
    // Up to `max` waiting contacts with keys above `key`, oldest first.
    using Source = std::function<QList<UploadContact>(quint64 key, int max)>;

    explicit RealtimeUploader(HttpClient& http, QObject* parent = nullptr);
    ~RealtimeUploader() override;

    // An unusable address comes with the problem to show; nothing is sent
    // then. `plainHttpHint` explains an https address that meets plain HTTP.
    void setEndpoint(const QUrl& url, const QString& problem = QString(),
                     const QString& plainHttpHint = QString());
    // The login the station committed; contacts held for a login go out with
    // it. `retry` tries an unchanged login again after it was refused.
    void setLogin(const Credentials& login, bool retry = false);
    void setTimeout(std::chrono::milliseconds timeout) { m_timeout = timeout; }
    void setPauses(std::chrono::milliseconds first, std::chrono::milliseconds longest);
    void setPaused(bool paused);
    void setSource(Source source) { m_source = std::move(source); }
    // A contact just stored; one the queue has no room for is read back later.
    void enqueue(UploadContact contact);
    // The source holds contacts beyond those handed in (an earlier run's):
    // from now on they are read from it, oldest first.
    void readSource();
    // Closing: nothing more is started; what is on its way still ends.
    void stopStarting();
    // Stops every unfinished request without a signal and hands the contacts
    // back in arrival order; they stay in the outbox for the next start.
    QList<UploadContact> abandonAll();

    // Contacts held here: queued, put behind, or on their way.
    int held() const;
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
    // hold(), holdReason(), nextTry() or held() changed.
    void holdChanged();

private:
    struct Flight;

    void pump();
    void start(UploadContact contact);
    void onReply(Flight* flight, const HttpResult& reply);
    void requeue(UploadContact contact);
    void refill();
    void verdictArrived();
    void retryLater(const Judgement& judgement, const UploadResult& first);

    HttpClient& m_http;
    QUrl m_endpoint;
    QString m_hostProblem;
    QString m_plainHttpHint;
    Credentials m_login;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
    std::chrono::milliseconds m_firstPause = FirstPause;
    std::chrono::milliseconds m_longestPause = LongestPause;
    std::chrono::milliseconds m_pause = FirstPause;
    QList<UploadContact> m_queue;    // in key order
    QList<UploadContact> m_deferred; // drew server errors: after the others
    QList<Flight*> m_flights;
    Source m_source;
    quint64 m_lastKey = 0;  // the newest key ever queued
    bool m_backlog = false; // the source holds contacts past m_lastKey
    quint64 m_accepted = 0;
    QTimer* m_retryTimer = nullptr;
    struct ServerErrors
    {
        int count = 0;
        quint64 acceptedBefore = 0; // when the first came
    };
    QHash<quint64, ServerErrors> m_serverErrors;
    QString m_retryReason;
    QString m_loginReason;
    QDateTime m_nextTry;
    bool m_paused = false;
    bool m_loginRefused = false;
    bool m_loginMissing = false;
    bool m_outage = false;
    bool m_probing = false;
    bool m_stopped = false;
};
