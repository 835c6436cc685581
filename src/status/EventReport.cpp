#include "status/EventReport.h"

#include "capture/AdifRecord.h"
#include "logs/LogText.h"
#include "settings/Settings.h"
#include "status/StatusModel.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>

namespace {
constexpr int CallsNamed = 3;
} // namespace

EventReport::EventReport(StatusModel& status, Writer writer, QObject* parent)
    : QObject(parent), m_status(status), m_writer(std::move(writer)), m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    m_timer->setInterval(Interval);
    connect(m_timer, &QTimer::timeout, this, &EventReport::flush);
    connect(&status, &StatusModel::contactAccepted, this, [this](quint64, const QString& record) {
        if (++m_acceptedCount <= CallsNamed)
            m_accepted << adifField(record, u"CALL");
        gathered();
    });
    connect(&status, &StatusModel::contactRefused, this,
            [this](quint64, const QString& record, const QString& reason) {
                ++m_refusedCount;
                m_refusedCall = adifField(record, u"CALL");
                m_refusedReason = reason;
                gathered();
            });
    connect(&status, &StatusModel::contactKept, this, [this] {
        ++m_kept;
        gathered();
    });
    connect(&status, &StatusModel::failed, this, [this](const QString& text) {
        m_failures << text;
        gathered();
    });
    // The status changes with every contact; its texts are made once per line.
    connect(&status, &StatusModel::changed, this, &EventReport::gathered);
}

void EventReport::startUp(const QString& folder)
{
    const StationState& s = m_status.state();
    const QString settings = QDir::toNativeSeparators(QDir(folder).filePath(QStringLiteral("Tarvex.ini")));
    QStringList lines{tr("Tarvex%1 with the data folder %2").arg(versionText(), QDir::toNativeSeparators(folder))};
    lines << (s.serviceUsable ? tr("Contacts go to %1").arg(s.service) : s.service);
    if (!s.loginSet)
        lines << tr("The Corvane login is not set: contacts wait until CorvaneEmailAddress, CorvaneCallsign and "
                    "CorvanePassword are set in %1")
                     .arg(settings);
    if (!s.catchUp.isEmpty())
        lines << s.catchUp;
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss "));
    for (const QString& line : std::as_const(lines))
        m_writer(stamp + LogText::oneLine(line));
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
            return;
        }
    }
    m_states.append({kind, text});
}

void EventReport::gathered()
{
    if (!m_timer->isActive())
        m_timer->start();
}

void EventReport::flush()
{
    m_timer->stop();
    state(QStringLiteral("listening"), m_status.listeningText());
    state(QStringLiteral("capture"), m_status.captureText());
    state(QStringLiteral("waiting"), m_status.waitingText());
    QStringList parts;
    for (const auto& [kind, text] : std::as_const(m_states)) {
        if (!text.isEmpty())
            parts << text;
        else if (kind == QLatin1String("waiting"))
            parts << tr("No contacts are held up any more");
    }
    parts += std::exchange(m_failures, {});
    if (m_acceptedCount == 1)
        parts << tr("Accepted %1").arg(m_accepted.first());
    else if (m_acceptedCount > 1)
        parts << tr("Accepted %1 contacts (%2%3)")
                     .arg(m_acceptedCount)
                     .arg(m_accepted.join(QStringLiteral(", ")),
                          m_acceptedCount > CallsNamed ? QStringLiteral(" ...") : QString());
    if (m_refusedCount == 1)
        parts << tr("Refused %1: %2").arg(m_refusedCall, m_refusedReason);
    else if (m_refusedCount > 1)
        parts << tr("Refused %1 contacts, the last: %2").arg(m_refusedCount).arg(m_refusedReason);
    if (m_kept > 0)
        parts << (m_kept == 1 ? tr("1 kept in NotUploadedQsosLog.adi")
                              : tr("%1 kept in NotUploadedQsosLog.adi").arg(m_kept));
    m_states.clear();
    m_accepted.clear();
    m_acceptedCount = m_refusedCount = m_kept = 0;
    if (parts.isEmpty())
        return;
    m_writer(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
             LogText::oneLine(parts.join(QStringLiteral("; "))));
}
