#pragma once

#include "upload/RealtimeUploader.h"

#include <QObject>
#include <QString>

#include <chrono>

class ContactPipeline;
class QTimer;
class StationStatus;

// Decides what is worth a desktop notification: contacts starting to wait,
// refusals (a wrong password refuses every contact, so they are gathered:
// one notification at once, then at most one per window for the rest), and
// the service answering again.
class Notifications final : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds DefaultRefusalWindow{60000};

    explicit Notifications(QObject* parent = nullptr);

    void attach(StationStatus& status, ContactPipeline& pipeline, RealtimeUploader& uploader);
    void setRefusalWindow(std::chrono::milliseconds window);

    void holdChanged(UploadHold hold, int waiting, const QString& waitingText);
    void refused(const QString& reason);
    void serviceBack(int waiting);

signals:
    void notify(const QString& title, const QString& text);

private:
    static bool isWaiting(UploadHold hold, int waiting);

    QTimer* m_refusals = nullptr;
    int m_moreRefused = 0;
    QString m_lastReason;
    bool m_waiting = false;
};
