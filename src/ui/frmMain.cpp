#include "ui/frmMain.h"

#include "capture/ContactCapture.h"
#include "settings/LoginSource.h"
#include "station/Station.h"
#include "status/Notifications.h"
#include "status/RecentContacts.h"
#include "status/StatusModel.h"
#include "ui/About.h"
#include "ui/ManualUpload.h"
#include "ui/Palette.h"
#include "ui/Prompter.h"
#include "ui/RecentContactsView.h"
#include "ui/TrayIcon.h"
#include "ui_frmMain.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

namespace {

const QString ErrorIndicatorText = QStringLiteral("Error information has been written to ErrorLog file!!");
const QString NotSet = QStringLiteral("Not Set");

// Room for a number of digits, so the boxes scale with the font.
void fitDigits(QLineEdit* box, int digits)
{
    const QFontMetrics metrics(box->font());
    box->setFixedWidth(metrics.horizontalAdvance(QString(digits, QLatin1Char('0'))) +
                       2 * metrics.height() / 3 + box->textMargins().left() + box->textMargins().right());
}

// Styles give every captioned button a wide minimum; these few are meant small.
void fitCaption(QPushButton* button)
{
    const QFontMetrics metrics(button->font());
    button->setFixedWidth(metrics.horizontalAdvance(button->text()) + metrics.height() * 3 / 2);
}

// The parts that say something.
QString joined(QStringList parts, const QString& separator)
{
    parts.removeAll(QString());
    return parts.join(separator);
}

// An eye for the password box's show/hide button; icon themes are not
// everywhere, and the button must show on every desktop.
QIcon eyeIcon(const QColor& colour, bool crossed)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 2.5));
    QPainterPath lid;
    lid.moveTo(3, 16);
    lid.quadTo(16, 3, 29, 16);
    lid.quadTo(16, 29, 3, 16);
    painter.drawPath(lid);
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(16, 16), 4.5, 4.5);
    if (crossed)
        painter.drawLine(6, 27, 26, 5);
    return QIcon(pixmap);
}

} // namespace

frmMain::frmMain(Station& station, Prompter& prompter, QWidget* parent)
    : QMainWindow(parent), ui(std::make_unique<Ui::frmMain>()), m_station(station), m_prompter(prompter),
      Timer1(new QTimer(this)), m_refreshTimer(new QTimer(this))
{
    Q_INIT_RESOURCE(tarvex);
    ui->setupUi(this);
    QIcon appIcon;
    for (const int size : {16, 32, 64, 256})
        appIcon.addFile(QStringLiteral(":/icons/tarvex-%1.png").arg(size));
    setWindowIcon(appIcon);

    fitDigits(ui->txtPort, 6);
    fitDigits(ui->txtTotalQSOUploaded, 10); // the count saturates at ten digits
    fitCaption(ui->cmdReset);
    fitCaption(ui->cmbBrowseforUploadADIF);
    const QFontMetrics metrics(ui->cmbProcessandUpload->font());
    // The main action is the big button of the window: two lines high.
    ui->cmbProcessandUpload->setMinimumSize(metrics.horizontalAdvance(ui->cmbProcessandUpload->text()) +
                                                3 * metrics.height(),
                                            metrics.height() * 5 / 2);
    for (QLineEdit* box : {ui->txtCorvaneEmailAddress, ui->txtCorvaneCallsign, ui->txtCorvanePassword})
        box->setMinimumWidth(QFontMetrics(box->font()).averageCharWidth() * 8);

    // Other operators at a multi-operator station see this screen; the eye
    // shows the password to the one who types it (Alt+H from the keyboard).
    ui->txtCorvanePassword->addAction(ui->actShowPassword, QLineEdit::TrailingPosition);
    // The status lines wrap rather than being cut off (the form says so), at the status bar's full width.
    ui->StatusBar1->addWidget(ui->panels, 1);
    ui->mnuError->menuAction()->setVisible(false);

    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(30000);
    m_refreshTimer->setSingleShot(true);
    connect(m_refreshTimer, &QTimer::timeout, this, &frmMain::refresh);

    // F10 opens the first menu, as on other desktops.
    connect(ui->actOpenMenu, &QAction::triggered, this, [this] {
        for (QAction* menu : menuBar()->actions()) {
            if (menu->isVisible())
                return menuBar()->setActiveAction(menu);
        }
    });
    new ManualUpload(m_station, m_prompter, this, ui->txtUploadADIFPathCorvane, ui->cmbBrowseforUploadADIF,
                     ui->cmbProcessandUpload);
    applyColours();
    ui->txtPort->setFocus();
}

frmMain::~frmMain()
{
    Form_Unload();
}

void frmMain::setErrorFlashInterval(std::chrono::milliseconds interval)
{
    Timer1->setInterval(interval);
}

void frmMain::Form_Load()
{
    const StationState& s = m_station.status().state();
    ui->txtPort->setText(portShown());
    connectControls();
    // Each assignment is a change, and each change is stored straight back.
    showLogin(m_station.login().current());
    ui->mnuKeyring->setChecked(m_station.login().inKeyring());
    ui->chkEnableAuto->setChecked(s.autoUpload);
    ui->txtTotalQSOUploaded->setText(QString::number(s.uploaded));
    const QSettings window(m_station.paths().windowState(), QSettings::IniFormat);
    restoreGeometry(window.value("geometry").toByteArray());
    ui->mnuNotifications->setChecked(window.value("notifications", true).toBool());
    refresh();
}

void frmMain::connectControls()
{
    StatusModel& status = m_station.status();
    connect(&status, &StatusModel::changed, this, &frmMain::requestRefresh);
    connect(&status, &StatusModel::bindFailed, this, [this](quint16, const QString& reason) {
        m_prompter.message(this, QStringLiteral("Error occured: \r\n") + reason, QStringLiteral("Failure"),
                           Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
    });

    LoginSource& login = m_station.login();
    // A password the keyring answers with later fills its box then.
    connect(&login, &LoginSource::loaded, this, &frmMain::showLogin);
    connect(&login, &LoginSource::keyringChanged, ui->mnuKeyring, &QAction::setChecked);
    connect(ui->mnuKeyring, &QAction::triggered, &login, &LoginSource::keepInKeyring);
    const std::pair<QLineEdit*, QString> fields[] = {{ui->txtCorvaneEmailAddress, SettingKey::EmailAddress},
                                                     {ui->txtCorvaneCallsign, SettingKey::Callsign},
                                                     {ui->txtCorvanePassword, SettingKey::Password}};
    for (const auto& [box, key] : fields) {
        connect(box, &QLineEdit::textChanged, this,
                [&login, setting = key](const QString& text) { login.edit(setting, text); });
        connect(box, &QLineEdit::editingFinished, this, [this] { commitLogin(false); });
        // Enter also asks again after the service refused the login.
        connect(box, &QLineEdit::returnPressed, this, [this] { commitLogin(true); });
    }
    // "Not Set" reads as words, not as seven dots of a saved password.
    const auto showPassword = [this] {
        const bool plain = ui->actShowPassword->isChecked() || ui->txtCorvanePassword->text() == NotSet;
        ui->txtCorvanePassword->setEchoMode(plain ? QLineEdit::Normal : QLineEdit::Password);
        ui->actShowPassword->setIcon(
            eyeIcon(palette().color(QPalette::Text), ui->actShowPassword->isChecked()));
    };
    connect(ui->txtCorvanePassword, &QLineEdit::textChanged, this, showPassword);
    connect(ui->actShowPassword, &QAction::toggled, this, showPassword);

    connect(ui->chkEnableAuto, &QCheckBox::clicked, this, [this](bool on) { m_station.setAutoUpload(on); });
    ui->txtPort->installEventFilter(this);
    connect(ui->txtPort, &QLineEdit::returnPressed, this, [this] { applyPort(false); });
    connect(Timer1, &QTimer::timeout, this, [this] { ProgramErrorFlash(true); });
    connect(ui->cmdReset, &QPushButton::clicked, this, &frmMain::cmdReset_Click);
    for (const auto& [action, path] : {std::pair{ui->mnuOpenErrorLog, m_station.paths().errorLog()},
                                       std::pair{ui->mnuViewNonUploaded, m_station.paths().nonUploaded()}}) {
        connect(action, &QAction::triggered, this, [this, log = path] {
            if (logExists(log))
                m_prompter.openUrl(QUrl::fromLocalFile(log));
        });
    }
    connect(ui->mnuClearErrorLog, &QAction::triggered, this, &frmMain::mnuClearErrorLog_Click);
    connect(ui->mnuDebug0, &QAction::triggered, this, [this] { m_station.setDebug(true); });
    connect(ui->mnuDebug1, &QAction::triggered, this, [this] { m_station.setDebug(false); });
    connect(ui->mnuAbout, &QAction::triggered, this, &frmMain::mnuAbout_Click);
    connect(ui->mnuRecent, &QAction::triggered, this, &frmMain::mnuRecent_Click);
    connect(ui->mnuNotifications, &QAction::toggled, this, [this](bool on) {
        QSettings(m_station.paths().windowState(), QSettings::IniFormat).setValue("notifications", on);
    });

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        m_tray = new TrayIcon(windowIcon(), this);
        connect(m_tray, &TrayIcon::activated, this, [this] {
            showNormal();
            raise();
            activateWindow();
        });
        connect(m_tray, &TrayIcon::quitRequested, this, [this] {
            m_quitting = true;
            close();
        });
    }
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { m_quitting = true; });
    auto* notifications = new Notifications(status, this);
    auto* notifier = new DesktopNotifier(m_tray, this);
    connect(notifications, &Notifications::notify, notifier,
            [this, notifier](const QString& title, const QString& text) {
                if (ui->mnuNotifications->isChecked())
                    notifier->notify(title, text);
            });
}

void frmMain::applyPort(bool quietWhenInvalid)
{
    // The message box takes the focus too; one check at a time.
    if (m_checkingPort)
        return;
    const QString text = ui->txtPort->text();
    const StationState& s = m_station.status().state();
    if (!IsValidPort(text)) {
        if (quietWhenInvalid)
            return;
        m_checkingPort = true;
        m_prompter.message(this, QStringLiteral("Invalid port specified!"), QStringLiteral("Failure"),
                           Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
        ui->txtPort->setText(portShown());
        m_checkingPort = false;
        return;
    }
    const quint16 port = portFromText(text);
    if (port == s.port && s.listening)
        return;
    m_station.settings().SaveSettings(SettingKey::Port, text, false);
    m_station.bindPort(port);
}

void frmMain::showLogin(const Credentials& login)
{
    const std::pair<QLineEdit*, QString> boxes[] = {{ui->txtCorvaneEmailAddress, login.email},
                                                    {ui->txtCorvaneCallsign, login.callsign},
                                                    {ui->txtCorvanePassword, login.password}};
    for (const auto& [box, value] : boxes) {
        if (!box->hasFocus() && box->text() != value)
            box->setText(value);
    }
}

// The port in use; before the first bind, the one asked for.
QString frmMain::portShown() const
{
    const quint16 port = m_station.status().state().port;
    return port ? QString::number(port)
                : m_station.settings().GetSettings(SettingKey::Port, QStringLiteral("12060"));
}

void frmMain::commitLogin(bool retry)
{
    m_station.login().commit(
        {ui->txtCorvaneEmailAddress->text(), ui->txtCorvanePassword->text(), ui->txtCorvaneCallsign->text()},
        retry);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->txtPort && event->type() == QEvent::FocusOut) {
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

void frmMain::cmdReset_Click()
{
    if (m_prompter.message(this, tr("Reset the count of uploaded contacts to 0?"), QString(),
                           Prompter::Buttons::YesNo, Prompter::Icon::None,
                           Prompter::Answer::No) == Prompter::Answer::Yes)
        m_station.resetCount();
}

// Says so on the first panel when the file is not there.
bool frmMain::logExists(const QString& path)
{
    if (QFileInfo::exists(path))
        return true;
    ui->StatusPanel1->setText(tr("%1 does not exist yet.").arg(QFileInfo(path).fileName()));
    return false;
}

void frmMain::mnuClearErrorLog_Click()
{
    QFile log(m_station.paths().errorLog());
    if (!logExists(log.fileName()))
        return;
    const Prompter::Answer answer = m_prompter.message(
        this, tr("Delete the error log?\r\n%1").arg(QDir::toNativeSeparators(log.fileName())), QString(),
        Prompter::Buttons::YesNo, Prompter::Icon::Exclamation, Prompter::Answer::No);
    if (answer != Prompter::Answer::Yes || log.remove())
        return;
    m_prompter.message(this, tr("The error log could not be deleted:\r\n%1").arg(log.errorString()),
                       QString(), Prompter::Buttons::Ok, Prompter::Icon::Exclamation);
}

void frmMain::mnuAbout_Click()
{
    if (!m_about) {
        m_about =
            new About(m_prompter, m_station.http(), m_station.paths().directory(), m_station.settings());
        m_about->setAttribute(Qt::WA_DeleteOnClose);
        m_about->setAttribute(Qt::WA_QuitOnClose, false);
        m_about->adjustSize();
        m_about->move(geometry().center() - m_about->rect().center());
    }
    bringUp(m_about);
}

void frmMain::mnuRecent_Click()
{
    if (!m_recentView)
        m_recentView = new RecentContactsView(m_station.recent(), this);
    bringUp(m_recentView);
}

void frmMain::bringUp(QWidget* window)
{
    window->setWindowIcon(windowIcon());
    window->show();
    window->raise();
    window->activateWindow();
}

void frmMain::requestRefresh()
{
    if (m_refreshTimer->isActive())
        return;
    // At most ten times a second, and never later than that: a quiet window
    // shows a change on the next turn of the event loop.
    const qint64 since = QDateTime::currentMSecsSinceEpoch() - m_lastRefresh;
    m_refreshTimer->start(std::clamp<qint64>(RefreshInterval.count() - since, 0, RefreshInterval.count()));
}

void frmMain::refresh()
{
    m_lastRefresh = QDateTime::currentMSecsSinceEpoch();
    const StatusModel& status = m_station.status();
    const StationState& s = status.state();
    if (ui->txtResult->toPlainText() != s.datagram)
        ui->txtResult->setPlainText(s.datagram);
    if (ui->txtTotalQSOUploaded->text() != QString::number(s.uploaded))
        ui->txtTotalQSOUploaded->setText(QString::number(s.uploaded));
    ui->chkEnableAuto->setChecked(s.autoUpload);
    ui->mnuDebug0->setChecked(s.debug);
    ui->mnuDebug1->setChecked(!s.debug);
    ui->mnuError->menuAction()->setVisible(s.errorsOnDisk);
    if (!ui->txtPort->hasFocus() && s.listening)
        ui->txtPort->setText(QString::number(s.port));

    const auto show = [](QLabel* label, const QString& text) {
        if (label->text() != text)
            label->setText(text);
        label->setVisible(!text.isEmpty());
    };
    show(ui->StatusPanel1, status.activity());
    show(ui->lblListening, joined({status.listeningText(), status.captureText()}, QStringLiteral(" · ")));
    show(ui->lblCounts, joined({status.acceptedText(), status.countsText()}, QStringLiteral("\n")));
    show(ui->lblWaiting, status.waitingText());
    show(ui->lblFailure,
         joined({m_requestingAttention ? ErrorIndicatorText : QString(), status.failureText()},
                QStringLiteral("\n")));
    Palette::setAlert(ui->lblListening, !s.listening);
    Palette::setAlert(ui->lblWaiting, true);
    Palette::setAlert(ui->lblFailure, true);

    // A new error arms the indicator; a running clock keeps its rhythm.
    if (s.attention && !Timer1->isActive())
        Timer1->start();
    if (m_tray)
        m_tray->show(status.health(), status.toolTip());
    m_station.recent().publish();
}

void frmMain::stopErrorIndicator()
{
    Timer1->stop();
    ProgramErrorFlash(false);
    m_station.acknowledgeErrors();
}

void frmMain::ProgramErrorFlash(bool Status)
{
    m_requestingAttention = Status;
    requestRefresh();
    if (Status)
        m_prompter.requestAttention(this);
}

void frmMain::applyColours()
{
    // The count's blue on the button face, unless the theme makes it unreadable.
    const QPalette theme = palette();
    QPalette countColours = ui->txtTotalQSOUploaded->palette();
    const QColor face = theme.color(QPalette::Button);
    countColours.setColor(
        QPalette::Text, Palette::readable(QColor(0, 0, 255), face,
                                          {theme.color(QPalette::Link), theme.color(QPalette::ButtonText)}));
    countColours.setColor(QPalette::Base, face);
    ui->txtTotalQSOUploaded->setPalette(countColours);
    ui->actShowPassword->setIcon(eyeIcon(theme.color(QPalette::Text), ui->actShowPassword->isChecked()));
}

void frmMain::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow())
            stopErrorIndicator();
        else
            commitLogin(false);
    }
    if (event->type() == QEvent::PaletteChange)
        applyColours();
    QMainWindow::changeEvent(event);
}

bool frmMain::event(QEvent* event)
{
    // The operator has looked: a click in the window or on its title bar (which
    // goes on, so the window still drags), or the focus.
    const bool titleBar = event->type() == QEvent::NonClientAreaMouseButtonPress &&
                          static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton;
    if (titleBar || event->type() == QEvent::MouseButtonPress || event->type() == QEvent::FocusIn)
        stopErrorIndicator();
    return QMainWindow::event(event);
}

// Once closed, nothing hears the logger for the rest of the contest: asked
// while contacts wait or one arrived in the last half hour.
bool frmMain::mayClose()
{
    const StationState& s = m_station.status().state();
    const bool recent =
        s.lastContact.isValid() && s.lastContact.secsTo(QDateTime::currentDateTime()) < 30 * 60;
    if (m_quitting || (s.waiting == 0 && !recent))
        return true;
    QSettings window(m_station.paths().windowState(), QSettings::IniFormat);
    Prompter::Answer answer = Prompter::Answer::Tray;
    if (!m_tray || !window.value("keepInTray").toBool()) {
        const QString why = s.waiting > 0
                                ? tr("%1 waiting for Corvane.").arg(StatusModel::contacts(s.waiting))
                                : tr("The last contact arrived at %1.").arg(s.lastContact.toString("HH:mm"));
        answer = m_prompter.message(
            this,
            why + tr("\r\nOnce Tarvex is closed, nothing hears the logger: contacts "
                     "logged meanwhile are not uploaded."),
            tr("Quit Tarvex?"), m_tray ? Prompter::Buttons::QuitTrayCancel : Prompter::Buttons::QuitCancel,
            Prompter::Icon::Exclamation, Prompter::Answer::Cancel);
    }
    if (answer == Prompter::Answer::Tray) {
        window.setValue("keepInTray", true);
        hide();
    }
    return answer == Prompter::Answer::Quit;
}

void frmMain::closeEvent(QCloseEvent* event)
{
    if (!m_unloaded && !mayClose())
        return event->ignore();
    if (!m_unloaded)
        QSettings(m_station.paths().windowState(), QSettings::IniFormat).setValue("geometry", saveGeometry());
    Form_Unload();
    QMainWindow::closeEvent(event);
}

void frmMain::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    if (m_about)
        m_about->close();
    if (m_recentView)
        m_recentView->close();
}

About* frmMain::aboutWindow() const
{
    return m_about;
}

RecentContactsView* frmMain::recentWindow() const
{
    return m_recentView;
}
