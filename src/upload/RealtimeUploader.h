#pragma once

#include "upload/RealtimeRequest.h"

#include <QList>
#include <QObject>
#include <QUrl>

#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

struct RealtimeResult
{
    RealtimeRequest request;
    bool accepted = false;
    QByteArray reply;   // at most the first ReplyReadLimit bytes of the body
    int httpStatus = 0; // 0 when no HTTP answer came
    QString
        failure; // empty when the service answered with a 2xx status; otherwise one line saying what failed
};

// Posts contacts to /realtime.php without ever blocking the event loop: at
// most MaxInFlight requests run at once, the rest wait in arrival order, and
// every request ends, by a reply, an error or the time-out, in exactly one
// finished() signal.
class RealtimeUploader final : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxInFlight = 4;
    static constexpr std::chrono::milliseconds DefaultTimeout{30000};

    explicit RealtimeUploader(QNetworkAccessManager* network, QObject* parent = nullptr);
    ~RealtimeUploader() override;

    void setEndpoint(const QUrl& url);
    QUrl endpoint() const { return m_endpoint; }
    void setTimeout(std::chrono::milliseconds timeout);

    void enqueue(RealtimeRequest request);

    // Queued plus in flight.
    int pendingCount() const;

    // Stops every unfinished request without a finished() signal and hands
    // them back in arrival order, so the caller can keep them on disk.
    QList<RealtimeRequest> abandonAll();

signals:
    void finished(const RealtimeResult& result);

private:
    struct InFlight;

    void startQueued();
    void start(RealtimeRequest request);
    void readHead(InFlight* flight);
    void complete(InFlight* flight);

    QNetworkAccessManager* m_network;
    QUrl m_endpoint;
    std::chrono::milliseconds m_timeout = DefaultTimeout;
    QList<RealtimeRequest> m_queue;
    QList<InFlight*> m_inFlight;
};
