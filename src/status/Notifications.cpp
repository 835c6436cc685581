#include "status/Notifications.h"

#include "status/StatusModel.h"

#include <QTimer>

Notifications::Notifications(StatusModel& status, QObject* parent)
    : QObject(parent), m_status(status), m_refusals(new QTimer(this))
{
    m_refusals->setSingleShot(true);
    m_refusals->setInterval(DefaultRefusalWindow);
    connect(m_refusals, &QTimer::timeout, this, [this] {
        if (m_moreRefused == 0)
            return;
        emit notify(m_moreRefused == 1 ? tr("Corvane refused 1 more contact")
                                       : tr("Corvane refused %1 more contacts").arg(m_moreRefused),
                    m_lastReason);
        m_moreRefused = 0;
        m_refusals->start();
    });
    connect(&status, &StatusModel::changed, this, &Notifications::followStatus);
    connect(&status, &StatusModel::notable, this, &Notifications::notify);
    connect(&status, &StatusModel::contactAccepted, this, [this] { m_waiting = false; });
    connect(&status, &StatusModel::contactRefused, this,
            [this](quint64, const QString&, const QString& reason) { refused(reason); });
    connect(&status, &StatusModel::serviceBack, this, [this](int waiting) {
        emit notify(tr("Corvane answers again"), waiting > 0 ? tr("%1 waiting are being sent")
                                                                    .arg(StatusModel::contacts(waiting))
                                                              : tr("Contacts go out again"));
    });
}

void Notifications::setRefusalWindow(std::chrono::milliseconds window)
{
    m_refusals->setInterval(window);
}

void Notifications::followStatus()
{
    const StationState& s = m_status.state();
    if (s.waiting == 0) {
        m_waiting = false;
        return;
    }
    // Pausing is the operator's own choice; nothing to tell.
    if (m_waiting || s.hold == UploadHold::None || s.hold == UploadHold::Paused)
        return;
    m_waiting = true;
    emit notify(tr("Contacts are waiting for Corvane"), m_status.waitingText());
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
