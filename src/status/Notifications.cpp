#include "status/Notifications.h"

#include "status/StationStatus.h"
#include "upload/ContactPipeline.h"

#include <QTimer>

Notifications::Notifications(QObject* parent) : QObject(parent), m_refusals(new QTimer(this))
{
    m_refusals->setSingleShot(true);
    m_refusals->setInterval(DefaultRefusalWindow);
    connect(m_refusals, &QTimer::timeout, this, [this] {
        if (m_moreRefused == 0)
            return;
        emit notify(tr("Corvane refused %n more contact(s)", nullptr, m_moreRefused), m_lastReason);
        m_moreRefused = 0;
        m_refusals->start();
    });
}

void Notifications::attach(StationStatus& status, ContactPipeline& pipeline, RealtimeUploader& uploader)
{
    connect(&status, &StationStatus::changed, this, [this, &status] {
        // The text is made only when it is told; the status changes with every contact.
        const bool starts = !m_waiting && isWaiting(status.hold(), status.waiting());
        holdChanged(status.hold(), status.waiting(), starts ? status.waitingText() : QString());
    });
    connect(&pipeline, &ContactPipeline::contactRefused, this,
            [this](quint64, const QString&, const QString& reason) { refused(reason); });
    connect(&uploader, &RealtimeUploader::serviceBack, this,
            [this, &uploader] { serviceBack(uploader.waitingCount()); });
}

void Notifications::setRefusalWindow(std::chrono::milliseconds window)
{
    m_refusals->setInterval(window);
}

bool Notifications::isWaiting(UploadHold hold, int waiting)
{
    // Pausing is the operator's own choice; nothing to tell.
    return waiting > 0 && hold != UploadHold::None && hold != UploadHold::Paused;
}

void Notifications::holdChanged(UploadHold hold, int waiting, const QString& waitingText)
{
    const bool waitingNow = isWaiting(hold, waiting);
    if (waitingNow && !m_waiting)
        emit notify(tr("Contacts are waiting for Corvane"), waitingText);
    m_waiting = waitingNow;
}

void Notifications::refused(const QString& reason)
{
    m_lastReason = reason;
    if (m_refusals->isActive()) {
        ++m_moreRefused;
        return;
    }
    emit notify(tr("Corvane refused a contact"), reason);
    m_refusals->start();
}

void Notifications::serviceBack(int waiting)
{
    emit notify(tr("Corvane answers again"),
                waiting > 0 ? tr("%n waiting contact(s) are being sent", nullptr, waiting)
                            : tr("Contacts go out again"));
}
