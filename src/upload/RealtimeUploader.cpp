#include "upload/RealtimeUploader.h"

#include "upload/HttpTexts.h"
#include "upload/ReplyVerdict.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace {

// One line for the error report; empty when the service answered with a 2xx
// status and the whole (or the judged part of the) reply arrived.
QString describeFailure(const QNetworkReply& reply, bool cutByUs)
{
    const QNetworkReply::NetworkError error = reply.error();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool canceledByUs = cutByUs && error == QNetworkReply::OperationCanceledError;
    const QString reason = reply.errorString().simplified();

    // Connection and proxy errors come before any status judgement: a reply
    // cut off after its status line is still no reply.
    if (error != QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied && !canceledByUs) {
        if (error == QNetworkReply::RemoteHostClosedError)
            return QStringLiteral("The log service closed the connection before the reply was complete");
        return QStringLiteral("Could not reach the log service: %1").arg(reason);
    }
    if (error == QNetworkReply::ProtocolUnknownError ||
        error == QNetworkReply::ProtocolInvalidOperationError) {
        const QString url = reply.url().toDisplayString(QUrl::RemoveUserInfo);
        return QStringLiteral("The log service address is not usable: \"%1\"").arg(url);
    }
    if (status == 0)
        return QStringLiteral("No HTTP answer from the log service: %1").arg(reason);
    if (status < 200 || status > 299) {
        QString text = QStringLiteral("HTTP status %1 from the log service").arg(status);
        const QUrl target = reply.attribute(QNetworkRequest::RedirectionTargetAttribute).toUrl();
        if (!target.isEmpty())
            text += QStringLiteral(", redirecting to %1").arg(target.toDisplayString(QUrl::RemoveUserInfo));
        return text;
    }
    if (error != QNetworkReply::NoError && !canceledByUs)
        return QStringLiteral("The reply of the log service failed: %1").arg(reason);
    return {};
}

} // namespace

struct RealtimeUploader::InFlight
{
    RealtimeRequest request;
    QPointer<QNetworkReply> reply; // the manager may delete its replies before us
    QTimer* timer = nullptr;
    QByteArray head;
    bool headComplete = false;
    bool timedOut = false;
};

RealtimeUploader::RealtimeUploader(QNetworkAccessManager* network, QObject* parent)
    : QObject(parent), m_network(network)
{
}

RealtimeUploader::~RealtimeUploader()
{
    abandonAll();
}

void RealtimeUploader::setEndpoint(const QUrl& url)
{
    m_endpoint = url;
}

void RealtimeUploader::setTimeout(std::chrono::milliseconds timeout)
{
    m_timeout = timeout;
}

void RealtimeUploader::enqueue(RealtimeRequest request)
{
    m_queue.append(std::move(request));
    startQueued();
}

int RealtimeUploader::pendingCount() const
{
    return static_cast<int>(m_queue.size() + m_inFlight.size());
}

QList<RealtimeRequest> RealtimeUploader::abandonAll()
{
    QList<RealtimeRequest> abandoned;
    const QList<InFlight*> flights = std::exchange(m_inFlight, {});
    for (InFlight* flight : flights) {
        if (flight->reply) {
            // abort() emits finished() at once; abandoned requests end silently.
            flight->reply->disconnect(this);
            flight->reply->abort();
            flight->reply->deleteLater();
        }
        flight->timer->deleteLater();
        abandoned.append(std::move(flight->request));
        delete flight;
    }
    abandoned.append(std::exchange(m_queue, {}));
    return abandoned;
}

void RealtimeUploader::startQueued()
{
    while (m_inFlight.size() < MaxInFlight && !m_queue.isEmpty())
        start(m_queue.takeFirst());
}

void RealtimeUploader::start(RealtimeRequest request)
{
    auto* flight = new InFlight;
    flight->request = std::move(request);
    flight->timer = new QTimer(this);
    m_inFlight.append(flight);

    QNetworkRequest http(m_endpoint);
    http.setHeader(QNetworkRequest::ContentTypeHeader,
                   QByteArrayLiteral("application/x-www-form-urlencoded"));
    http.setHeader(QNetworkRequest::UserAgentHeader, HttpTexts::userAgent());
    // Following a redirect would resend the credentials wherever it points;
    // a redirect is reported like any other status instead.
    http.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);

    // The reply never reports synchronously, so connecting after post() is safe.
    flight->reply = m_network->post(http, flight->request.body);
    connect(flight->reply, &QNetworkReply::readyRead, this, [this, flight] { readHead(flight); });
    connect(flight->reply, &QNetworkReply::finished, this, [this, flight] { complete(flight); });

    flight->timer->setSingleShot(true);
    connect(flight->timer, &QTimer::timeout, this, [this, flight] {
        flight->timedOut = true;
        if (flight->reply && flight->reply->isRunning())
            flight->reply->abort(); // emits finished(), which completes the flight
        else
            complete(flight);
    });
    flight->timer->start(m_timeout);
}

void RealtimeUploader::readHead(InFlight* flight)
{
    QNetworkReply* reply = flight->reply;
    const qint64 room = ReplyReadLimit - flight->head.size();
    if (room > 0)
        flight->head += reply->read(room);
    if (flight->head.size() < ReplyReadLimit || flight->headComplete)
        return;

    // Nothing past the limit is judged, so nothing more is taken in: a huge
    // reply costs one read, not its size in memory. abort() completes the
    // flight at once, so `flight` is gone after it.
    flight->headComplete = true;
    if (reply->isRunning())
        reply->abort();
}

void RealtimeUploader::complete(InFlight* flight)
{
    if (!m_inFlight.removeOne(flight))
        return;
    flight->timer->stop();
    flight->timer->deleteLater();

    RealtimeResult result;
    result.request = std::move(flight->request);
    if (flight->timedOut)
        result.failure =
            QStringLiteral("No answer from the log service within %1").arg(HttpTexts::duration(m_timeout));
    if (QNetworkReply* reply = flight->reply) {
        reply->disconnect(this);
        if (!flight->headComplete && reply->isOpen()) {
            const qint64 room = ReplyReadLimit - flight->head.size();
            flight->head += reply->read(room);
        }
        result.reply = flight->head;
        result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (!flight->timedOut)
            result.failure = describeFailure(*reply, flight->headComplete);
        reply->deleteLater();
    }
    result.accepted = result.failure.isEmpty() && isAcceptedReply(result.reply);
    delete flight;

    startQueued();
    emit finished(result);
}
