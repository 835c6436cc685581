#include "ui/frmMain.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
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

} // namespace

void frmMain::setupUi()
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QStringLiteral("Tarvex Upload Utility"));

    auto* central = named(new QWidget(this), "centralWidget");
    setCentralWidget(central);

    lblPortTo = named(new QLabel(QStringLiteral("Port to connect to Ostrel Logger:"), central), "lblPortTo");
    txtPort = named(new QLineEdit(central), "txtPort");
    txtPort->setToolTip(
        QStringLiteral("The default Port is 12060. This must match the port set in Ostrel.ini "
                       "under the [ExternalBroadcast] Heading."));
    lblTotalQso = named(new QLabel(QStringLiteral("Total Qso's Uploaded:"), central), "lblTotalQso");
    txtTotalQSOUploaded = named(new QLineEdit(QStringLiteral("220000"), central), "txtTotalQSOUploaded");
    txtTotalQSOUploaded->setReadOnly(true);
    // Out of the tab chain, yet the count can still be selected and copied.
    txtTotalQSOUploaded->setFocusPolicy(Qt::ClickFocus);
    QPalette countColours = txtTotalQSOUploaded->palette();
    countColours.setColor(QPalette::Text, QColor(0, 0, 255));
    countColours.setBrush(QPalette::Base, countColours.brush(QPalette::Button));
    txtTotalQSOUploaded->setPalette(countColours);
    cmdReset = named(new QPushButton(QStringLiteral("Reset"), central), "cmdReset");

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
    lblEmailAddress = named(new QLabel(QStringLiteral("Email Address"), FraCorvane), "lblEmailAddress");
    txtCorvaneEmailAddress = named(new QLineEdit(FraCorvane), "txtCorvaneEmailAddress");
    txtCorvaneEmailAddress->setToolTip(
        QStringLiteral("This is your email address that is used to sign into Corvane."));
    lblCallsign = named(new QLabel(QStringLiteral("Callsign"), FraCorvane), "lblCallsign");
    txtCorvaneCallsign = named(new QLineEdit(FraCorvane), "txtCorvaneCallsign");
    txtCorvaneCallsign->setToolTip(QStringLiteral("This is the callsign to use with Corvane."));
    lblPassword = named(new QLabel(QStringLiteral("Password"), FraCorvane), "lblPassword");
    txtCorvanePassword = named(new QLineEdit(FraCorvane), "txtCorvanePassword");
    txtCorvanePassword->setToolTip(
        QStringLiteral("This is the password associated with your Corvane account. "
                       "It was emailed to you from Corvane."));
    chkEnableAuto =
        named(new QCheckBox(QStringLiteral("Enable auto upload to Corvane."), FraCorvane), "chkEnableAuto");
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
        named(new QLabel(QStringLiteral("ADIF File to Upload:"), FraManualCorvane), "lblADIFFileCorvane");
    txtUploadADIFPathCorvane = named(new QLineEdit(FraManualCorvane), "txtUploadADIFPathCorvane");
    cmbBrowseforUploadADIF =
        named(new QPushButton(QStringLiteral("..."), FraManualCorvane), "cmbBrowseforUploadADIF");
    cmbBrowseforUploadADIF->setToolTip(QStringLiteral("Browse for the ADIF file to upload to Corvane"));
    cmbProcessandUpload =
        named(new QPushButton(QStringLiteral("Process and Upload to Corvane"), FraManualCorvane),
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

    StatusBar1 = named(new QStatusBar(this), "StatusBar1");
    StatusPanel1 = named(new QLabel(StatusBar1), "StatusPanel1");
    // A long status text is cut off rather than widening the window.
    StatusPanel1->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    StatusPanel1->setContentsMargins(3, 0, 3, 0);
    StatusBar1->addWidget(StatusPanel1, 1);
    setStatusBar(StatusBar1);

    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(30000);
    Timer1->setSingleShot(false);

    setupMenus();
    setupTabOrder();
}

void frmMain::setupMenus()
{
    mnuError = named(menuBar()->addMenu(QStringLiteral("Error Log Menu")), "mnuError");
    mnuOpenErrorLog = named(mnuError->addAction(QStringLiteral("Open Error Log")), "mnuOpenErrorLog");
    mnuClearErrorLog = named(mnuError->addAction(QStringLiteral("Clear Error Log")), "mnuClearErrorLog");
    mnuViewNonUploaded =
        named(mnuError->addAction(QStringLiteral("View Non-Uploaded Qso's")), "mnuViewNonUploaded");
    // Start-up decides whether there is anything to show.
    mnuError->menuAction()->setVisible(false);

    mnuInfo = named(menuBar()->addMenu(QStringLiteral("Info")), "mnuInfo");
    mnuAbout = named(mnuInfo->addAction(QStringLiteral("About")), "mnuAbout");
    mnudbg = named(mnuInfo->addMenu(QStringLiteral("Debug")), "mnudbg");
    mnuDebug0 = named(mnudbg->addAction(QStringLiteral("Debug On")), "mnuDebug0");
    mnuDebug1 = named(mnudbg->addAction(QStringLiteral("Debug Off")), "mnuDebug1");
    for (QAction* item : {mnuDebug0, mnuDebug1})
        item->setCheckable(true);
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
