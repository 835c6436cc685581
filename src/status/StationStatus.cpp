#include "status/StationStatus.h"

#include "capture/ContactCapture.h"
#include "outbox/DiskKeeper.h"
#include "upload/ContactPipeline.h"

#include <QLocale>

namespace {

QString contacts(int count)
{
    return count == 1 ? QStringLiteral("1 contact") : QStringLiteral("%1 contacts").arg(count);
}

} // namespace

StationStatus::StationStatus(QObject* parent) : QObject(parent) {}

void StationStatus::attach(ContactCapture* capture, ContactPipeline& pipeline, RealtimeUploader& uploader,
                           DiskKeeper* keeper)
{
    if (capture) {
        connect(capture, &ContactCapture::listening, this, &StationStatus::setListening);
        connect(capture, &ContactCapture::notListening, this, &StationStatus::setNotListening);
    }
    const auto followUploader = [this, &uploader] {
        setHold(uploader.hold(), uploader.waitingCount(), uploader.holdReason(), uploader.nextTry());
    };
    connect(&uploader, &RealtimeUploader::holdChanged, this, followUploader);
    connect(&pipeline, &ContactPipeline::contactAccepted, this, [this, followUploader] {
        countAccepted();
        followUploader();
    });
    connect(&pipeline, &ContactPipeline::contactRefused, this,
            [this, followUploader](quint64, const QString&, const QString& reason) {
                countRefused(reason);
                followUploader();
            });
    connect(&pipeline, &ContactPipeline::contactKept, this, &StationStatus::countKept);
    connect(&pipeline, &ContactPipeline::datagramUnreadable, this, [this](const QString& reason) {
        setFailure(tr("Contact datagram could not be read: %1").arg(reason));
    });
    if (keeper) {
        connect(keeper, &DiskKeeper::heldChanged, this, &StationStatus::setHeld);
        connect(keeper, &DiskKeeper::settingsSaved, this, [this](bool ok, const QString& reason) {
            if (!ok)
                setFailure(tr("Settings could not be saved to Tarvex.ini: %1").arg(reason));
        });
    }
}

void StationStatus::setListening(quint16 port)
{
    const bool again = !m_listening && m_everFailed;
    const bool changedNow = !m_listening || m_port != port;
    m_listening = true;
    m_port = port;
    m_notListeningReason.clear();
    update(changedNow);
    if (again)
        emit listeningAgain(port);
}

void StationStatus::setNotListening(quint16 port, const QString& reason)
{
    const bool changedNow = m_listening || m_port != port || m_notListeningReason != reason;
    m_listening = false;
    m_everFailed = true;
    m_port = port;
    m_notListeningReason = reason;
    update(changedNow);
}

void StationStatus::setHold(UploadHold hold, int waiting, const QString& reason, const QDateTime& nextTry)
{
    const bool changedNow =
        hold != m_hold || waiting != m_waiting || reason != m_holdReason || nextTry != m_nextTry;
    m_hold = hold;
    m_waiting = waiting;
    m_holdReason = reason;
    m_nextTry = nextTry;
    update(changedNow);
}

void StationStatus::countAccepted()
{
    ++m_accepted;
    update(true);
}

void StationStatus::countRefused(const QString& reason)
{
    ++m_refused;
    m_failure = tr("Refused: %1").arg(reason);
    update(true);
}

void StationStatus::countKept()
{
    ++m_kept;
    update(true);
}

void StationStatus::setHeld(int count, const QString& reason)
{
    const bool changedNow = count != m_held || reason != m_heldReason;
    m_held = count;
    m_heldReason = reason;
    update(changedNow);
}

void StationStatus::setFailure(const QString& line)
{
    const bool changedNow = line != m_failure;
    m_failure = line;
    update(changedNow);
}

void StationStatus::setAttention(bool on)
{
    const bool changedNow = on != m_attention;
    m_attention = on;
    update(changedNow);
}

void StationStatus::update(bool changedNow)
{
    if (changedNow)
        emit changed();
}

QString StationStatus::listeningText() const
{
    if (m_listening)
        return tr("Listening on UDP port %1").arg(m_port);
    if (m_notListeningReason.isEmpty())
        return tr("Not listening yet");
    // The port first: a narrow window cuts the end of the line.
    return tr("Not listening: UDP port %1 - %2").arg(m_port).arg(m_notListeningReason);
}

QString StationStatus::countsText() const
{
    return tr("Accepted %1 · Waiting %2 · Refused %3 · In file %4")
        .arg(m_accepted)
        .arg(m_waiting)
        .arg(m_refused)
        .arg(m_kept);
}

QString StationStatus::waitingText() const
{
    QStringList parts;
    if (m_waiting > 0 && m_hold != UploadHold::None) {
        QString text = tr("%1 waiting for Corvane: %2").arg(contacts(m_waiting), m_holdReason);
        if (m_hold == UploadHold::Retrying && m_nextTry.isValid())
            text += tr("; next try at %1").arg(QLocale().toString(m_nextTry.time(), QStringLiteral("HH:mm:ss")));
        parts << text;
    }
    if (m_held > 0)
        parts << tr("%1 could not be written (%2); trying again every 10 s").arg(contacts(m_held), m_heldReason);
    return parts.join(QStringLiteral(" · "));
}

StationStatus::Health StationStatus::health() const
{
    if (!m_listening)
        return Health::NotListening;
    if (m_attention || m_held > 0)
        return Health::Errors;
    if (m_waiting > 0 && m_hold != UploadHold::None)
        return Health::Waiting;
    return Health::Fine;
}

QString StationStatus::toolTip() const
{
    QStringList lines{QStringLiteral("Tarvex"), listeningText(), countsText()};
    const QString waitingLine = waitingText();
    if (!waitingLine.isEmpty())
        lines << waitingLine;
    if (!m_failure.isEmpty())
        lines << m_failure;
    return lines.join(QLatin1Char('\n'));
}
