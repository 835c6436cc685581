#include "status/StatusModel.h"

#include <QStringList>

namespace {

QString clock(const QDateTime& when)
{
    return when.toString(QStringLiteral("HH:mm"));
}

} // namespace

StatusModel::StatusModel(QObject* parent) : QObject(parent) {}

QString StatusModel::contacts(int count)
{
    return count == 1 ? tr("1 contact") : tr("%1 contacts").arg(count);
}

void StatusModel::fail(const QString& text)
{
    change([&](StationState& s) { s.lastFailure = {QDateTime::currentDateTime(), text}; });
    emit failed(text);
}

QString StatusModel::activity() const
{
    const StationState& s = m_state;
    if (!s.job.isEmpty())
        return s.job;
    if (s.hold != UploadHold::None && s.waiting > 0)
        return {}; // the waiting line says why
    if (!s.catchUp.isEmpty())
        return s.catchUp;
    return s.inFlight > 0 ? StatusText::Uploading : s.verdict;
}

QString StatusModel::listeningText() const
{
    if (m_state.listening)
        return tr("Listening on UDP port %1").arg(m_state.port);
    if (m_state.notListening.isEmpty())
        return tr("Not listening yet");
    // The port first: a narrow window cuts the end of the line.
    return tr("Not listening: UDP port %1 - %2").arg(m_state.port).arg(m_state.notListening);
}

QString StatusModel::captureText() const
{
    const StationState& s = m_state;
    QStringList parts;
    if (!s.relayTo.isEmpty())
        parts << tr("Relaying datagrams to %1").arg(s.relayTo.join(QStringLiteral(", "))) +
                     (s.relayFailures ? tr(" (%1 could not be delivered)").arg(s.relayFailures) : QString());
    if (s.kernelDrops > 0)
        parts << (s.kernelDrops == 1 ? tr("1 datagram dropped by the system (receive buffer full)")
                                     : tr("%1 datagrams dropped by the system (receive buffer full)").arg(s.kernelDrops));
    if (s.refusedDatagrams > 0)
        parts << (s.refusedDatagrams == 1 ? tr("1 datagram from a sender not allowed")
                                          : tr("%1 datagrams from senders not allowed").arg(s.refusedDatagrams));
    return parts.join(QStringLiteral(" · "));
}

QString StatusModel::countsText() const
{
    return tr("Accepted %1 · Waiting %2 · Refused %3 · In file %4")
        .arg(m_state.accepted)
        .arg(m_state.waiting)
        .arg(m_state.refused)
        .arg(m_state.kept);
}

QString StatusModel::acceptedText() const
{
    const Stamped& last = m_state.lastAccepted;
    return last.when.isValid() ? tr("Last accepted %1 %2").arg(clock(last.when), last.text) : QString();
}

QString StatusModel::failureText() const
{
    const Stamped& last = m_state.lastFailure;
    return last.when.isValid() ? clock(last.when) + QLatin1Char(' ') + last.text : QString();
}

QString StatusModel::waitingText() const
{
    const StationState& s = m_state;
    QStringList parts;
    if (s.waiting > 0 && s.hold != UploadHold::None) {
        QString text = tr("%1 waiting for Corvane: %2").arg(contacts(s.waiting), s.holdReason);
        if (s.hold == UploadHold::Retrying && s.nextTry.isValid())
            text += tr("; next try at %1").arg(s.nextTry.toString(QStringLiteral("HH:mm:ss")));
        parts << text;
    }
    if (s.held > 0)
        parts << tr("%1 could not be written (%2); trying again every 10 s").arg(contacts(s.held), s.heldReason);
    return parts.join(QStringLiteral(" · "));
}

StatusModel::Health StatusModel::health() const
{
    const StationState& s = m_state;
    if (!s.listening)
        return Health::NotListening;
    if (s.attention || s.held > 0)
        return Health::Errors;
    if (s.waiting > 0 && s.hold != UploadHold::None)
        return Health::Waiting;
    return Health::Fine;
}

QString StatusModel::toolTip() const
{
    QStringList lines{QStringLiteral("Tarvex"), listeningText(), countsText()};
    for (const QString& line : {captureText(), acceptedText(), waitingText(), failureText()}) {
        if (!line.isEmpty())
            lines << line;
    }
    return lines.join(QLatin1Char('\n'));
}
