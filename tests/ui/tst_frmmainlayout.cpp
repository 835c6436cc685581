#include "ScriptedPrompter.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSizeGrip>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

class TestFrmMainLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void controlsAreAsDesigned_data();
    void controlsAreAsDesigned();
    void menusNestAsDesigned();
    void windowOpensInItsDesignState();
    void statusBarHasOnePanel();
    void tabWalksTheDesignedChain();
    void arrangementKeepsTheDesign_data();
    void arrangementKeepsTheDesign();

private:
    QWidget* control(const QString& name) const;

    QTemporaryDir m_dir;
    ScriptedPrompter m_prompter;
    std::unique_ptr<frmMain> m_window;
};

namespace {

QString captionOf(const QWidget* widget)
{
    if (const auto* frame = qobject_cast<const QGroupBox*>(widget))
        return frame->title();
    if (const auto* text = qobject_cast<const QPlainTextEdit*>(widget))
        return text->toPlainText();
    return widget->property("text").toString();
}

QRect geometryIn(const QWidget* window, const QWidget* widget)
{
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

} // namespace

void TestFrmMainLayout::initTestCase()
{
    m_window = std::make_unique<frmMain>(AppPaths(m_dir.path()), m_prompter);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
}

void TestFrmMainLayout::cleanupTestCase()
{
    m_window.reset();
}

QWidget* TestFrmMainLayout::control(const QString& name) const
{
    return m_window->findChild<QWidget*>(name);
}

void TestFrmMainLayout::controlsAreAsDesigned_data()
{
    QTest::addColumn<QWidget*>("member");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("kind");
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("bold");

    const auto row = [](QWidget* member, const char* name, const char* kind, const char* container,
                        const char* caption, const char* toolTip, bool bold) {
        QTest::newRow(name) << member << QString::fromLatin1(name) << QByteArray(kind)
                            << QString::fromLatin1(container) << QString::fromUtf8(caption)
                            << QString::fromUtf8(toolTip) << bold;
    };
    constexpr bool Bold = true;
    constexpr bool Regular = false;
    const frmMain& w = *m_window;
    row(w.lblPortTo, "lblPortTo", "QLabel", "window", "Port to connect to Ostrel Logger:", "", Bold);
    row(w.txtPort, "txtPort", "QLineEdit", "window", "",
        "The default Port is 12060. This must match the port set in Ostrel.ini under the [ExternalBroadcast] "
        "Heading.",
        Regular);
    row(w.lblTotalQso, "lblTotalQso", "QLabel", "window", "Total Qso's Uploaded:", "", Bold);
    row(w.txtTotalQSOUploaded, "txtTotalQSOUploaded", "QLineEdit", "window", "220000", "", Bold);
    row(w.cmdReset, "cmdReset", "QPushButton", "window", "Reset", "", Regular);
    row(w.FraCorvane, "FraCorvane", "QGroupBox", "window", "Corvane Login Information", "", Bold);
    row(w.lblEmailAddress, "lblEmailAddress", "QLabel", "FraCorvane", "Email Address", "", Bold);
    row(w.txtCorvaneEmailAddress, "txtCorvaneEmailAddress", "QLineEdit", "FraCorvane", "",
        "This is your email address that is used to sign into Corvane.", Regular);
    row(w.lblCallsign, "lblCallsign", "QLabel", "FraCorvane", "Callsign", "", Bold);
    row(w.txtCorvaneCallsign, "txtCorvaneCallsign", "QLineEdit", "FraCorvane", "",
        "This is the callsign to use with Corvane.", Regular);
    row(w.lblPassword, "lblPassword", "QLabel", "FraCorvane", "Password", "", Bold);
    row(w.txtCorvanePassword, "txtCorvanePassword", "QLineEdit", "FraCorvane", "",
        "This is the password associated with your Corvane account. It was emailed to you from Corvane.",
        Regular);
    row(w.chkEnableAuto, "chkEnableAuto", "QCheckBox", "FraCorvane", "Enable auto upload to Corvane.",
        "By enabling this setting Whenever any qso is logged  at any of the connected stations "
        "the qso will be uploaded to Corvane.",
        Bold);
    row(w.txtResult, "txtResult", "QPlainTextEdit", "window", "", "", Regular);
    row(w.FraManualCorvane, "FraManualCorvane", "QGroupBox", "window", "Manual Corvane Upload", "", Bold);
    row(w.lblADIFFileCorvane, "lblADIFFileCorvane", "QLabel", "FraManualCorvane", "ADIF File to Upload:", "",
        Bold);
    row(w.txtUploadADIFPathCorvane, "txtUploadADIFPathCorvane", "QLineEdit", "FraManualCorvane", "", "",
        Regular);
    row(w.cmbBrowseforUploadADIF, "cmbBrowseforUploadADIF", "QPushButton", "FraManualCorvane", "...",
        "Browse for the ADIF file to upload to Corvane", Regular);
    row(w.cmbProcessandUpload, "cmbProcessandUpload", "QPushButton", "FraManualCorvane",
        "Process and Upload to Corvane", "Clicking this button will upload the file selected to Corvane.",
        Regular);
    row(w.StatusBar1, "StatusBar1", "QStatusBar", "frmMain", "", "", Regular);
}

void TestFrmMainLayout::controlsAreAsDesigned()
{
    QFETCH(QWidget*, member);
    QFETCH(QString, name);
    QFETCH(QByteArray, kind);
    QFETCH(QString, container);
    QFETCH(QString, caption);
    QFETCH(QString, toolTip);
    QFETCH(bool, bold);

    QWidget* const found = control(name);
    QVERIFY2(found, qPrintable(name));
    QCOMPARE(found, member);
    QVERIFY2(found->inherits(kind.constData()), found->metaObject()->className());
    const QWidget* const expectedParent = container == QLatin1String("window")    ? m_window->centralWidget()
                                          : container == QLatin1String("frmMain") ? m_window.get()
                                                                                  : control(container);
    QCOMPARE(found->parentWidget(), expectedParent);
    QCOMPARE(captionOf(found), caption);
    QCOMPARE(found->toolTip(), toolTip);
    QCOMPARE(found->font().bold(), bold);
    QVERIFY(found->isVisible());
}

void TestFrmMainLayout::menusNestAsDesigned()
{
    QStringList tree;
    const auto walk = [&tree](const auto& self, const QList<QAction*>& items, const QString& under) -> void {
        for (const QAction* item : items) {
            const QMenu* submenu = item->menu();
            const QString name = submenu ? submenu->objectName() : item->objectName();
            tree << under + name + QLatin1Char('=') + item->text();
            if (submenu)
                self(self, submenu->actions(), name + QLatin1Char('/'));
        }
    };
    walk(walk, m_window->menuBar()->actions(), QString());

    QCOMPARE(tree, QStringList({"mnuError=Error Log Menu", "mnuError/mnuOpenErrorLog=Open Error Log",
                                "mnuError/mnuClearErrorLog=Clear Error Log",
                                "mnuError/mnuViewNonUploaded=View Non-Uploaded Qso's", "mnuInfo=Info",
                                "mnuInfo/mnuAbout=About", "mnuInfo/mnudbg=Debug", "mnudbg/mnuDebug0=Debug On",
                                "mnudbg/mnuDebug1=Debug Off"}));

    const frmMain& w = *m_window;
    const std::pair<const QObject*, const char*> members[] = {{w.mnuError, "mnuError"},
                                                              {w.mnuOpenErrorLog, "mnuOpenErrorLog"},
                                                              {w.mnuClearErrorLog, "mnuClearErrorLog"},
                                                              {w.mnuViewNonUploaded, "mnuViewNonUploaded"},
                                                              {w.mnuInfo, "mnuInfo"},
                                                              {w.mnuAbout, "mnuAbout"},
                                                              {w.mnudbg, "mnudbg"},
                                                              {w.mnuDebug0, "mnuDebug0"},
                                                              {w.mnuDebug1, "mnuDebug1"}};
    for (const auto& [member, name] : members)
        QCOMPARE(member->objectName(), QString::fromLatin1(name));
}

void TestFrmMainLayout::windowOpensInItsDesignState()
{
    const frmMain& w = *m_window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvex Upload Utility"));

    for (const QLineEdit* box : w.findChildren<QLineEdit*>())
        QCOMPARE(box->text(), box == w.txtTotalQSOUploaded ? QStringLiteral("220000") : QString());
    QVERIFY(w.txtResult->toPlainText().isEmpty());
    QVERIFY(!w.chkEnableAuto->isChecked());

    QVERIFY(w.txtTotalQSOUploaded->isReadOnly());
    QCOMPARE(w.txtTotalQSOUploaded->palette().color(QPalette::Text), QColor(0, 0, 255));
    QCOMPARE(w.txtTotalQSOUploaded->palette().color(QPalette::Base),
             QApplication::palette().color(QPalette::Button));
    QCOMPARE(w.txtCorvanePassword->echoMode(), QLineEdit::Normal);
    QVERIFY(w.txtResult->isReadOnly());
    QCOMPARE(w.txtResult->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

    QVERIFY(!w.mnuError->menuAction()->isVisible());
    QVERIFY(w.mnuInfo->menuAction()->isVisible());
    for (const QAction* item : w.findChildren<QAction*>())
        QVERIFY2(!item->isChecked(), qPrintable(item->text()));
    QVERIFY(w.mnuDebug0->isCheckable() && w.mnuDebug1->isCheckable());

    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(w.Timer1->interval(), 30000);
    QVERIFY(!w.Timer1->isSingleShot());
}

void TestFrmMainLayout::statusBarHasOnePanel()
{
    const frmMain& w = *m_window;
    QCOMPARE(w.statusBar(), w.StatusBar1);
    QList<QWidget*> panels;
    for (QWidget* child : w.StatusBar1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!qobject_cast<QSizeGrip*>(child))
            panels << child;
    }
    QCOMPARE(panels, QList<QWidget*>({w.StatusPanel1}));
    QCOMPARE(w.StatusPanel1->objectName(), QStringLiteral("StatusPanel1"));
    QVERIFY(w.StatusPanel1->text().isEmpty());
    QVERIFY(w.StatusPanel1->isVisible());

    // A long status line must not push the window wider.
    const int width = w.width();
    w.StatusPanel1->setText(QString(400, QLatin1Char('x')));
    QVERIFY(m_window->minimumSizeHint().width() <= width);
    w.StatusPanel1->clear();
}

void TestFrmMainLayout::tabWalksTheDesignedChain()
{
    frmMain w(AppPaths(m_dir.path()), m_prompter);
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.txtPort);

    QStringList visited;
    for (int i = 0; i < 10; ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, QStringList({"txtPort", "txtResult", "txtCorvanePassword", "txtCorvaneEmailAddress",
                                   "txtCorvaneCallsign", "chkEnableAuto", "cmbProcessandUpload",
                                   "cmbBrowseforUploadADIF", "txtUploadADIFPathCorvane", "cmdReset"}));
    QCOMPARE(QApplication::focusWidget(), w.txtPort);
    QTest::keyClick(w.txtPort, Qt::Key_Backtab);
    QCOMPARE(QApplication::focusWidget(), w.cmdReset);
}

void TestFrmMainLayout::arrangementKeepsTheDesign_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("relation");
    QTest::addColumn<QString>("second");

    const auto row = [](const char* name, const char* first, const char* relation, const char* second) {
        QTest::newRow(name) << QString::fromLatin1(first) << QString::fromLatin1(relation)
                            << QString::fromLatin1(second);
    };
    row("port label then box", "lblPortTo", "leftOf", "txtPort");
    row("count then Reset", "txtTotalQSOUploaded", "leftOf", "cmdReset");
    row("port row over count row", "txtPort", "above", "cmdReset");
    row("Reset under the port box", "cmdReset", "sameLeft", "txtPort");
    row("counts over login", "cmdReset", "above", "FraCorvane");
    row("login over datagram", "FraCorvane", "above", "txtResult");
    row("datagram over manual upload", "txtResult", "above", "FraManualCorvane");
    row("manual upload over status", "FraManualCorvane", "above", "StatusBar1");
    row("e-mail label over box", "lblEmailAddress", "above", "txtCorvaneEmailAddress");
    row("e-mail label centred", "lblEmailAddress", "centredOver", "txtCorvaneEmailAddress");
    row("e-mail then call sign", "txtCorvaneEmailAddress", "leftOf", "txtCorvaneCallsign");
    row("e-mail box widest", "txtCorvaneEmailAddress", "wider", "txtCorvanePassword");
    row("password wider than call sign", "txtCorvanePassword", "wider", "txtCorvaneCallsign");
    row("login boxes over check box", "txtCorvaneCallsign", "above", "chkEnableAuto");
    row("file label over path", "lblADIFFileCorvane", "above", "txtUploadADIFPathCorvane");
    row("path then browse", "txtUploadADIFPathCorvane", "leftOf", "cmbBrowseforUploadADIF");
    row("upload centred in its frame", "cmbProcessandUpload", "centredOver", "FraManualCorvane");
    row("upload is the big button", "cmbProcessandUpload", "taller", "cmbBrowseforUploadADIF");
}

void TestFrmMainLayout::arrangementKeepsTheDesign()
{
    QFETCH(QString, first);
    QFETCH(QString, relation);
    QFETCH(QString, second);

    const QWidget* const a = control(first);
    const QWidget* const b = control(second);
    QVERIFY(a && b);
    const QRect ra = geometryIn(m_window.get(), a);
    const QRect rb = geometryIn(m_window.get(), b);
    const QString shown = QStringLiteral("%1 %2,%3 %4x%5 / %6 %7,%8 %9x%10")
                              .arg(first)
                              .arg(ra.x())
                              .arg(ra.y())
                              .arg(ra.width())
                              .arg(ra.height())
                              .arg(second)
                              .arg(rb.x())
                              .arg(rb.y())
                              .arg(rb.width())
                              .arg(rb.height());

    bool holds = false;
    if (relation == QLatin1String("leftOf"))
        holds = ra.right() < rb.left() && ra.center().y() >= rb.top() && ra.center().y() <= rb.bottom();
    else if (relation == QLatin1String("above"))
        holds = ra.bottom() < rb.top();
    else if (relation == QLatin1String("sameLeft"))
        holds = ra.left() == rb.left();
    else if (relation == QLatin1String("centredOver"))
        holds = qAbs(ra.center().x() - rb.center().x()) <= 2;
    else if (relation == QLatin1String("wider"))
        holds = ra.width() > rb.width();
    else if (relation == QLatin1String("taller"))
        holds = ra.height() > rb.height();
    else
        QFAIL("unknown relation");
    QVERIFY2(holds, qPrintable(shown));
}

QTEST_MAIN(TestFrmMainLayout)
#include "tst_frmmainlayout.moc"
