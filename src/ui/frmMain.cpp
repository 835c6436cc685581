#include "ui/frmMain.h"

#include "BuildInfo.h"
#include "capture/UdpListener.h"
#include "logs/DebugTrace.h"
#include "settings/SettingConversions.h"
#include "ui/About.h"
#include "ui/Common.h"
#include "ui/ManualUpload.h"
#include "ui/Prompter.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeUploader.h"
#include "upload/ServiceAddress.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QUrl>

namespace {
const QString ErrorIndicatorText = QStringLiteral("Error information has been written to ErrorLog file!!");
const QString DefaultPort = QStringLiteral("12060");
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
      m_settings(paths.settingsFile(), paths.debugLog())
{
    setupUi();
    m_network = new QNetworkAccessManager(this);
    m_uploader = new RealtimeUploader(m_network, this);
    m_pipeline =
        new ContactPipeline(m_settings, m_paths.errorLog(), m_paths.nonUploaded(), *m_uploader, this);
    Socket = new UdpListener(this);
    m_manualUpload = new ManualUpload(*this, m_prompter, m_paths, m_settings, this);

    // Laying out the datagram's text costs more than the rest of its road, so
    // it waits for the next turn of the event loop: the upload leaves first,
    // and a burst lays out only its latest datagram.
    m_datagramDisplay = new QTimer(this);
    m_datagramDisplay->setSingleShot(true);
    m_datagramDisplay->setInterval(0);
    connect(m_datagramDisplay, &QTimer::timeout, this, [this] { txtResult->setPlainText(m_datagramText); });
}

frmMain::~frmMain()
{
    Form_Unload();
}

void frmMain::Form_Load()
{
    m_settings.CheckforInIfile();

    // A stored value that does not convert falls back to its default, so the
    // rest of start-up always runs.
    const QString storedPort = m_settings.GetSettings(SettingKey::Port, DefaultPort);
    const std::optional<quint16> port = SettingConversions::toPort(storedPort);
    BindSocket(port.value_or(DefaultPort.toUShort()));
    txtPort->setText(port ? storedPort : DefaultPort);

    mnuDebug_Click(
        SettingConversions::toBoolean(m_settings.GetSettings(SettingKey::Debug, "False")).value_or(false)
            ? 0
            : 1);

    m_uploader->setEndpoint(serviceUrl(serviceBaseUrl(m_settings.GetSettings(SettingKey::ServiceHost, {}),
                                                      QString::fromUtf8(BuildInfo::ServiceHost)),
                                       QStringLiteral("/realtime.php")));
    connectHandlers();

    // Each assignment is a change, and each change is written straight back.
    txtCorvaneEmailAddress->setText(m_settings.GetSettings(SettingKey::EmailAddress, "Not Set"));
    txtCorvaneCallsign->setText(m_settings.GetSettings(SettingKey::Callsign, "Not Set"));
    txtCorvanePassword->setText(m_settings.GetSettings(SettingKey::Password, "Not Set"));

    const bool autoUpload =
        SettingConversions::toBoolean(m_settings.GetSettings(SettingKey::AutoUpload, "True")).value_or(true);
    chkEnableAuto->setChecked(autoUpload);
    m_pipeline->setAutoUpload(autoUpload);

    const QString storedCount = m_settings.GetSettings(SettingKey::TotalUploaded, "0");
    const std::optional<qint32> count = SettingConversions::toCount(storedCount);
    txtTotalQSOUploaded->setText(count ? storedCount : QStringLiteral("0"));
    m_pipeline->setUploadedCount(count.value_or(0));

    const bool errorsOnDisk =
        QFileInfo::exists(m_paths.nonUploaded()) || QFileInfo::exists(m_paths.errorLog());
    mnuError->menuAction()->setVisible(errorsOnDisk);
    if (errorsOnDisk)
        startErrorIndicator();
    else
        Timer1->stop();

    Common::HookWindow(this, [this] { stopErrorIndicator(); });
}

void frmMain::connectHandlers()
{
    connect(Socket, &UdpListener::datagramReceived, m_pipeline, &ContactPipeline::handleDatagram);
    connect(m_pipeline, &ContactPipeline::datagramShown, this, &frmMain::showDatagram);
    connect(m_pipeline, &ContactPipeline::statusChanged, StatusPanel1, &QLabel::setText);
    connect(m_pipeline, &ContactPipeline::uploadedCountChanged, this,
            [this](qint32 count) { txtTotalQSOUploaded->setText(QString::number(count)); });
    connect(m_pipeline, &ContactPipeline::errorReported, this, &frmMain::onErrorReported);
    connect(m_manualUpload, &ManualUpload::errorReported, this, &frmMain::onErrorReported);

    connect(txtCorvaneEmailAddress, &QLineEdit::textChanged, this,
            [this](const QString& text) { saveCredential(SettingKey::EmailAddress, text); });
    connect(txtCorvaneCallsign, &QLineEdit::textChanged, this,
            [this](const QString& text) { saveCredential(SettingKey::Callsign, text); });
    connect(txtCorvanePassword, &QLineEdit::textChanged, this,
            [this](const QString& text) { saveCredential(SettingKey::Password, text); });
    connect(chkEnableAuto, &QCheckBox::toggled, this, &frmMain::chkEnableAuto_Click);
    txtPort->installEventFilter(this);

    connect(Timer1, &QTimer::timeout, this, [this] { ProgramErrorFlash(true); });
    connect(cmdReset, &QPushButton::clicked, this, &frmMain::cmdReset_Click);
    connect(mnuOpenErrorLog, &QAction::triggered, this, [this] { openLog(m_paths.errorLog()); });
    connect(mnuViewNonUploaded, &QAction::triggered, this, [this] { openLog(m_paths.nonUploaded()); });
    connect(mnuClearErrorLog, &QAction::triggered, this, &frmMain::mnuClearErrorLog_Click);
    connect(mnuDebug0, &QAction::triggered, this, [this] { mnuDebug_Click(0); });
    connect(mnuDebug1, &QAction::triggered, this, [this] { mnuDebug_Click(1); });
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
}

void frmMain::showDatagram(const QString& text)
{
    m_datagramText = text;
    if (!m_datagramDisplay->isActive())
        m_datagramDisplay->start();
}

void frmMain::BindSocket(qint64 port)
{
    const QString failure = Socket->bind(port);
    if (!failure.isEmpty()) {
        m_prompter.message(this, QStringLiteral("Error occured: \r\n") + failure, QStringLiteral("Failure"),
                           Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
    }
}

void frmMain::txtPort_LostFocus()
{
    // The message box takes the focus too; one check at a time.
    if (m_checkingPort)
        return;
    m_checkingPort = true;
    const QString text = txtPort->text();
    if (!IsValidPort(text)) {
        m_prompter.message(this, QStringLiteral("Invalid port specified!"), QStringLiteral("Failure"),
                           Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        txtPort->setText(m_settings.GetSettings(SettingKey::Port, DefaultPort));
    } else if (portFromText(text) != Socket->boundPort()) {
        m_settings.SaveSettings(SettingKey::Port, text, false);
        BindSocket(portFromText(text));
    }
    m_checkingPort = false;
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    // Only a move of the focus inside the window counts: switching to another
    // program or opening a menu leaves the port box alone.
    if (watched == txtPort && event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtPort_LostFocus();
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::saveCredential(const QString& key, const QString& text)
{
    m_settings.SaveSettings(key, text, false);
    m_pipeline->setCredentials(
        {txtCorvaneEmailAddress->text(), txtCorvanePassword->text(), txtCorvaneCallsign->text()});
}

void frmMain::chkEnableAuto_Click(bool checked)
{
    m_settings.SaveSettings(SettingKey::AutoUpload,
                            checked ? QStringLiteral("True") : QStringLiteral("False"), false);
    m_pipeline->setAutoUpload(checked);
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
        StatusPanel1->setText(tr("%1 does not exist yet.").arg(QFileInfo(path).fileName()));
        return;
    }
    m_prompter.openUrl(QUrl::fromLocalFile(path));
}

void frmMain::mnuClearErrorLog_Click()
{
    QFile log(m_paths.errorLog());
    if (!log.exists() || log.remove())
        return;
    m_prompter.message(this, tr("The error log could not be deleted:\r\n%1").arg(log.errorString()),
                       QString(), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
}

void frmMain::mnuAbout_Click()
{
    if (!m_about) {
        m_about = new About(m_prompter, m_paths.directory(),
                            serviceBaseUrl(m_settings.GetSettings(SettingKey::UpdateHost, {}),
                                           QString::fromUtf8(BuildInfo::UpdateHost)));
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setAttribute(Qt::WA_QuitOnClose, false);
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void frmMain::onErrorReported()
{
    startErrorIndicator();
    mnuError->menuAction()->setVisible(true);
}

void frmMain::startErrorIndicator()
{
    // A running timer keeps its rhythm: the first signal comes one interval
    // after it was started from the stopped state.
    if (!Timer1->isActive())
        Timer1->start();
}

void frmMain::stopErrorIndicator()
{
    Timer1->stop();
    ProgramErrorFlash(false);
}

void frmMain::ProgramErrorFlash(bool Status)
{
    m_requestingAttention = Status;
    if (!Status)
        return; // activating the window ends the desktop's attention request
    StatusPanel1->setText(ErrorIndicatorText);
    QApplication::alert(this, 0);
}

void frmMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        stopErrorIndicator();
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

void frmMain::closeEvent(QCloseEvent* event)
{
    Form_Unload();
    QMainWindow::closeEvent(event);
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    // Contacts still on their way to the service are kept for a manual upload;
    // a later "Duplicate" for one of them does no harm.
    const int lost = m_pipeline->keepUnfinished();
    if (lost > 0)
        qWarning("%d contacts could not be written to %s", lost, qPrintable(m_paths.nonUploaded()));
    Common::UnhookWindow();
    if (m_about)
        m_about->close();
}

About* frmMain::aboutWindow() const
{
    return m_about;
}
