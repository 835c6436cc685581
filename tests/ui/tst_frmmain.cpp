#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "TestMain.h"
#include "WorkedContact.h"
#include "logs/DebugTrace.h"
#include "settings/LoginSource.h"
#include "station/Station.h"
#include "status/RecentContacts.h"
#include "status/StatusModel.h"
#include "ui/About.h"
#include "ui/RecentContactsView.h"
#include "ui/frmMain.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

using namespace std::chrono_literals;

namespace {

// A started station in a throw-away folder with its window, posting to the
// stand-in service; `ini` adds lines to Tarvex.ini.
struct Rig
{
    explicit Rig(const QByteArray& ini = {})
    {
        service.listen();
        dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(freeUdpPort()) +
                                    "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() + "\r\n" + ini);
        Station::Timings timings;
        timings.firstPause = 20ms;
        timings.longestPause = 40ms;
        station = std::make_unique<Station>(AppPaths(dir.path()), timings);
        station->start();
        window = std::make_unique<frmMain>(*station, prompter);
        window->Form_Load();
        QTRY_VERIFY(station->status().state().listening);
        QCoreApplication::processEvents(); // the window's refresh
    }
    template <typename T = QWidget> T* find(const char* name) const
    {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        if (!found)
            qFatal("no %s", name);
        return found;
    }
    QLineEdit* box(const char* name) const { return find<QLineEdit>(name); }
    QLabel* label(const char* name) const { return find<QLabel>(name); }
    QAction* action(const char* name) const { return find<QAction>(name); }
    QTimer* timer() const { return find<QTimer>("Timer1"); }
    void send(const QByteArray& datagram) const
    {
        QUdpSocket().writeDatagram(datagram, QHostAddress::LocalHost, station->status().state().port);
    }
    QByteArray ini() const { return dir.read("Tarvex.ini"); }

    TempDir dir;
    FakeCorvane service;
    ScriptedPrompter prompter;
    std::unique_ptr<Station> station;
    std::unique_ptr<frmMain> window;
};

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { DebugTrace::setEnabled(false); }
    void controlsAndKeyboard();
    void startUpFillsTheControls();
    void thePortBoxShowsThePortInUse();
    void theLoginIsCommittedNotTyped();
    void statusLinesFollowTheStation();
    void destructivePromptsPreferNo();
    void indicatorStops();
    void menuCommands();
    void recentContactsAreReadableWhenOpened();
    void closingDuringAContestAsks();
};

void TestFrmMain::controlsAndKeyboard()
{
    Rig rig;
    frmMain& w = *rig.window;
    const std::pair<const char*, const char*> captions[] = {
        {"lblPortTo", "&Port to connect to Ostrel Logger:"}, {"cmdReset", "&Reset"},
        {"chkEnableAuto", "Enable &auto upload to Corvane."},  {"cmbProcessandUpload", "Process and &Upload to Corvane"},
        {"lblEmailAddress", "E&mail Address"},                 {"lblCallsign", "Call&sign"},
        {"lblPassword", "Pass&word"},                          {"lblADIFFileCorvane", "ADIF &File to Upload:"}};
    for (const auto& [name, caption] : captions)
        QCOMPARE(rig.find<QObject>(name)->property("text").toString(), QString::fromLatin1(caption));
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvex Upload Utility"));
    // The program's own icon, not Qt's generic one: its resource is registered.
    const QImage icon = QImage(QStringLiteral(":/icons/tarvex-64.png")).convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(!icon.isNull());
    QCOMPARE(w.windowIcon().availableSizes(), QList<QSize>({{16, 16}, {32, 32}, {64, 64}, {256, 256}}));
    QCOMPARE(w.windowIcon().pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied), icon);

    // "Not Set" reads as words; a password as dots until the eye (Alt+H) shows it.
    QLineEdit* password = rig.box("txtCorvanePassword");
    QCOMPARE(password->echoMode(), QLineEdit::Normal);
    password->setText("secret");
    QCOMPARE(password->echoMode(), QLineEdit::Password);

    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTest::keyClick(&w, Qt::Key_H, Qt::AltModifier);
    QCOMPARE(password->echoMode(), QLineEdit::Normal);
    QStringList visited;
    for (int i = 0; i < 10; ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, QStringList({"txtPort", "txtResult", "txtCorvanePassword", "txtCorvaneEmailAddress",
                                   "txtCorvaneCallsign", "chkEnableAuto", "cmbProcessandUpload",
                                   "cmbBrowseforUploadADIF", "txtUploadADIFPathCorvane", "cmdReset"}));
    // The status lines are next: the keyboard and a screen reader reach them.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(qobject_cast<QLabel*>(QApplication::focusWidget()));
    QVERIFY(!QApplication::focusWidget()->accessibleName().isEmpty());
    QTest::keyClick(&w, Qt::Key_F10);
    QMenu* info = rig.find<QMenu>("mnuInfo");
    QTRY_VERIFY(info->isVisible()); // the Error Log Menu is hidden until there is an error
    info->close();
}

void TestFrmMain::startUpFillsTheControls()
{
    Rig rig("TotalRecordsUploaded=41\r\nAutoUploadEnabled=False\r\nDebug=True\r\nCorvaneCallsign=Q9ABC\r\n");
    QCOMPARE(rig.box("txtPort")->text(), QString::number(rig.station->status().state().port));
    QCOMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("41"));
    QCOMPARE(rig.box("txtCorvaneCallsign")->text(), QStringLiteral("Q9ABC"));
    QCOMPARE(rig.box("txtCorvaneEmailAddress")->text(), QStringLiteral("Not Set"));
    QVERIFY(!rig.find<QCheckBox>("chkEnableAuto")->isChecked());
    QVERIFY(rig.action("mnuDebug0")->isChecked() && !rig.action("mnuDebug1")->isChecked());
    QVERIFY(!rig.find<QMenu>("mnuError")->menuAction()->isVisible());
    // Each assignment was stored straight back.
    QTRY_VERIFY(rig.ini().contains("CorvaneEmailAddress=Not Set\r\n"));
}

void TestFrmMain::thePortBoxShowsThePortInUse()
{
    Rig rig;
    frmMain& w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QLineEdit* port = rig.box("txtPort");
    const QString inUse = port->text();

    port->setText("65535");
    QTest::keyClick(port, Qt::Key_Return);
    QCOMPARE(rig.prompter.messages.size(), 1);
    QCOMPARE(rig.prompter.messages[0].text, QStringLiteral("Invalid port specified!"));
    QCOMPARE(rig.prompter.messages[0].title, QStringLiteral("Failure"));
    QCOMPARE(port->text(), inUse);
    rig.box("txtCorvaneCallsign")->setFocus(); // the box holds the port in use: no second message
    QCOMPARE(rig.prompter.messages.size(), 1);

    const quint16 next = freeUdpPort();
    port->setFocus();
    port->setText(QString::number(next) + ".0");
    QTest::keyClick(port, Qt::Key_Return);
    QTRY_COMPARE(rig.station->status().state().port, next);
    QTRY_VERIFY(rig.ini().contains("UDPPort=" + QByteArray::number(next) + ".0\r\n")); // as typed
    rig.send("to the new port");
    QTRY_COMPARE(rig.find<QPlainTextEdit>("txtResult")->toPlainText(), QStringLiteral("to the new port"));

    // Switching to the logger applies a valid port without a box.
    const quint16 third = freeUdpPort();
    port->setText(QString::number(third));
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(port, &away);
    QTRY_COMPARE(rig.station->status().state().port, third);
    QCOMPARE(rig.prompter.messages.size(), 1);
}

void TestFrmMain::theLoginIsCommittedNotTyped()
{
    Rig rig;
    frmMain& w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QLineEdit* password = rig.box("txtCorvanePassword");
    password->setFocus();
    password->selectAll();
    QTest::keyClicks(password, "right");
    QTRY_VERIFY(rig.ini().contains("CorvanePassword=right\r\n")); // stored as typed...
    QCOMPARE(rig.station->login().current().password, QStringLiteral("Not Set")); // ...not used
    QTest::keyClick(password, Qt::Key_Return);
    QCOMPARE(rig.station->login().current().password, QStringLiteral("right"));
    QLineEdit* call = rig.box("txtCorvaneCallsign");
    call->setFocus();
    call->setText("Q9NEW");
    rig.box("txtPort")->setFocus(); // leaving the field commits it
    QCOMPARE(rig.station->login().current().callsign, QStringLiteral("Q9NEW"));
}

void TestFrmMain::statusLinesFollowTheStation()
{
    Rig rig("CorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n");
    rig.service.setReply("/realtime.php", {200, "Invalid Callsign - a long reason that goes on and on"});
    rig.send(WorkedContact::Datagram);
    QLabel* failure = rig.label("lblFailure");
    QTRY_VERIFY(failure->text().endsWith(" Refused Q9XYZ: Invalid Callsign - a long reason that goes on and on"));
    QVERIFY(failure->wordWrap()); // never cut off: it wraps
    QCOMPARE(rig.label("StatusPanel1")->text(), QStringLiteral("Uploading Data Returned Error's"));
    QTRY_VERIFY(rig.label("lblCounts")->text().startsWith("Accepted 0 · Waiting 0 · Refused 1 · In file 1"));
    QVERIFY(rig.find<QMenu>("mnuError")->menuAction()->isVisible());
    QVERIFY(rig.timer()->isActive());

    rig.service.setReply("/realtime.php", {});
    rig.send(WorkedContact::datagramWithCall("Q9AAA"));
    QTRY_VERIFY(rig.label("lblCounts")->text().startsWith("Last accepted "));
    QVERIFY(rig.label("lblCounts")->text().contains(" Q9AAA · Accepted 1 · Waiting 0 · Refused 1"));
    QCOMPARE(rig.label("StatusPanel1")->text(), QStringLiteral("Uploading Data Complete."));
    QCOMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("1"));
}

void TestFrmMain::destructivePromptsPreferNo()
{
    Rig rig("TotalRecordsUploaded=41\r\n");
    rig.dir.write("ErrorLog.txt", "x");
    // Enter on each box: nothing is destroyed.
    rig.find<QPushButton>("cmdReset")->click();
    rig.action("mnuClearErrorLog")->trigger();
    QCOMPARE(rig.prompter.messages.size(), 2);
    for (const ScriptedPrompter::Message& message : std::as_const(rig.prompter.messages))
        QCOMPARE(message.preferred, Prompter::Answer::No);
    QCOMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("41"));
    QVERIFY(rig.dir.exists("ErrorLog.txt"));

    rig.prompter.answers << Prompter::Answer::Yes << Prompter::Answer::Yes;
    rig.find<QPushButton>("cmdReset")->click();
    rig.action("mnuClearErrorLog")->trigger();
    QTRY_COMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("0"));
    QTRY_VERIFY(rig.ini().contains("TotalRecordsUploaded=0\r\n"));
    QVERIFY(!rig.dir.exists("ErrorLog.txt"));
}

void TestFrmMain::indicatorStops()
{
    TempDir dir;
    dir.write("NotUploadedQsosLog.adi", "kept\r\n"); // the not-uploaded file alone shows the menu too
    dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(freeUdpPort()) + "\r\n");
    Station station{AppPaths(dir.path())};
    station.start();
    ScriptedPrompter prompter;
    frmMain w(station, prompter);
    w.Form_Load();
    auto* timer = w.findChild<QTimer*>("Timer1");
    QVERIFY(w.findChild<QMenu*>("mnuError")->menuAction()->isVisible());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 30000);
    QCOMPARE(prompter.attentionRequests, 0); // nothing visible before the first tick

    for (const Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
        QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(5, -5), QPointF(5, -5), button, button,
                          Qt::NoModifier);
        QVERIFY(!QApplication::sendEvent(&w, &press)); // not swallowed: the window still drags
        QCOMPARE(timer->isActive(), button == Qt::RightButton);
    }
    w.setErrorFlashInterval(20ms);
    timer->start();
    QTRY_VERIFY(w.isRequestingAttention());
    QVERIFY(prompter.attentionRequests > 0);
    QTRY_VERIFY(w.findChild<QLabel*>("lblFailure")->text().startsWith(
        "Error information has been written to ErrorLog file!!"));
    QTest::mouseClick(w.centralWidget(), Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(!timer->isActive() && !w.isRequestingAttention());
    QVERIFY(!station.status().state().attention);

    timer->start();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!timer->isActive());
}

void TestFrmMain::menuCommands()
{
    Rig rig;
    frmMain& w = *rig.window;
    rig.action("mnuOpenErrorLog")->trigger();
    QVERIFY(rig.prompter.openedUrls.isEmpty());
    QCOMPARE(rig.label("StatusPanel1")->text(), QStringLiteral("ErrorLog.txt does not exist yet."));

    rig.dir.write("ErrorLog.txt", "x");
    rig.dir.write("NotUploadedQsosLog.adi", "y");
    rig.action("mnuOpenErrorLog")->trigger();
    rig.action("mnuViewNonUploaded")->trigger();
    QCOMPARE(rig.prompter.openedUrls, QList<QUrl>({QUrl::fromLocalFile(rig.dir.file("ErrorLog.txt")),
                                                   QUrl::fromLocalFile(rig.dir.file("NotUploadedQsosLog.adi"))}));
    rig.action("mnuDebug0")->trigger();
    QVERIFY(DebugTrace::enabled());
    QTRY_VERIFY(rig.ini().contains("Debug=True\r\nVersion=" + versionText().toUtf8() + "\r\n"));

    w.show();
    rig.action("mnuAbout")->trigger();
    About* about = w.aboutWindow();
    QVERIFY(about && about->isVisible());
    QVERIFY((about->geometry().center() - w.geometry().center()).manhattanLength() < 6); // over its window
    rig.action("mnuAbout")->trigger();
    QCOMPARE(w.aboutWindow(), about);
    rig.action("mnuRecent")->trigger();
    QVERIFY(w.recentWindow() && w.recentWindow()->isVisible());
}

void TestFrmMain::recentContactsAreReadableWhenOpened()
{
    Rig rig("CorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n");
    rig.send(WorkedContact::Datagram);
    QTRY_COMPARE(rig.station->status().state().accepted, 1);
    rig.window->show();
    rig.action("mnuRecent")->trigger();
    auto* table = rig.window->recentWindow()->findChild<QTableView*>();
    QVERIFY(QTest::qWaitForWindowExposed(table));
    QTRY_COMPARE(table->model()->rowCount(), 1);
    for (const int column : {RecentContacts::TimeColumn, RecentContacts::CallColumn}) {
        const QString text = table->model()->index(0, column).data().toString();
        QTRY_VERIFY2(table->columnWidth(column) > table->fontMetrics().horizontalAdvance(text), qPrintable(text));
    }
}

void TestFrmMain::closingDuringAContestAsks()
{
    Rig rig("CorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n");
    frmMain& w = *rig.window;
    w.show();
    rig.service.stopListening();
    rig.send(WorkedContact::Datagram);
    QTRY_COMPARE(rig.station->status().state().waiting, 1);
    QVERIFY(!w.close()); // Enter keeps Tarvex running
    QCOMPARE(rig.prompter.messages.last().buttons, Prompter::Buttons::QuitCancel); // offscreen has no tray
    QCOMPARE(rig.prompter.messages.last().preferred, Prompter::Answer::Cancel);
    QVERIFY(rig.prompter.messages.last().text.startsWith("1 contact waiting for Corvane."));
    QVERIFY(w.isVisible());
    rig.prompter.answers << Prompter::Answer::Quit;
    QVERIFY(w.close());
}

TARVEX_TEST(TestFrmMain)
#include "tst_frmmain.moc"
