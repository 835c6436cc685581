#include "status/EventReport.h"

#include "capture/AdifRecord.h"
#include "status/StationStatus.h"
#include "upload/ContactPipeline.h"

#include <QTimer>

EventReport::EventReport(Writer writer, QObject* parent)
    : QObject(parent), m_writer(std::move(writer)), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(Interval);
    connect(m_timer, &QTimer::timeout, this, &EventReport::flush);
}

void EventReport::attach(StationStatus& status, ContactPipeline& pipeline)
{
    connect(&pipeline, &ContactPipeline::contactAccepted, this,
            [this](quint64, const QString& record) { accepted(adifField(record, u"CALL")); });
    connect(&pipeline, &ContactPipeline::contactRefused, this,
            [this](quint64, const QString& record, const QString& reason) {
                refused(adifField(record, u"CALL"), reason);
            });
    connect(&pipeline, &ContactPipeline::contactKept, this, &EventReport::kept);
    connect(&pipeline, &ContactPipeline::datagramUnreadable, this, [this](const QString& reason) {
        state(QStringLiteral("unreadable"), tr("Contact datagram could not be read: %1").arg(reason));
    });
    // The status changes with every contact; its texts are made once per line.
    m_status = &status;
    connect(&status, &StationStatus::changed, this, &EventReport::gathered);
}

void EventReport::accepted(const QString& call)
{
    ++m_acceptedCount;
    if (m_accepted.size() < 3)
        m_accepted << call;
    gathered();
}

void EventReport::refused(const QString& call, const QString& reason)
{
    ++m_refusedCount;
    m_refusedCall = call;
    m_refusedReason = reason;
    gathered();
}

void EventReport::kept()
{
    ++m_kept;
    gathered();
}

void EventReport::state(const QString& kind, const QString& text)
{
    // Only a change is news; a state that starts out empty is none.
    const auto last = m_lastState.constFind(kind);
    if (last != m_lastState.cend() ? *last == text : text.isEmpty())
        return;
    m_lastState.insert(kind, text);
    for (auto& [stateKind, latest] : m_states) {
        if (stateKind == kind) {
            latest = text;
            gathered();
            return;
        }
    }
    m_states.append({kind, text});
    gathered();
}

void EventReport::gathered()
{
    if (!m_timer->isActive())
        m_timer->start();
}

void EventReport::flush()
{
    m_timer->stop();
    if (m_status) {
        state(QStringLiteral("listening"), m_status->listeningText());
        state(QStringLiteral("waiting"), m_status->waitingText());
        m_timer->stop(); // what state() gathered goes into this line
    }
    QStringList parts;
    for (const auto& [kind, text] : std::as_const(m_states)) {
        if (!text.isEmpty())
            parts << text;
        else if (kind == QLatin1String("waiting"))
            parts << tr("No contacts are held up any more");
    }
    if (m_acceptedCount == 1)
        parts << tr("Accepted %1").arg(m_accepted.first());
    else if (m_acceptedCount > 1)
        parts << tr("Accepted %1 contacts (%2 ...)")
                     .arg(m_acceptedCount)
                     .arg(m_accepted.join(QStringLiteral(", ")));
    if (m_refusedCount == 1)
        parts << tr("Refused %1: %2").arg(m_refusedCall, m_refusedReason);
    else if (m_refusedCount > 1)
        parts << tr("Refused %1 contacts, the last: %2").arg(m_refusedCount).arg(m_refusedReason);
    if (m_kept > 0)
        parts << tr("%n kept in NotUploadedQsosLog.adi", nullptr, m_kept);
    m_states.clear();
    m_accepted.clear();
    m_acceptedCount = m_refusedCount = m_kept = 0;
    if (parts.isEmpty())
        return;
    m_writer(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
             parts.join(QStringLiteral("; ")));
}
