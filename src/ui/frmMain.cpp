#include "ui/frmMain.h"

#include "BuildInfo.h"
#include "capture/ContactCapture.h"
#include "logs/DebugTrace.h"
#include "logs/ErrorLog.h"
#include "outbox/DiskKeeper.h"
#include "outbox/Outbox.h"
#include "settings/SettingConversions.h"
#include "status/Notifications.h"
#include "status/RecentContacts.h"
#include "status/StationStatus.h"
#include "ui/About.h"
#include "ui/Common.h"
#include "ui/ManualUpload.h"
#include "ui/Palette.h"
#include "ui/Prompter.h"
#include "ui/RecentContactsView.h"
#include "ui/TrayIcon.h"
#include "upload/ContactPipeline.h"
#include "upload/HttpClient.h"
#include "upload/RealtimeUploader.h"
#include "upload/ServiceAddress.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <cstdio>

namespace {
const QString ErrorIndicatorText = QStringLiteral("Error information has been written to ErrorLog file!!");
const QString DefaultPort = QStringLiteral("12060");
const QString PortRange = QStringLiteral("Ports run from 1 to 65534.");
} // namespace

QString versionText()
{
    return QStringLiteral(" %1.%2.%3")
        .arg(BuildInfo::VersionMajor)
        .arg(BuildInfo::VersionMinor)
        .arg(BuildInfo::VersionRevision);
}

frmMain::frmMain(const AppPaths& paths, Prompter& prompter, QWidget* parent)
    : QMainWindow(parent), m_paths(paths), m_prompter(prompter),
      m_settings(paths.settingsFile(), paths.debugLog()),
      m_receiveBuffer(ContactCapture::DefaultReceiveBuffer),
      m_outbox(std::make_unique<Outbox>(paths.outbox()))
{
    setupUi();
    m_uploader = new RealtimeUploader(*new HttpClient(this), this);
    m_keeper = new DiskKeeper(*m_outbox, m_paths.nonUploaded(), m_settings);
    m_capture = new ContactCapture(*m_outbox, m_keeper, m_settings.trace());
    m_pipeline = new ContactPipeline(m_settings, m_paths.errorLog(), *m_uploader, m_keeper, this);
    m_status = new StationStatus(this);
    m_status->attach(m_capture, *m_pipeline, *m_uploader, m_keeper);
    m_recent = new RecentContacts(this);
    m_recent->attach(*m_pipeline);
    m_notifications = new Notifications(this);
    m_notifications->attach(*m_status, *m_pipeline, *m_uploader);
    m_manualUpload = new ManualUpload(*this, m_prompter, m_paths, m_settings, this);

    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setSingleShot(true);
    connect(m_refreshTimer, &QTimer::timeout, this, &frmMain::refresh);
}

frmMain::~frmMain()
{
    Form_Unload();
}

void frmMain::setTimings(const Timings& timings)
{
    m_timings = timings;
}

void frmMain::setReceiveBufferSize(int bytes)
{
    m_receiveBuffer = bytes;
}

void frmMain::startWorkers()
{
    m_capture->setReceiveBufferSize(m_receiveBuffer);
    m_capture->setRebindInterval(m_timings.rebind);
    m_keeper->setIntervals(m_timings.outboxSync, m_timings.diskRetry);
    m_uploader->setPauses(m_timings.firstPause, m_timings.longestPause);
    m_uploader->setTimeout(m_timings.requestTimeout);
    m_notifications->setRefusalWindow(m_timings.refusalNotices);
    Timer1->setInterval(m_timings.errorFlash);

    m_captureThread.setObjectName(QStringLiteral("capture"));
    m_diskThread.setObjectName(QStringLiteral("disk"));
    m_capture->moveToThread(&m_captureThread);
    m_keeper->moveToThread(&m_diskThread);
    m_captureThread.start();
    m_diskThread.start();
    // From here on a settings change is written by the disk thread, the one
    // writer of the file, so a synced replacement never stalls the window.
    DiskKeeper* keeper = m_keeper;
    m_settings.setWriteRequest([keeper] { keeper->settingsChanged(); });
}

void frmMain::Form_Load()
{
    m_settings.CheckforInIfile();
    const QList<Outbox::Entry> waiting = m_outbox->open();
    startWorkers();
    connectHandlers();

    // A stored port that does not convert is said, with the port used instead.
    const QString storedPort = m_settings.GetSettings(SettingKey::Port, DefaultPort);
    const std::optional<quint16> port = SettingConversions::toPort(storedPort);
    if (!port)
        reportUnusableSetting(
            tr("The UDPPort setting \"%1\" is not a port from 1 to 65534; Tarvex listens on %2 instead")
                .arg(storedPort, DefaultPort));
    BindSocket(port.value_or(DefaultPort.toUShort()));

    mnuDebug_Click(
        SettingConversions::toBoolean(m_settings.GetSettings(SettingKey::Debug, "False")).value_or(false)
            ? 0
            : 1);

    const ServiceBase service =
        resolveServiceBase(SettingKey::ServiceHost, m_settings.GetSettings(SettingKey::ServiceHost, {}),
                           QString::fromUtf8(BuildInfo::ServiceHost));
    m_uploader->setEndpoint(serviceUrl(service.url, QStringLiteral("/realtime.php")), service.problem);
    if (!service.problem.isEmpty())
        reportUnusableSetting(service.problem);
    const ServiceBase update =
        resolveServiceBase(SettingKey::UpdateHost, m_settings.GetSettings(SettingKey::UpdateHost, {}),
                           QString::fromUtf8(BuildInfo::UpdateHost));
    if (!update.problem.isEmpty())
        reportUnusableSetting(update.problem);

    // Each assignment is a change, and each change is written straight back.
    txtCorvaneEmailAddress->setText(m_settings.GetSettings(SettingKey::EmailAddress, "Not Set"));
    txtCorvaneCallsign->setText(m_settings.GetSettings(SettingKey::Callsign, "Not Set"));
    txtCorvanePassword->setText(m_settings.GetSettings(SettingKey::Password, "Not Set"));

    const bool autoUpload =
        SettingConversions::toBoolean(m_settings.GetSettings(SettingKey::AutoUpload, "True")).value_or(true);
    chkEnableAuto->setChecked(autoUpload);
    chkEnableAuto_Click(autoUpload);

    const QString storedCount = m_settings.GetSettings(SettingKey::TotalUploaded, "0");
    const std::optional<qint32> count = SettingConversions::toCount(storedCount);
    txtTotalQSOUploaded->setText(count ? storedCount : QStringLiteral("0"));
    m_pipeline->setUploadedCount(count.value_or(0));
    m_shownCount = count.value_or(0);

    const bool errorsOnDisk =
        QFileInfo::exists(m_paths.nonUploaded()) || QFileInfo::exists(m_paths.errorLog());
    if (errorsOnDisk) {
        mnuError->menuAction()->setVisible(true);
        startErrorIndicator();
    }

    Common::HookWindow(this, [this] { stopErrorIndicator(); });

    if (!waiting.isEmpty()) {
        m_status->setFailure(
            tr("%n contact(s) from the last run are being sent", nullptr, int(waiting.size())));
        m_pipeline->resume(waiting);
    }
    if (!m_headless)
        restoreGeometry(
            QSettings(m_paths.windowState(), QSettings::IniFormat).value("geometry").toByteArray());
}

void frmMain::connectHandlers()
{
    connect(m_capture, &ContactCapture::captured, m_pipeline, &ContactPipeline::handleBatch);
    connect(m_capture, &ContactCapture::listening, this, &frmMain::onListening);
    connect(m_capture, &ContactCapture::notListening, this, &frmMain::onNotListening);
    connect(m_pipeline, &ContactPipeline::datagramShown, this, &frmMain::requestRefresh);
    connect(m_pipeline, &ContactPipeline::statusChanged, this, &frmMain::showStatus);
    connect(m_pipeline, &ContactPipeline::uploadedCountChanged, this, &frmMain::requestRefresh);
    connect(m_pipeline, &ContactPipeline::errorReported, this, &frmMain::onErrorReported);
    connect(m_manualUpload, &ManualUpload::errorReported, this, &frmMain::onErrorReported);
    connect(m_status, &StationStatus::changed, this, &frmMain::requestRefresh);
    connect(m_status, &StationStatus::listeningAgain, this,
            [this](quint16 port) { showStatus(tr("Listening again on UDP port %1").arg(port)); });
    connect(m_keeper, &DiskKeeper::heldChanged, this, [this](int count) {
        if (count > 0)
            startErrorIndicator();
    });
    connect(m_keeper, &DiskKeeper::settingsSaved, this, [this](bool ok) {
        if (!ok)
            startErrorIndicator();
    });
    m_uploader->setCredentialSource([this] {
        return Credentials{txtCorvaneEmailAddress->text(), txtCorvanePassword->text(),
                           txtCorvaneCallsign->text()};
    });

    connect(txtCorvaneEmailAddress, &QLineEdit::textChanged, this,
            [this](const QString& text) { saveCredential(SettingKey::EmailAddress, text); });
    connect(txtCorvaneCallsign, &QLineEdit::textChanged, this,
            [this](const QString& text) { saveCredential(SettingKey::Callsign, text); });
    connect(txtCorvanePassword, &QLineEdit::textChanged, this,
            [this](const QString& text) { saveCredential(SettingKey::Password, text); });
    connect(chkEnableAuto, &QCheckBox::clicked, this, &frmMain::chkEnableAuto_Click);
    txtPort->installEventFilter(this);
    connect(txtPort, &QLineEdit::returnPressed, this, [this] { applyPort(false); });

    connect(Timer1, &QTimer::timeout, this, [this] { ProgramErrorFlash(true); });
    connect(cmdReset, &QPushButton::clicked, this, &frmMain::cmdReset_Click);
    connect(mnuOpenErrorLog, &QAction::triggered, this, [this] { openLog(m_paths.errorLog()); });
    connect(mnuViewNonUploaded, &QAction::triggered, this, [this] { openLog(m_paths.nonUploaded()); });
    connect(mnuClearErrorLog, &QAction::triggered, this, &frmMain::mnuClearErrorLog_Click);
    connect(mnuDebug0, &QAction::triggered, this, [this] { mnuDebug_Click(0); });
    connect(mnuDebug1, &QAction::triggered, this, [this] { mnuDebug_Click(1); });
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
    connect(mnuRecent, &QAction::triggered, this, &frmMain::mnuRecent_Click);

    if (!m_headless && QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new TrayIcon(windowIcon(), this);
        connect(m_tray, &TrayIcon::activated, this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
    }
    if (!m_headless) {
        auto* notifier = new DesktopNotifier(m_tray, this);
        connect(m_notifications, &Notifications::notify, notifier, &DesktopNotifier::notify);
    }
}

void frmMain::BindSocket(qint64 port)
{
    m_portInUse = static_cast<quint16>(port);
    m_reportedPort = 0;
    txtPort->setText(QString::number(m_portInUse));
    QMetaObject::invokeMethod(
        m_capture, [capture = m_capture, p = m_portInUse] { capture->bind(p); }, Qt::QueuedConnection);
}

void frmMain::onListening(quint16 port)
{
    m_portInUse = port;
    if (!txtPort->hasFocus())
        txtPort->setText(QString::number(port));
}

void frmMain::onNotListening(quint16 port, const QString& reason)
{
    startErrorIndicator();
    // The box and the error block once per port asked for; the status bar
    // keeps saying it while Tarvex tries again.
    if (m_reportedPort == port)
        return;
    m_reportedPort = port;
    ErrorLog(m_paths.errorLog()).write(tr("Not listening on UDP port %1").arg(port), reason);
    mnuError->menuAction()->setVisible(true);
    m_prompter.message(this, QStringLiteral("Error occured: \r\n") + reason, QStringLiteral("Failure"),
                       Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
}

void frmMain::reportUnusableSetting(const QString& problem)
{
    ErrorLog(m_paths.errorLog()).write(tr("Unusable setting in Tarvex.ini"), problem);
    onErrorReported();
    m_status->setFailure(problem);
}

void frmMain::txtPort_LostFocus()
{
    applyPort(false);
}

void frmMain::applyPort(bool quietWhenInvalid)
{
    // The message box takes the focus too; one check at a time.
    if (m_checkingPort)
        return;
    const QString text = txtPort->text();
    if (!IsValidPort(text)) {
        if (quietWhenInvalid)
            return;
        m_checkingPort = true;
        m_prompter.message(this, QStringLiteral("Invalid port specified!"), QStringLiteral("Failure"),
                           Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        txtPort->setText(QString::number(m_portInUse));
        showStatusNow(PortRange);
        m_checkingPort = false;
        return;
    }
    const quint16 port = portFromText(text);
    if (port == m_portInUse && m_status->isListening())
        return;
    m_settings.SaveSettings(SettingKey::Port, text, false);
    BindSocket(port);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == txtPort && event->type() == QEvent::FocusOut) {
        // Opening a menu leaves the port box alone; switching to another
        // program applies a valid port quietly (the operator typed it for the
        // logger) and leaves an invalid one for when the focus moves inside.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::ActiveWindowFocusReason)
            applyPort(true);
        else if (reason != Qt::PopupFocusReason)
            applyPort(false);
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::saveCredential(const QString& key, const QString& text)
{
    m_settings.SaveSettings(key, text, false);
    m_uploader->loginChanged();
}

void frmMain::chkEnableAuto_Click(bool checked)
{
    m_settings.SaveSettings(SettingKey::AutoUpload,
                            checked ? QStringLiteral("True") : QStringLiteral("False"), false);
    m_capture->setAutoUpload(checked);
    m_uploader->setPaused(!checked);
}

void frmMain::mnuDebug_Click(int Index)
{
    const bool on = Index == 0;
    // Qt flips a checkable item before this runs; both marks are set here.
    mnuDebug0->setChecked(on);
    mnuDebug1->setChecked(!on);
    DebugTrace::setEnabled(on);
    m_settings.SaveSettings(SettingKey::Debug, on ? QStringLiteral("True") : QStringLiteral("False"), false);
    m_settings.SaveSettings(SettingKey::Version, versionText(), false);
}

void frmMain::cmdReset_Click()
{
    const Prompter::Answer answer =
        m_prompter.message(this, tr("Reset the count of uploaded contacts to 0?"), QString(),
                           Prompter::Buttons::YesNo, Prompter::Icon::None);
    if (answer == Prompter::Answer::Yes)
        m_pipeline->resetUploadedCount();
}

void frmMain::openLog(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        showStatus(tr("%1 does not exist yet.").arg(QFileInfo(path).fileName()));
        return;
    }
    m_prompter.openUrl(QUrl::fromLocalFile(path));
}

void frmMain::mnuClearErrorLog_Click()
{
    QFile log(m_paths.errorLog());
    if (!log.exists()) {
        showStatus(tr("%1 does not exist yet.").arg(QFileInfo(log).fileName()));
        return;
    }
    const Prompter::Answer answer = m_prompter.message(
        this, tr("Delete the error log?\r\n%1").arg(QDir::toNativeSeparators(log.fileName())), QString(),
        Prompter::Buttons::YesNo, Prompter::Icon::Exclamation);
    if (answer != Prompter::Answer::Yes || log.remove())
        return;
    m_prompter.message(this, tr("The error log could not be deleted:\r\n%1").arg(log.errorString()),
                       QString(), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
}

void frmMain::mnuAbout_Click()
{
    if (!m_about) {
        m_about = new About(m_prompter, m_paths.directory(), m_settings);
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setAttribute(Qt::WA_QuitOnClose, false);
        m_about->setWindowIcon(windowIcon());
        m_about->adjustSize();
        m_about->move(geometry().center() - m_about->rect().center());
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void frmMain::mnuRecent_Click()
{
    if (!m_recentView) {
        m_recentView = new RecentContactsView(*m_recent, this);
        m_recentView->setWindowIcon(windowIcon());
    }
    m_recentView->show();
    m_recentView->raise();
    m_recentView->activateWindow();
}

void frmMain::showStatus(const QString& text)
{
    m_statusText = text;
    requestRefresh();
}

void frmMain::showStatusNow(const QString& text)
{
    m_statusText = text;
    StatusPanel1->setText(text);
}

void frmMain::requestRefresh()
{
    if (m_refreshTimer->isActive())
        return;
    // At most ten times a second, and never later than that: a quiet window
    // shows a change on the next turn of the event loop, after the upload
    // has left.
    const qint64 since = m_sinceRefresh.isValid() ? m_sinceRefresh.elapsed() : RefreshInterval.count();
    m_refreshTimer->start(std::max<qint64>(0, RefreshInterval.count() - since));
}

void frmMain::refresh()
{
    m_sinceRefresh.start();
    if (m_headless && !isVisible()) {
        m_recent->publish();
        return;
    }
    const QString& datagram = m_pipeline->lastDatagram();
    if (datagram != m_shownDatagram) {
        m_shownDatagram = datagram;
        txtResult->setPlainText(datagram);
    }
    if (StatusPanel1->text() != m_statusText)
        StatusPanel1->setText(m_statusText);
    if (m_pipeline->uploadedCount() != m_shownCount) {
        m_shownCount = m_pipeline->uploadedCount();
        txtTotalQSOUploaded->setText(QString::number(m_shownCount));
    }

    const auto show = [](QLabel* label, const QString& text) {
        if (label->text() != text)
            label->setText(text);
        label->setToolTip(text);
        label->setVisible(!text.isEmpty());
    };
    show(lblListening, m_status->listeningText());
    show(lblCounts, m_status->countsText());
    show(lblFailure, m_status->failureText());
    show(lblWaiting, m_status->waitingText());
    Palette::setAlert(lblListening, !m_status->isListening());
    Palette::setAlert(lblWaiting, true);
    if (m_tray)
        m_tray->show(m_status->health(), m_status->toolTip());
    m_recent->setWaitingReason(m_status->hold() == UploadHold::None ? QString() : m_uploader->holdReason());
    m_recent->publish();
}

void frmMain::onErrorReported()
{
    startErrorIndicator();
    mnuError->menuAction()->setVisible(true);
}

void frmMain::startErrorIndicator()
{
    m_status->setAttention(true);
    // A running timer keeps its rhythm: the first signal comes one interval
    // after it was started from the stopped state.
    if (!Timer1->isActive())
        Timer1->start();
}

void frmMain::stopErrorIndicator()
{
    Timer1->stop();
    ProgramErrorFlash(false);
    m_status->setAttention(false);
}

void frmMain::ProgramErrorFlash(bool Status)
{
    m_requestingAttention = Status;
    if (!Status)
        return; // activating the window ends the desktop's attention request
    showStatus(ErrorIndicatorText);
    m_prompter.requestAttention(this);
}

void frmMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        stopErrorIndicator();
    if (event->type() == QEvent::PaletteChange)
        applyColours();
    QMainWindow::changeEvent(event);
}

void frmMain::mousePressEvent(QMouseEvent* event)
{
    stopErrorIndicator();
    QMainWindow::mousePressEvent(event);
}

void frmMain::focusInEvent(QFocusEvent* event)
{
    stopErrorIndicator();
    QMainWindow::focusInEvent(event);
}

void frmMain::closeForSignal()
{
    m_closingForSignal = true;
    close();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!m_unloaded) {
        const auto stayText = [this](int waiting) {
            return tr("%n contact(s) stay in the outbox (%1); the next start of Tarvex sends them.", nullptr,
                      waiting)
                .arg(QDir::toNativeSeparators(m_paths.outbox()));
        };
        // Asked before the window goes, told on standard error after every
        // datagram on the socket is in the outbox: a signal waits for no one.
        if (!m_closingForSignal && m_outbox->waitingCount() > 0)
            m_prompter.message(this, stayText(m_outbox->waitingCount()), QString(), Prompter::Buttons::Ok,
                               Prompter::Icon::None);
        if (!m_headless) {
            QSettings window(m_paths.windowState(), QSettings::IniFormat);
            window.setValue("geometry", saveGeometry());
        }
        Form_Unload();
        if (m_closingForSignal && m_outbox->waitingCount() > 0)
            std::fprintf(stderr, "%s\n", qPrintable(stayText(m_outbox->waitingCount())));
    }
    QMainWindow::closeEvent(event);
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    Common::UnhookWindow();
    if (m_about)
        m_about->close();
    if (m_recentView)
        m_recentView->close();

    // Nothing waits for the service: what is on its way stays in the outbox.
    m_uploader->abandonAll();
    m_pipeline->storeCountNow();
    m_pipeline->disconnect(this);
    // Every datagram already read or still on the socket goes into the
    // outbox, then everything held is written once more and synced. Each
    // worker ends on its own thread.
    m_pipeline->setKeeper(nullptr);
    const auto finish = [](QThread& thread, QObject* worker, std::function<void()> last) {
        if (thread.isRunning()) {
            QMetaObject::invokeMethod(
                worker,
                [worker, last] {
                    last();
                    delete worker;
                },
                Qt::BlockingQueuedConnection);
            thread.quit();
            thread.wait();
        } else {
            last();
            delete worker;
        }
    };
    ContactCapture* capture = std::exchange(m_capture, nullptr);
    // What the drain reads stays in the outbox for the next start; nothing
    // more is handed to the uploader now.
    capture->disconnect(m_pipeline);
    finish(m_captureThread, capture, [capture] { capture->drain(); });
    // The keeper writes what is still queued; later changes are written here.
    m_settings.setWriteRequest({});
    DiskKeeper* keeper = std::exchange(m_keeper, nullptr);
    finish(m_diskThread, keeper, [keeper] { keeper->finish(); });
    m_settings.writePending();
}

About* frmMain::aboutWindow() const
{
    return m_about;
}

RecentContactsView* frmMain::recentWindow() const
{
    return m_recentView;
}
