#include "upload/RealtimeUploader.h"

#include "upload/HttpClient.h"
#include "upload/ReplyVerdict.h"

#include <QTimer>

#include <algorithm>
#include <memory>

struct RealtimeUploader::Flight
{
    UploadContact contact;
    quint64 request = 0;
    QByteArray reportBody;
    QString password;
    quint64 acceptedBefore = 0; // contacts the service had taken when this one left
};

RealtimeUploader::RealtimeUploader(HttpClient& http, QObject* parent)
    : QObject(parent), m_http(http), m_retryTimer(new QTimer(this))
{
    m_retryTimer->setSingleShot(true);
    connect(m_retryTimer, &QTimer::timeout, this, [this] {
        // One contact probes whether the service answers again.
        m_probing = true;
        emit holdChanged();
        pump();
    });
}

RealtimeUploader::~RealtimeUploader()
{
    abandonAll();
}

bool RealtimeUploader::isLoginComplete(const Credentials& credentials)
{
    for (const QString* value : {&credentials.email, &credentials.callsign, &credentials.password}) {
        if (value->trimmed().isEmpty() || *value == QLatin1String("Not Set"))
            return false;
    }
    return true;
}

void RealtimeUploader::setEndpoint(const QUrl& url, const QString& problem, const QString& plainHttpHint)
{
    m_endpoint = url;
    m_hostProblem = problem;
    m_plainHttpHint = plainHttpHint;
    emit holdChanged();
    pump();
}

void RealtimeUploader::setLogin(const Credentials& login, bool retry)
{
    const bool held = m_loginRefused || m_loginMissing;
    if (login == m_login && !(retry && m_loginRefused))
        return;
    m_login = login;
    if (!held)
        return;
    m_loginRefused = false;
    m_loginMissing = false;
    emit holdChanged();
    pump();
}

void RealtimeUploader::setPauses(std::chrono::milliseconds first, std::chrono::milliseconds longest)
{
    m_firstPause = first;
    m_longestPause = longest;
    m_pause = first;
}

void RealtimeUploader::setPaused(bool paused)
{
    if (m_paused == paused)
        return;
    m_paused = paused;
    emit holdChanged();
    pump();
}

void RealtimeUploader::enqueue(UploadContact contact)
{
    // One read back from the source already, or one for which there is no room now.
    if (contact.key <= m_lastKey)
        return;
    if (m_backlog || held() >= QueueLimit) {
        m_backlog = true;
        return;
    }
    m_lastKey = contact.key;
    m_queue.append(std::move(contact));
    emit holdChanged();
    pump();
}

void RealtimeUploader::readSource()
{
    m_backlog = true;
    refill();
    emit holdChanged();
    pump();
}

void RealtimeUploader::refill()
{
    const int room = QueueLimit - held();
    if (!m_backlog || !m_source || room < QueueLimit / 2)
        return;
    // All newer than anything queued, oldest first.
    const QList<UploadContact> more = m_source(m_lastKey, room);
    m_queue += more;
    if (!more.isEmpty())
        m_lastKey = more.last().key;
    m_backlog = more.size() == room;
}

void RealtimeUploader::stopStarting()
{
    m_stopped = true;
    m_retryTimer->stop();
}

void RealtimeUploader::requeue(UploadContact contact)
{
    // Keys rise with arrival: a contact put back goes to its own place.
    const auto at = std::ranges::upper_bound(m_queue, contact.key, {}, &UploadContact::key);
    m_queue.insert(at, std::move(contact));
}

int RealtimeUploader::held() const
{
    return int(m_queue.size() + m_deferred.size() + m_flights.size());
}

UploadHold RealtimeUploader::hold() const
{
    if (m_paused)
        return UploadHold::Paused;
    if (!m_hostProblem.isEmpty())
        return UploadHold::HostUnusable;
    if (m_loginRefused)
        return UploadHold::LoginRefused;
    if (m_loginMissing)
        return UploadHold::LoginMissing;
    if (m_retryTimer->isActive() || m_probing)
        return UploadHold::Retrying;
    return UploadHold::None;
}

QString RealtimeUploader::holdReason() const
{
    switch (hold()) {
    case UploadHold::None:
        return {};
    case UploadHold::Paused:
        return tr("automatic upload is off");
    case UploadHold::HostUnusable:
        return m_hostProblem;
    case UploadHold::LoginRefused:
        return m_loginReason;
    case UploadHold::LoginMissing:
        return tr("enter your Corvane e-mail address, call sign and password");
    case UploadHold::Retrying:
        return m_retryReason;
    }
    return {};
}

void RealtimeUploader::pump()
{
    if (m_stopped || m_paused || !m_hostProblem.isEmpty() || m_loginRefused || m_retryTimer->isActive())
        return;
    refill();
    const int limit = m_probing ? 1 : MaxInFlight;
    while (m_flights.size() < limit && (!m_queue.isEmpty() || !m_deferred.isEmpty())) {
        if (!isLoginComplete(m_login)) {
            if (!m_loginMissing) {
                m_loginMissing = true;
                emit holdChanged();
            }
            return;
        }
        if (m_loginMissing) {
            m_loginMissing = false;
            emit holdChanged();
        }
        start(m_queue.isEmpty() ? m_deferred.takeFirst() : m_queue.takeFirst());
    }
}

void RealtimeUploader::start(UploadContact contact)
{
    auto* flight = new Flight;
    const RealtimeRequest request = RealtimeRequest::make(m_login, contact.record);
    flight->contact = std::move(contact);
    flight->reportBody = request.reportBody;
    flight->password = m_login.password;
    flight->acceptedBefore = m_accepted;
    m_flights.append(flight);
    emit sending(flight->contact);
    HttpRequest post;
    post.url = m_endpoint;
    post.headers = {"Content-Type:application/x-www-form-urlencoded"};
    post.body = request.body;
    post.timeout = m_timeout;
    flight->request = m_http.start(post, [this, flight](const HttpResult& reply) { onReply(flight, reply); });
}

void RealtimeUploader::onReply(Flight* flight, const HttpResult& reply)
{
    if (!m_flights.removeOne(flight))
        return;
    const std::unique_ptr<Flight> done(flight);

    emit replied(reply.body, flight->password);
    Judgement judgement = judgeReply(reply);
    if (reply.plainHttpOverTls && !m_plainHttpHint.isEmpty())
        judgement.reason = m_plainHttpHint;

    UploadResult result;
    result.contact = std::move(flight->contact);
    result.reply = reply.body;
    result.httpStatus = reply.status;
    result.reportBody = flight->reportBody;
    result.password = flight->password;

    const quint64 key = result.contact.key;
    switch (judgement.verdict) {
    case Verdict::Accepted:
    case Verdict::Refused:
        m_serverErrors.remove(key);
        result.accepted = judgement.verdict == Verdict::Accepted;
        m_accepted += result.accepted ? 1 : 0;
        result.failure = judgement.reason;
        verdictArrived();
        emit finished(result);
        break;
    case Verdict::LoginRefused:
        requeue(std::move(result.contact));
        if (!m_loginRefused) {
            m_loginRefused = true;
            m_loginReason =
                tr("Corvane refused the login (%1); check the e-mail address, call sign and password")
                    .arg(judgement.reason);
            emit loginRefused(m_loginReason, reply.body, flight->password);
        }
        emit holdChanged();
        break;
    case Verdict::NoVerdict: {
        // A busy service that says when to come back refuses nothing; a
        // contact's server errors count once the service has taken another
        // contact since its first one, so an outage never refuses anything.
        if (!judgement.serverError) {
            m_serverErrors.remove(key);
        } else if (!judgement.retryAfter) {
            if (!m_serverErrors.contains(key))
                m_serverErrors.insert(key, {0, flight->acceptedBefore});
            ServerErrors& errors = m_serverErrors[key];
            if (m_accepted > errors.acceptedBefore && ++errors.count >= ServerErrorLimit) {
                m_serverErrors.remove(key);
                result.failure = tr("%1, %2 times in a row").arg(judgement.reason).arg(ServerErrorLimit);
                emit finished(result);
                break;
            }
        }
        retryLater(judgement, result);
        if (judgement.serverError) // behind the others: the next probe is the next contact
            m_deferred.append(std::move(result.contact));
        else
            requeue(std::move(result.contact));
        emit holdChanged();
        break;
    }
    }
    pump();
}

void RealtimeUploader::retryLater(const Judgement& judgement, const UploadResult& first)
{
    m_probing = false;
    if (m_retryTimer->isActive())
        return;
    // Never sooner than the first pause, whatever Retry-After says.
    const auto pause =
        judgement.retryAfter
            ? std::clamp<std::chrono::milliseconds>(*judgement.retryAfter, m_firstPause, m_longestPause)
            : m_pause;
    m_pause = std::min(m_pause * 2, m_longestPause);
    m_retryReason = judgement.reason;
    m_nextTry = QDateTime::currentDateTime().addMSecs(pause.count());
    m_retryTimer->start(pause);
    if (!m_outage) {
        m_outage = true;
        emit outageBegan(judgement.reason, first);
    }
}

void RealtimeUploader::verdictArrived()
{
    m_pause = m_firstPause;
    m_nextTry = QDateTime();
    const bool wasHeld = m_probing || m_outage;
    m_probing = false;
    if (m_outage) {
        m_outage = false;
        emit serviceBack();
    }
    if (wasHeld)
        emit holdChanged();
}

QList<UploadContact> RealtimeUploader::abandonAll()
{
    QList<UploadContact> abandoned = std::exchange(m_queue, {}) + std::exchange(m_deferred, {});
    for (Flight* flight : std::exchange(m_flights, {})) {
        m_http.abort(flight->request);
        abandoned.append(std::move(flight->contact));
        delete flight;
    }
    m_retryTimer->stop();
    std::ranges::sort(abandoned, {}, &UploadContact::key);
    return abandoned;
}
