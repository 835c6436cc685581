#include "ui/frmMain.h"

#include "ui/Palette.h"

#include <QAction>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

template <typename T> T* named(T* widget, const char* name)
{
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

// Only the weight is set, so every other font attribute still follows the
// platform; an explicit "regular" keeps a bold frame's caption off its boxes.
void setBold(QWidget* widget, bool bold)
{
    QFont font = widget->font();
    font.setBold(bold);
    widget->setFont(font);
}

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

void frmMain::setupUi()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tarvex Upload Utility"));
    QIcon appIcon;
    for (const int size : {16, 32, 64, 256})
        appIcon.addFile(QStringLiteral(":/icons/tarvex-%1.png").arg(size));
    setWindowIcon(appIcon);

    auto* central = named(new QWidget(this), "centralWidget");
    setCentralWidget(central);

    lblPortTo = named(new QLabel(QStringLiteral("&Port to connect to Ostrel Logger:"), central), "lblPortTo");
    txtPort = named(new QLineEdit(central), "txtPort");
    lblPortTo->setBuddy(txtPort);
    txtPort->setToolTip(
        QStringLiteral("The default Port is 12060. This must match the port set in Ostrel.ini "
                       "under the [ExternalBroadcast] Heading."));
    lblTotalQso = named(new QLabel(QStringLiteral("Total Qso's Uploaded:"), central), "lblTotalQso");
    txtTotalQSOUploaded = named(new QLineEdit(QStringLiteral("220000"), central), "txtTotalQSOUploaded");
    txtTotalQSOUploaded->setReadOnly(true);
    // Out of the tab chain, yet the count can still be selected and copied.
    txtTotalQSOUploaded->setFocusPolicy(Qt::ClickFocus);
    cmdReset = named(new QPushButton(QStringLiteral("&Reset"), central), "cmdReset");

    for (QWidget* widget : std::initializer_list<QWidget*>{lblPortTo, lblTotalQso, txtTotalQSOUploaded})
        setBold(widget, true);
    fitDigits(txtPort, 6);
    fitDigits(txtTotalQSOUploaded, 10); // the count saturates at ten digits
    fitCaption(cmdReset);

    auto* counters = new QGridLayout;
    counters->addWidget(lblPortTo, 0, 0, 1, 2);
    counters->addWidget(txtPort, 0, 2);
    counters->addWidget(lblTotalQso, 1, 0);
    counters->addWidget(txtTotalQSOUploaded, 1, 1);
    counters->addWidget(cmdReset, 1, 2, Qt::AlignLeft);
    counters->setColumnStretch(3, 1);

    FraCorvane = named(new QGroupBox(QStringLiteral("Corvane Login Information"), central), "FraCorvane");
    lblEmailAddress = named(new QLabel(QStringLiteral("E&mail Address"), FraCorvane), "lblEmailAddress");
    txtCorvaneEmailAddress = named(new QLineEdit(FraCorvane), "txtCorvaneEmailAddress");
    lblEmailAddress->setBuddy(txtCorvaneEmailAddress);
    txtCorvaneEmailAddress->setToolTip(
        QStringLiteral("This is your email address that is used to sign into Corvane."));
    lblCallsign = named(new QLabel(QStringLiteral("Call&sign"), FraCorvane), "lblCallsign");
    txtCorvaneCallsign = named(new QLineEdit(FraCorvane), "txtCorvaneCallsign");
    lblCallsign->setBuddy(txtCorvaneCallsign);
    txtCorvaneCallsign->setToolTip(QStringLiteral("This is the callsign to use with Corvane."));
    lblPassword = named(new QLabel(QStringLiteral("Pass&word"), FraCorvane), "lblPassword");
    txtCorvanePassword = named(new QLineEdit(FraCorvane), "txtCorvanePassword");
    lblPassword->setBuddy(txtCorvanePassword);
    // Other operators at a multi-operator station see this screen.
    txtCorvanePassword->setEchoMode(QLineEdit::Password);
    actShowPassword = named(txtCorvanePassword->addAction(eyeIcon(palette().color(QPalette::Text), false),
                                                          QLineEdit::TrailingPosition),
                            "actShowPassword");
    actShowPassword->setCheckable(true);
    actShowPassword->setToolTip(tr("Show the password"));
    connect(actShowPassword, &QAction::toggled, this, [this](bool shown) {
        txtCorvanePassword->setEchoMode(shown ? QLineEdit::Normal : QLineEdit::Password);
        actShowPassword->setIcon(eyeIcon(palette().color(QPalette::Text), shown));
        actShowPassword->setToolTip(shown ? tr("Hide the password") : tr("Show the password"));
    });
    txtCorvanePassword->setToolTip(
        QStringLiteral("This is the password associated with your Corvane account. "
                       "It was emailed to you from Corvane."));
    chkEnableAuto =
        named(new QCheckBox(QStringLiteral("Enable &auto upload to Corvane."), FraCorvane), "chkEnableAuto");
    chkEnableAuto->setToolTip(
        QStringLiteral("By enabling this setting Whenever any qso is logged  at any of the "
                       "connected stations the qso will be uploaded to Corvane."));

    setBold(FraCorvane, true);
    for (QLineEdit* box : {txtCorvaneEmailAddress, txtCorvaneCallsign, txtCorvanePassword}) {
        setBold(box, false);
        box->setMinimumWidth(QFontMetrics(box->font()).averageCharWidth() * 8);
    }

    auto* login = new QGridLayout(FraCorvane);
    login->addWidget(lblEmailAddress, 0, 0, Qt::AlignHCenter);
    login->addWidget(lblCallsign, 0, 1, Qt::AlignHCenter);
    login->addWidget(lblPassword, 0, 2, Qt::AlignHCenter);
    login->addWidget(txtCorvaneEmailAddress, 1, 0);
    login->addWidget(txtCorvaneCallsign, 1, 1);
    login->addWidget(txtCorvanePassword, 1, 2);
    login->addWidget(chkEnableAuto, 2, 0, 1, 3);
    // An e-mail address is the longest of the three, so its box is the widest.
    login->setColumnStretch(0, 121);
    login->setColumnStretch(1, 73);
    login->setColumnStretch(2, 81);

    txtResult = named(new QPlainTextEdit(central), "txtResult");
    txtResult->setReadOnly(true);
    txtResult->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtResult->setTabChangesFocus(true);

    FraManualCorvane =
        named(new QGroupBox(QStringLiteral("Manual Corvane Upload"), central), "FraManualCorvane");
    lblADIFFileCorvane =
        named(new QLabel(QStringLiteral("ADIF &File to Upload:"), FraManualCorvane), "lblADIFFileCorvane");
    txtUploadADIFPathCorvane = named(new QLineEdit(FraManualCorvane), "txtUploadADIFPathCorvane");
    lblADIFFileCorvane->setBuddy(txtUploadADIFPathCorvane);
    cmbBrowseforUploadADIF =
        named(new QPushButton(QStringLiteral("..."), FraManualCorvane), "cmbBrowseforUploadADIF");
    cmbBrowseforUploadADIF->setToolTip(QStringLiteral("Browse for the ADIF file to upload to Corvane"));
    // "..." has no letter to underline; Alt+B is the browse key of file boxes.
    cmbBrowseforUploadADIF->setShortcut(QKeySequence(Qt::ALT | Qt::Key_B));
    cmbProcessandUpload =
        named(new QPushButton(QStringLiteral("Process and &Upload to Corvane"), FraManualCorvane),
              "cmbProcessandUpload");
    cmbProcessandUpload->setToolTip(
        QStringLiteral("Clicking this button will upload the file selected to Corvane."));

    setBold(FraManualCorvane, true);
    for (QWidget* widget : std::initializer_list<QWidget*>{txtUploadADIFPathCorvane, cmbBrowseforUploadADIF,
                                                           cmbProcessandUpload})
        setBold(widget, false);
    fitCaption(cmbBrowseforUploadADIF);
    {
        // The main action is the big button of the window: two lines high.
        const QFontMetrics metrics(cmbProcessandUpload->font());
        cmbProcessandUpload->setMinimumSize(metrics.horizontalAdvance(cmbProcessandUpload->text()) +
                                                3 * metrics.height(),
                                            metrics.height() * 2 + metrics.height() / 2);
    }

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(txtUploadADIFPathCorvane, 1);
    pathRow->addWidget(cmbBrowseforUploadADIF);
    auto* manual = new QVBoxLayout(FraManualCorvane);
    manual->addWidget(lblADIFFileCorvane, 0, Qt::AlignHCenter);
    manual->addLayout(pathRow);
    manual->addWidget(cmbProcessandUpload, 0, Qt::AlignHCenter);

    auto* page = new QVBoxLayout(central);
    page->addLayout(counters);
    page->addWidget(FraCorvane);
    page->addWidget(txtResult, 1);
    page->addWidget(FraManualCorvane);

    setupStatusBar();
    applyColours();

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(30000);
    Timer1->setSingleShot(false);

    setupMenus();
    setupTabOrder();
}

void frmMain::setupStatusBar()
{
    StatusBar1 = named(new QStatusBar(this), "StatusBar1");
    auto* panels = new QWidget(StatusBar1);
    StatusPanel1 = named(new QLabel(panels), "StatusPanel1");
    lblListening = named(new QLabel(panels), "lblListening");
    lblFailure = named(new QLabel(panels), "lblFailure");
    lblCounts = named(new QLabel(panels), "lblCounts");
    lblWaiting = named(new QLabel(panels), "lblWaiting");
    for (QLabel* label : {StatusPanel1, lblListening, lblFailure, lblWaiting}) {
        // A long text is cut off rather than widening the window; its tool tip has it whole.
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }
    lblCounts->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    lblWaiting->setWordWrap(true);
    lblWaiting->hide();
    lblFailure->hide();

    // What is happening now; whether Tarvex listens; the last failure and
    // the session's counts; why contacts are held up, when they are.
    auto* grid = new QGridLayout(panels);
    grid->setContentsMargins(3, 0, 3, 0);
    grid->setVerticalSpacing(0);
    grid->addWidget(StatusPanel1, 0, 0, 1, 2);
    grid->addWidget(lblListening, 1, 0, 1, 2);
    grid->addWidget(lblFailure, 2, 0);
    grid->addWidget(lblCounts, 2, 1);
    grid->addWidget(lblWaiting, 3, 0, 1, 2);
    grid->setColumnStretch(0, 1);
    StatusBar1->addWidget(panels, 1);
    setStatusBar(StatusBar1);
}

void frmMain::applyColours()
{
    // The count's blue on the button face, unless the theme makes it unreadable.
    const QPalette theme = palette();
    QPalette countColours = txtTotalQSOUploaded->palette();
    const QColor face = theme.color(QPalette::Button);
    countColours.setColor(QPalette::Text, Palette::readable(QColor(0, 0, 255), face,
                                                            {theme.color(QPalette::Link), theme.color(QPalette::ButtonText)}));
    countColours.setColor(QPalette::Base, face);
    txtTotalQSOUploaded->setPalette(countColours);
    if (actShowPassword)
        actShowPassword->setIcon(eyeIcon(theme.color(QPalette::Text), actShowPassword->isChecked()));
}

void frmMain::setupMenus()
{
    mnuError = named(menuBar()->addMenu(QStringLiteral("&Error Log Menu")), "mnuError");
    mnuOpenErrorLog = named(mnuError->addAction(QStringLiteral("&Open Error Log")), "mnuOpenErrorLog");
    mnuClearErrorLog = named(mnuError->addAction(QStringLiteral("&Clear Error Log")), "mnuClearErrorLog");
    mnuViewNonUploaded =
        named(mnuError->addAction(QStringLiteral("&View Non-Uploaded Qso's")), "mnuViewNonUploaded");
    // Start-up decides whether there is anything to show.
    mnuError->menuAction()->setVisible(false);

    mnuInfo = named(menuBar()->addMenu(QStringLiteral("&Info")), "mnuInfo");
    mnuRecent = named(mnuInfo->addAction(QStringLiteral("&Recent Contacts")), "mnuRecent");
    mnuRecent->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    mnuAbout = named(mnuInfo->addAction(QStringLiteral("&About")), "mnuAbout");
    mnudbg = named(mnuInfo->addMenu(QStringLiteral("&Debug")), "mnudbg");
    mnuDebug0 = named(mnudbg->addAction(QStringLiteral("Debug &On")), "mnuDebug0");
    mnuDebug1 = named(mnudbg->addAction(QStringLiteral("Debug O&ff")), "mnuDebug1");
    for (QAction* item : {mnuDebug0, mnuDebug1})
        item->setCheckable(true);

    // F10 opens the first menu, as on other desktops.
    auto* f10 = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(f10, &QShortcut::activated, this, [this] {
        for (QAction* menu : menuBar()->actions()) {
            if (menu->isVisible()) {
                menuBar()->setActiveAction(menu);
                return;
            }
        }
    });
}

void frmMain::setupTabOrder()
{
    QWidget* const chain[] = {txtPort,
                              txtResult,
                              txtCorvanePassword,
                              txtCorvaneEmailAddress,
                              txtCorvaneCallsign,
                              chkEnableAuto,
                              cmbProcessandUpload,
                              cmbBrowseforUploadADIF,
                              txtUploadADIFPathCorvane,
                              cmdReset};
    for (std::size_t i = 0; i + 1 < std::size(chain); ++i)
        setTabOrder(chain[i], chain[i + 1]);
    // The window opens with the input focus in the port box.
    txtPort->setFocus();
}
