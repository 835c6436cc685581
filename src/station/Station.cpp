#include "station/Station.h"

#include "BuildInfo.h"
#include "capture/AdifRecord.h"
#include "capture/DatagramRelay.h"
#include "capture/SenderFilter.h"
#include "logs/DebugTrace.h"
#include "logs/LogFile.h"
#include "logs/LogText.h"
#include "outbox/Outbox.h"
#include "settings/LoginSource.h"
#include "settings/SettingConversions.h"
#include "status/RecentContacts.h"
#include "status/StatusModel.h"
#include "upload/HttpClient.h"
#include "upload/ServiceAddress.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <limits>

namespace {

const QString DefaultPort = QStringLiteral("12060");
const QLatin1String CrLf(LineEnd);

QString firstLine(const QString& text)
{
    return text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed();
}

// Each worker ends on its own thread, after its last task.
void finishOn(QThread& thread, QObject* worker, const std::function<void()>& last)
{
    if (!thread.isRunning()) {
        last();
        delete worker;
        return;
    }
    QMetaObject::invokeMethod(
        worker,
        [worker, last] {
            last();
            delete worker;
        },
        Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
}

} // namespace

QString Station::safe(const QString& text) const
{
    return LogText::safeText(text, m_login->current().password, std::numeric_limits<qsizetype>::max());
}

Station::Station(const AppPaths& paths, const Timings& timings, int receiveBuffer, QObject* parent)
    : QObject(parent), m_paths(paths), m_settings(paths.settingsFile(), paths.debugLog()), m_timings(timings),
      m_receiveBuffer(receiveBuffer), m_outbox(std::make_unique<Outbox>(paths.outbox())), m_status(new StatusModel(this)),
      m_recent(new RecentContacts(this)), m_login(new LoginSource(m_settings, this)),
      m_countStore(new QTimer(this))
{
    m_http = new HttpClient(this);
    m_uploader = new RealtimeUploader(*m_http, this);
    m_keeper = new DiskKeeper(*m_outbox, m_paths, m_settings);
    m_capture = new ContactCapture(*m_outbox, m_keeper, m_settings.trace());
    m_recent->attach(*m_status);
    m_countStore->setSingleShot(true);
    connect(m_countStore, &QTimer::timeout, this, [this] {
        if (m_countPending)
            storeCount();
    });
}

Station::~Station()
{
    stop();
    delete m_capture; // never started
    delete m_keeper;
}

void Station::startThreads()
{
    m_capture->setReceiveBufferSize(m_receiveBuffer);
    m_capture->setRebindInterval(m_timings.rebind);
    m_keeper->setIntervals(m_timings.outboxSync, m_timings.diskRetry);
    m_uploader->setPauses(m_timings.firstPause, m_timings.longestPause);
    m_uploader->setTimeout(m_timings.requestTimeout);
    m_countStore->setInterval(m_timings.countStore);

    m_captureThread.setObjectName(QStringLiteral("capture"));
    m_diskThread.setObjectName(QStringLiteral("disk"));
    m_capture->moveToThread(&m_captureThread);
    m_keeper->moveToThread(&m_diskThread);
    m_captureThread.start();
    m_diskThread.start();
    // From here on the disk thread is the one writer of the settings file, so
    // a synced replacement never stalls the window.
    DiskKeeper* keeper = m_keeper;
    m_settings.setWriteRequest([keeper] { keeper->settingsChanged(); });

    connect(m_capture, &ContactCapture::captured, this, &Station::handleBatch);
    connect(m_capture, &ContactCapture::listening, this, [this](quint16 port) {
        const bool again = !m_status->state().notListening.isEmpty();
        m_status->change([&](StationState& s) {
            s.listening = true;
            s.port = port;
            s.notListening.clear();
            if (again)
                s.verdict = tr("Listening again on UDP port %1").arg(port);
        });
    });
    connect(m_capture, &ContactCapture::notListening, this, &Station::onNotListening);
    connect(m_capture, &ContactCapture::counted, this, [this](const CaptureCounts& counts) {
        m_status->change([&](StationState& s) {
            s.kernelDrops = counts.kernelDrops;
            s.refusedDatagrams = counts.refused;
            s.relayFailures = counts.relayFailures;
        });
    });
    connect(m_capture, &ContactCapture::senderRefused, this,
            [this](const QString& address, quint16 port, const QString& entry) {
                const QString text =
                    tr("Datagrams from %1 (port %2) are not read: that sender is not allowed. To admit it, add %3 "
                       "to AllowedSenders in %4")
                        .arg(address)
                        .arg(port)
                        .arg(entry, QDir::toNativeSeparators(m_paths.settingsFile()));
                reportFailure(ErrorTitle::SenderRefused, text);
                emit m_status->notable(ErrorTitle::SenderRefused, text);
            });
    connect(m_capture, &ContactCapture::relayChanged, this, [this](const QStringList& destinations) {
        m_status->change([&](StationState& s) { s.relayTo = destinations; });
    });
    connect(m_capture, &ContactCapture::relayProblem, this,
            [this](const QString& text) { reportFailure(ErrorTitle::Relay, text); });
    connect(m_keeper, &DiskKeeper::kept, this, [this](quint64 key) {
        m_status->change([this](StationState& s) {
            ++s.kept;
            s.waiting = m_outbox->waitingCount();
        });
        emit m_status->contactKept(key);
    });
    connect(m_keeper, &DiskKeeper::heldChanged, this, [this](int count, const QString& reason) {
        m_status->change([&](StationState& s) {
            s.held = count;
            s.heldReason = reason;
            s.attention = s.attention || count > 0;
        });
    });
    connect(m_keeper, &DiskKeeper::replayed, this, &Station::onReplayed);
    connect(m_keeper, &DiskKeeper::settingsSaved, this, [this](bool ok, const QString& reason) {
        if (!ok)
            m_status->fail(tr("Settings could not be saved to Tarvex.ini: %1").arg(reason));
    });

    connect(m_uploader, &RealtimeUploader::sending, this, &Station::followUploader);
    connect(m_uploader, &RealtimeUploader::holdChanged, this, &Station::followUploader);
    connect(m_uploader, &RealtimeUploader::finished, this, &Station::onVerdict);
    connect(m_uploader, &RealtimeUploader::replied, this, [this](const QByteArray& body, const QString& password) {
        if (DebugTrace::enabled())
            m_settings.trace().write(TraceKey::UploadReturn, LogText::safeReply(body, password));
    });
    connect(m_uploader, &RealtimeUploader::outageBegan, this, [this](const QString& reason, const UploadResult& first) {
        reportError(ErrorTitle::Unreachable, reason + CrLf + QLatin1String("Sent Data= ") +
                                                 QString::fromUtf8(first.reportBody) + CrLf + first.contact.record);
    });
    connect(m_uploader, &RealtimeUploader::loginRefused, this,
            [this](const QString& reason, const QByteArray& reply, const QString& password) {
                reportError(ErrorTitle::LoginRefused, reason + CrLf + LogText::safeReply(reply, password));
            });
    connect(m_uploader, &RealtimeUploader::serviceBack, this,
            [this] { emit m_status->serviceBack(m_outbox->waitingCount()); });
    connect(m_login, &LoginSource::changed, m_uploader, &RealtimeUploader::setLogin);
    m_uploader->setSource([outbox = m_outbox.get()](quint64 key, int max) {
        QList<UploadContact> contacts;
        for (const Outbox::Entry& entry : outbox->waitingAfter(key, max))
            contacts.append({entry.key, entry.record});
        return contacts;
    });
    connect(m_login, &LoginSource::problem, m_status, &StatusModel::fail);
    connect(m_login, &LoginSource::changed, this, [this](const Credentials& login) {
        m_status->change([&](StationState& s) { s.loginSet = RealtimeUploader::isLoginComplete(login); });
    });
}

void Station::start()
{
    if (m_started)
        return;
    m_started = true;
    m_settings.CheckforInIfile();
    // Quick whatever the outbox holds: the port is bound before it is read.
    m_outbox->open();
    startThreads();
    if (!m_outbox->problem().isEmpty())
        reportFailure(ErrorTitle::Outbox, m_outbox->problem(), firstLine(m_outbox->problem()));

    // A stored port that does not convert is said, with the port used instead.
    const QString storedPort = m_settings.GetSettings(SettingKey::Port, DefaultPort);
    const std::optional<quint16> port = SettingConversions::toPort(storedPort);
    if (!port)
        reportFailure(ErrorTitle::UnusableSetting, tr("The UDPPort setting \"%1\" is not a port from 1 to 65534; Tarvex listens on %2 instead")
                          .arg(storedPort, DefaultPort));
    bindPort(port.value_or(DefaultPort.toUShort()));

    setDebug(SettingConversions::toBoolean(m_settings.GetSettings(SettingKey::Debug, "False")).value_or(false));

    applyCaptureSettings();

    const ServiceBase service =
        resolveServiceBase(SettingKey::ServiceHost, m_settings.GetSettings(SettingKey::ServiceHost, {}),
                           QString::fromUtf8(BuildInfo::ServiceHost));
    m_uploader->setEndpoint(serviceUrl(service.url, QStringLiteral("/realtime.php")), service.problem,
                            service.plainHttpHint);
    m_status->change([&](StationState& s) {
        s.service = service.problem.isEmpty() ? service.url.toDisplayString() : service.problem;
        s.serviceUsable = service.problem.isEmpty();
    });
    if (!service.problem.isEmpty())
        reportFailure(ErrorTitle::UnusableSetting, service.problem);
    const ServiceBase update =
        resolveServiceBase(SettingKey::UpdateHost, m_settings.GetSettings(SettingKey::UpdateHost, {}),
                           QString::fromUtf8(BuildInfo::UpdateHost));
    if (!update.problem.isEmpty())
        reportFailure(ErrorTitle::UnusableSetting, update.problem);

    m_login->load();

    // A stored "True" is written back, as the check box's handler always did;
    // a stored "False" is left as the operator wrote it.
    const bool autoUpload =
        SettingConversions::toBoolean(m_settings.GetSettings(SettingKey::AutoUpload, "True")).value_or(true);
    if (autoUpload)
        setAutoUpload(true);
    else
        applyAutoUpload(false);

    const std::optional<qint32> count =
        SettingConversions::toCount(m_settings.GetSettings(SettingKey::TotalUploaded, "0"));
    const bool errorsOnDisk =
        QFileInfo::exists(m_paths.nonUploaded()) || QFileInfo::exists(m_paths.errorLog());
    m_status->change([&](StationState& s) {
        s.uploaded = count.value_or(0);
        s.errorsOnDisk = s.errorsOnDisk || errorsOnDisk;
        s.attention = s.attention || errorsOnDisk;
    });
    m_keeper->replay();
}

void Station::onReplayed(const Outbox::Replay& replay)
{
    if (replay.damaged > 0)
        reportError(ErrorTitle::Outbox, tr("%1 of the outbox could not be read and were moved to %2")
                                            .arg(replay.damaged == 1 ? tr("1 damaged entry")
                                                                     : tr("%1 damaged entries").arg(replay.damaged),
                                                 QDir::toNativeSeparators(m_paths.damagedOutbox())));
    if (!replay.problem.isEmpty())
        m_status->fail(firstLine(replay.problem));
    // Contacts an earlier run left go first: before this, nothing was sent.
    if (!m_replayed && replay.earlier > 0) {
        m_catchUpLeft = replay.earlier;
        m_status->change([&](StationState& s) {
            s.catchUp = tr("%1 from the last run are being sent").arg(StatusModel::contacts(m_catchUpLeft));
        });
    }
    m_replayed = true;
    m_uploader->readSource();
}

void Station::applyCaptureSettings()
{
    QStringList problems;
    const SenderFilter senders = SenderFilter::fromSetting(m_settings.GetLongSetting(SettingKey::AllowedSenders),
                                                           SenderFilter::interfaceNetworks(), &problems);
    const QList<RelayDestination> relay = parseRelayTo(m_settings.GetLongSetting(SettingKey::RelayTo), &problems);
    m_capture->setSenders(senders);
    m_capture->setRelay(relay);
    for (const QString& problem : std::as_const(problems))
        reportFailure(ErrorTitle::UnusableSetting, problem);
}

void Station::bindPort(quint16 port)
{
    m_reportedPort = 0;
    QMetaObject::invokeMethod(
        m_capture, [capture = m_capture, port] { capture->bind(port); }, Qt::QueuedConnection);
}

void Station::onNotListening(quint16 port, const QString& reason)
{
    m_status->change([&](StationState& s) {
        s.listening = false;
        s.port = port;
        s.notListening = reason;
        s.attention = true;
    });
    // Once per port asked for; the status keeps saying it while Tarvex tries again.
    if (m_reportedPort == port)
        return;
    m_reportedPort = port;
    reportError(ErrorTitle::NotListening.arg(port), reason);
    emit m_status->bindFailed(port, reason);
}

void Station::reportFailure(const QString& title, const QString& text, const QString& line)
{
    reportError(title, text);
    m_status->fail(line.isEmpty() ? text : line);
}

void Station::reportError(const QString& title, const QString& text)
{
    if (m_keeper)
        m_keeper->report(title, safe(text));
    m_status->change([](StationState& s) {
        s.attention = true;
        s.errorsOnDisk = true;
    });
}

void Station::setAutoUpload(bool on)
{
    m_settings.SaveSettings(SettingKey::AutoUpload, on ? QStringLiteral("True") : QStringLiteral("False"), false);
    applyAutoUpload(on);
}

void Station::applyAutoUpload(bool on)
{
    m_capture->setAutoUpload(on);
    m_uploader->setPaused(!on);
    m_status->change([on](StationState& s) { s.autoUpload = on; });
}

void Station::setDebug(bool on)
{
    DebugTrace::setEnabled(on);
    m_status->change([on](StationState& s) { s.debug = on; });
    m_settings.SaveSettings(SettingKey::Debug, on ? QStringLiteral("True") : QStringLiteral("False"), false);
    m_settings.SaveSettings(SettingKey::Version, versionText(), false);
}

void Station::resetCount()
{
    m_status->change([](StationState& s) { s.uploaded = 0; });
    storeCount();
}

void Station::showJob(const QString& text)
{
    m_status->change([&](StationState& s) { s.job = text; });
}

void Station::acknowledgeErrors()
{
    m_status->change([](StationState& s) { s.attention = false; });
}

void Station::handleBatch(const CaptureBatch& batch)
{
    if (batch.contacts.isEmpty())
        return;
    for (const CapturedContact& contact : batch.contacts) {
        if (contact.kind == DatagramKind::Unreadable) {
            // Kept (up to a size), so the contact can be recovered by hand.
            reportFailure(ErrorTitle::UnreadableDatagram,
                          ContactConverter::unreadableReport(contact.datagram, contact.problem),
                          tr("Contact datagram could not be read: %1").arg(contact.problem));
        } else if (contact.kind == DatagramKind::Contact) {
            emit m_status->contactReceived(contact.key, contact.record, contact.key != 0);
            // Before the replay they are read back from the outbox with the older ones.
            if (contact.key != 0 && m_replayed)
                m_uploader->enqueue({contact.key, contact.record});
        }
    }
    // Each datagram starts with a clear status line.
    const bool anyContact = std::any_of(batch.contacts.cbegin(), batch.contacts.cend(),
                                        [](const CapturedContact& c) { return c.kind == DatagramKind::Contact; });
    m_status->change([&](StationState& s) {
        s.datagram = batch.contacts.last().datagram;
        s.verdict.clear();
        if (anyContact)
            s.lastContact = QDateTime::currentDateTime();
    });
    if (!batch.outboxError.isEmpty())
        m_status->fail(tr("Contacts could not be written to the outbox (%1); they are sent from memory")
                           .arg(batch.outboxError));
}

void Station::followUploader()
{
    m_status->change([this](StationState& s) {
        s.hold = m_uploader->hold();
        s.holdReason = m_uploader->holdReason();
        s.nextTry = m_uploader->nextTry();
        s.waiting = m_outbox->waitingCount();
        s.inFlight = m_uploader->inFlight();
    });
}

void Station::onVerdict(const UploadResult& result)
{
    const QString call = adifField(result.contact.record, u"CALL");
    if (m_catchUpLeft > 0 && --m_catchUpLeft == 0)
        m_status->change([](StationState& s) { s.catchUp.clear(); });
    if (result.accepted) {
        m_keeper->done(result.contact.key);
        m_status->change([&](StationState& s) {
            s.verdict = StatusText::UploadComplete;
            if (s.uploaded < std::numeric_limits<qint32>::max())
                ++s.uploaded;
            ++s.accepted;
            s.lastAccepted = {QDateTime::currentDateTime(), call};
        });
        if (m_countStore->isActive())
            m_countPending = true;
        else
            storeCount();
        emit m_status->contactAccepted(result.contact.key, result.contact.record);
    } else {
        // The first line says what failed: the service's own words, or, when
        // it gave none, why there was no usable answer.
        const QString reply = LogText::safeReply(result.reply, result.password);
        QString headline = reply;
        if (!result.failure.isEmpty())
            headline = reply.isEmpty() ? result.failure : result.failure + CrLf + reply;
        // The reason and the contact reach the disk together.
        m_keeper->keep(result.contact.key, result.contact.record, ErrorTitle::ServiceError,
                       safe(headline + CrLf + QLatin1String("Sent Data= ") + QString::fromUtf8(result.reportBody) +
                            CrLf + result.contact.record));
        const QString reason = firstLine(reply).isEmpty() ? result.failure : firstLine(reply);
        m_status->change([&](StationState& s) {
            s.attention = true;
            s.errorsOnDisk = true;
            s.verdict = StatusText::UploadRejected;
            ++s.refused;
            s.lastFailure = {QDateTime::currentDateTime(), tr("Refused %1: %2").arg(call, reason)};
        });
        emit m_status->contactRefused(result.contact.key, result.contact.record, reason);
    }
    followUploader();
}

void Station::storeCount()
{
    m_countPending = false;
    m_settings.SaveSettings(SettingKey::TotalUploaded, QString::number(m_status->state().uploaded), false);
    m_countStore->start();
}

QStringList Station::stop()
{
    if (m_stopped || !m_started)
        return {};
    m_stopped = true;
    // What is on its way may end for a moment (a verdict now is no duplicate
    // at the next start); the rest stays in the outbox.
    m_uploader->stopStarting();
    QEventLoop wait;
    QTimer::singleShot(m_timings.exitGrace, &wait, &QEventLoop::quit);
    const auto whenLanded = [this, &wait] {
        if (m_uploader->inFlight() == 0)
            wait.quit();
    };
    connect(m_uploader, &RealtimeUploader::holdChanged, &wait, whenLanded);
    connect(m_uploader, &RealtimeUploader::finished, &wait, whenLanded, Qt::QueuedConnection);
    if (m_uploader->inFlight() > 0)
        wait.exec();
    m_uploader->abandonAll();
    if (m_countPending)
        storeCount();
    // Every datagram already read or still on the socket goes into the outbox;
    // nothing more is handed to the uploader now.
    ContactCapture* capture = std::exchange(m_capture, nullptr);
    capture->disconnect(this);
    finishOn(m_captureThread, capture, [capture] { capture->drain(); });
    // The keeper writes what is still queued; later changes are written here.
    m_settings.setWriteRequest({});
    DiskKeeper* keeper = std::exchange(m_keeper, nullptr);
    ExitSummary left;
    finishOn(m_diskThread, keeper, [keeper, &left] { left = keeper->finish(); });
    m_settings.writePending();

    // Only what really is on the disk is said to be kept.
    QStringList lines;
    if (left.waiting > 0)
        lines << tr("%1 stay in the outbox (%2); the next start of Tarvex sends them.")
                     .arg(StatusModel::contacts(left.waiting), QDir::toNativeSeparators(m_outbox->path()));
    if (left.inNotUploaded > 0)
        lines << tr("%1 could not be written to the outbox and went to %2.")
                     .arg(StatusModel::contacts(left.inNotUploaded), QDir::toNativeSeparators(m_paths.nonUploaded()));
    if (left.rescued > 0)
        lines << tr("%1 could not be written to the outbox and went to %2; the next start of Tarvex sends them.")
                     .arg(StatusModel::contacts(left.rescued), QDir::toNativeSeparators(left.rescueFile));
    if (!left.lost.isEmpty())
        lines << tr("%1 could be written nowhere (%2); here they are:")
                     .arg(StatusModel::contacts(int(left.lost.size())), m_outbox->lastError())
              << left.lost;
    return lines;
}
