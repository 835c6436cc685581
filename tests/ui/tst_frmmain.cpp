#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "capture/UdpListener.h"
#include "logs/DebugTrace.h"
#include "ui/About.h"
#include "ui/frmMain.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeUploader.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QByteArray WorkedExample =
    "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq><rxfreq>1420012</rxfreq>"
    "<mode>CW</mode><call>Q9XYZ</call><snt>599</snt><rcv>579</rcv><sntnr>12</sntnr><rcvnr>345</rcvnr>"
    "<exchange1>14</exchange1><wpxprefix>Q9</wpxprefix><extra>1</extra></contactinfo>";

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

// A started window in a throw-away application directory, talking to a fake service.
struct Station
{
    // `settings` holds lines for Tarvex.ini; without it the window starts from the template.
    explicit Station(const QByteArray& settings = {}, bool withFile = true)
    {
        service.listen();
        port = freeUdpPort();
        if (withFile) {
            dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(port) + "\r\nCorvaneHost="
                                        + service.baseUrl().toString().toUtf8() + "\r\n" + settings);
        }
        window = std::make_unique<frmMain>(AppPaths(dir.path()), prompter);
        window->uploader().setTimeout(2s);
        window->Form_Load();
    }

    void send(const QByteArray& datagram) const
    {
        QUdpSocket sender;
        sender.writeDatagram(datagram, QHostAddress::LocalHost, window->socket().boundPort());
    }

    QByteArray ini() const { return dir.read("Tarvex.ini"); }

    TempDir dir;
    FakeCorvane service;
    ScriptedPrompter prompter;
    quint16 port = 0;
    std::unique_ptr<frmMain> window;
};

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { DebugTrace::setEnabled(false); }

    void firstRunStartsFromTheTemplate();
    void storedSettingsAreShown();
    void unusableSettingsFallBackAndStartUpCompletes();
    void existingLogsShowTheErrorMenu();
    void invalidPortIsRefusedAndRestored_data();
    void invalidPortIsRefusedAndRestored();
    void newPortIsStoredAndBound();
    void portHeldByAnotherProgramIsReported();
    void contactTravelsFromSocketToService();
    void refusedContactRaisesTheIndicator();
    void indicatorStopsOnClickOrActivation();
    void typingStoresEveryChange();
    void uncheckingAutoUploadStopsUploads();
    void debugMenuSwitchesAndStores();
    void resetAsksFirst();
    void logCommands();
    void closingKeepsContactsInFlight();
    void aboutIsOneWindow();
};

void TestFrmMain::firstRunStartsFromTheTemplate()
{
    Station station({}, false);
    frmMain& w = *station.window;
    for (QLineEdit* box : {w.txtCorvaneEmailAddress, w.txtCorvaneCallsign, w.txtCorvanePassword})
        QCOMPARE(box->text(), QStringLiteral("Not Set"));
    QVERIFY(w.chkEnableAuto->isChecked());
    QVERIFY(w.pipeline().autoUpload());
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
    QCOMPARE(w.txtPort->text(), QStringLiteral("12060"));
    // 12060 may be taken on a busy machine; then the failure is reported instead.
    QVERIFY(w.socket().boundPort() == 12060
            || (station.prompter.messages.size() == 1 && station.prompter.messages[0].title == "Failure"));
    QVERIFY(w.mnuDebug1->isChecked());
    QVERIFY(!w.mnuDebug0->isChecked());
    QVERIFY(!w.mnuError->menuAction()->isVisible());
    QVERIFY(!w.Timer1->isActive());
    QCOMPARE(station.ini(), QByteArray("[Settings]\r\n"
                                       "CorvaneEmailAddress=Not Set\r\n"
                                       "CorvaneCallsign=Not Set\r\n"
                                       "CorvanePassword=Not Set\r\n"
                                       "TotalRecordsUploaded=0\r\n"
                                       "AutoUploadEnabled=True\r\n"
                                       "UDPPort=12060\r\n"
                                       "Debug=False\r\n"
                                       "Version= 1.0.0\r\n"));
}

void TestFrmMain::storedSettingsAreShown()
{
    Station station("CorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n"
                    "TotalRecordsUploaded=41\r\nAutoUploadEnabled=false\r\nDebug=True\r\n");
    frmMain& w = *station.window;
    QCOMPARE(w.txtPort->text(), QString::number(station.port));
    QCOMPARE(w.socket().boundPort(), station.port);
    QCOMPARE(w.txtCorvaneEmailAddress->text(), QStringLiteral("op@example.org"));
    QCOMPARE(w.txtCorvaneCallsign->text(), QStringLiteral("Q9ABC"));
    QCOMPARE(w.txtCorvanePassword->text(), QStringLiteral("secret"));
    QVERIFY(!w.chkEnableAuto->isChecked());
    QVERIFY(!w.pipeline().autoUpload());
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("41"));
    QCOMPARE(w.pipeline().uploadedCount(), 41);
    QVERIFY(w.mnuDebug0->isChecked());
    QVERIFY(DebugTrace::enabled());
    QVERIFY(station.prompter.messages.isEmpty());
}

void TestFrmMain::unusableSettingsFallBackAndStartUpCompletes()
{
    Station station("AutoUploadEnabled=Yes\r\nDebug=maybe\r\nTotalRecordsUploaded=99999999999\r\n");
    frmMain& w = *station.window;
    QVERIFY(w.chkEnableAuto->isChecked());
    QVERIFY(!w.mnuDebug0->isChecked());
    QVERIFY(w.mnuDebug1->isChecked());
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
    QCOMPARE(w.pipeline().uploadedCount(), 0);

    TempDir other;
    other.write("Tarvex.ini", "[Settings]\r\nUDPPort=99999\r\nTotalRecordsUploaded=12abc\r\n");
    ScriptedPrompter prompter;
    frmMain second(AppPaths(other.path()), prompter);
    second.Form_Load();
    QCOMPARE(second.txtPort->text(), QStringLiteral("12060"));
    QCOMPARE(second.txtTotalQSOUploaded->text(), QStringLiteral("12abc"));
    QCOMPARE(second.pipeline().uploadedCount(), 12);
}

void TestFrmMain::existingLogsShowTheErrorMenu()
{
    TempDir dir;
    dir.write("ErrorLog.txt", "old\r\n");
    ScriptedPrompter prompter;
    frmMain w(AppPaths(dir.path()), prompter);
    w.Form_Load();
    QVERIFY(w.mnuError->menuAction()->isVisible());
    QVERIFY(w.Timer1->isActive());
    // Opening the window activates it, which stops the indicator at once.
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(w.mnuError->menuAction()->isVisible());
}

void TestFrmMain::invalidPortIsRefusedAndRestored_data()
{
    QTest::addColumn<QString>("text");
    for (const char* text : {"65535", "0", "-1", "", "abc", "0.4"})
        QTest::newRow(text) << QString::fromLatin1(text);
}

void TestFrmMain::invalidPortIsRefusedAndRestored()
{
    QFETCH(QString, text);
    Station station;
    frmMain& w = *station.window;
    const QByteArray before = station.ini();

    w.txtPort->setText(text);
    w.txtPort_LostFocus();
    QCOMPARE(station.prompter.messages.size(), 1);
    QCOMPARE(station.prompter.messages[0].text, QStringLiteral("Invalid port specified!"));
    QCOMPARE(station.prompter.messages[0].title, QStringLiteral("Failure"));
    QCOMPARE(station.prompter.messages[0].icon, Prompter::Icon::Exclamation);
    QCOMPARE(w.txtPort->text(), QString::number(station.port));
    QCOMPARE(w.socket().boundPort(), station.port);
    QCOMPARE(station.ini(), before);
}

void TestFrmMain::newPortIsStoredAndBound()
{
    Station station;
    frmMain& w = *station.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.txtPort);

    // The same port written differently changes nothing.
    const QByteArray before = station.ini();
    w.txtPort->setText(QString::number(station.port) + ".0");
    w.txtCorvaneCallsign->setFocus();
    QCOMPARE(station.ini(), before);

    const quint16 next = freeUdpPort();
    w.txtPort->setFocus();
    w.txtPort->setText(QString::number(next));
    w.txtCorvaneEmailAddress->setFocus(); // leaving the box runs the check
    QCOMPARE(w.socket().boundPort(), next);
    QVERIFY(station.ini().contains("UDPPort=" + QByteArray::number(next) + "\r\n"));
    QVERIFY(station.prompter.messages.isEmpty());

    QSignalSpy shown(&w.pipeline(), &ContactPipeline::datagramShown);
    QUdpSocket sender;
    sender.writeDatagram("to the old port", QHostAddress::LocalHost, station.port);
    sender.writeDatagram("to the new port", QHostAddress::LocalHost, next);
    QTRY_COMPARE(w.txtResult->toPlainText(), QStringLiteral("to the new port"));
    QCOMPARE(shown.size(), 1);
}

void TestFrmMain::portHeldByAnotherProgramIsReported()
{
    Station station;
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::AnyIPv4, 0));

    station.window->txtPort->setText(QString::number(other.localPort()));
    station.window->txtPort_LostFocus();
    QCOMPARE(station.prompter.messages.size(), 1);
    QVERIFY(station.prompter.messages[0].text.startsWith(QStringLiteral("Error occured: \r\n")));
    QVERIFY(station.prompter.messages[0].text.size() > 20);
    QCOMPARE(station.prompter.messages[0].title, QStringLiteral("Failure"));
    QVERIFY(!station.window->socket().isBound());
    // The port was stored before the bind failed, as typed.
    QVERIFY(station.ini().contains("UDPPort=" + QByteArray::number(other.localPort()) + "\r\n"));
}

void TestFrmMain::contactTravelsFromSocketToService()
{
    Station station("CorvaneCallsign=Q9ABC\r\nTotalRecordsUploaded=41\r\n");
    frmMain& w = *station.window;
    station.send(WorkedExample);

    QTRY_COMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("42"));
    QCOMPARE(w.txtResult->toPlainText(), QString::fromLatin1(WorkedExample));
    QCOMPARE(w.StatusPanel1->text(), QStringLiteral("Uploading Data Complete."));
    QCOMPARE(station.service.requests().size(), 1);
    const QMap<QString, QString> fields = FakeCorvane::formFields(station.service.requests()[0].body);
    QCOMPARE(fields.value("callsign"), QStringLiteral("Q9ABC"));
    QCOMPARE(fields.value("email"), QStringLiteral("Not Set"));
    QVERIFY(fields.value("adif").startsWith(QStringLiteral("<CALL:5>Q9XYZ <RST_RCVD:3>579 ")));
    QVERIFY(station.ini().contains("TotalRecordsUploaded=42\r\n"));
    QVERIFY(w.pipeline().CurrentRecord().isEmpty());
}

void TestFrmMain::refusedContactRaisesTheIndicator()
{
    Station station;
    frmMain& w = *station.window;
    w.Timer1->setInterval(50);
    station.service.setReply("/realtime.php", {200, "Invalid login"});
    station.send(WorkedExample);

    QTRY_VERIFY(w.mnuError->menuAction()->isVisible());
    QVERIFY(w.Timer1->isActive());
    QVERIFY(station.dir.exists("ErrorLog.txt"));
    QVERIFY(station.dir.read("NotUploadedQsosLog.adi").contains("<CALL:5>Q9XYZ "));
    QCOMPARE(w.StatusPanel1->text(), QStringLiteral("Uploading Data Returned Error's"));
    QTRY_COMPARE(w.StatusPanel1->text(), QStringLiteral("Error information has been written to ErrorLog file!!"));
    QVERIFY(w.isRequestingAttention());
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
}

void TestFrmMain::indicatorStopsOnClickOrActivation()
{
    Station station;
    frmMain& w = *station.window;
    w.Timer1->setInterval(20);
    w.Timer1->start();
    QTRY_VERIFY(w.isRequestingAttention());

    // A click on the window's background.
    QTest::mouseClick(w.centralWidget(), Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(!w.isRequestingAttention());
    QCOMPARE(w.StatusPanel1->text(), QStringLiteral("Error information has been written to ErrorLog file!!"));

    // A press on the title bar, which then goes on as usual.
    w.Timer1->start();
    QTRY_VERIFY(w.isRequestingAttention());
    QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(5, -5), QPointF(5, -5), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &press);
    QVERIFY(!w.Timer1->isActive());

    // Activation.
    w.Timer1->start();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!w.Timer1->isActive());
}

void TestFrmMain::typingStoresEveryChange()
{
    Station station;
    frmMain& w = *station.window;
    w.txtCorvaneCallsign->clear();
    QVERIFY(station.ini().contains("CorvaneCallsign=\r\n"));
    QStringList stored;
    QObject::connect(w.txtCorvaneCallsign, &QLineEdit::textChanged, [&] {
        stored << QString::fromUtf8(station.ini()).section("CorvaneCallsign=", 1).section("\r\n", 0, 0);
    });
    QTest::keyClicks(w.txtCorvaneCallsign, "Q9ABC");
    QCOMPARE(stored, QStringList({"Q", "Q9", "Q9A", "Q9AB", "Q9ABC"}));
    QCOMPARE(w.pipeline().credentials().callsign, QStringLiteral("Q9ABC"));

    w.txtCorvanePassword->setText("p&ss");
    station.send(WorkedExample);
    QTRY_COMPARE(station.service.requests().size(), 1);
    QCOMPARE(FakeCorvane::formFields(station.service.requests()[0].body).value("password"), QStringLiteral("p&ss"));
}

void TestFrmMain::uncheckingAutoUploadStopsUploads()
{
    Station station;
    frmMain& w = *station.window;
    w.chkEnableAuto->click();
    QVERIFY(station.ini().contains("AutoUploadEnabled=False\r\n"));
    station.send(WorkedExample);
    QTRY_COMPARE(w.txtResult->toPlainText(), QString::fromLatin1(WorkedExample));
    QTest::qWait(100);
    QCOMPARE(station.service.requests().size(), 0);
}

void TestFrmMain::debugMenuSwitchesAndStores()
{
    Station station;
    frmMain& w = *station.window;
    w.mnuDebug0->trigger();
    QVERIFY(w.mnuDebug0->isChecked());
    QVERIFY(!w.mnuDebug1->isChecked());
    QVERIFY(DebugTrace::enabled());
    QVERIFY(station.ini().contains("Debug=True\r\nVersion= 1.0.0\r\n"));

    // Choosing it again keeps the marks.
    w.mnuDebug0->trigger();
    QVERIFY(w.mnuDebug0->isChecked());

    station.send("<contactinfo/>");
    QTRY_VERIFY(station.dir.read("DebugLog.txt").contains("Log Record  -> "));

    w.mnuDebug1->trigger();
    QVERIFY(!DebugTrace::enabled());
    QVERIFY(w.mnuDebug1->isChecked());
    QVERIFY(!w.mnuDebug0->isChecked());
    QVERIFY(station.ini().contains("Debug=False\r\n"));
}

void TestFrmMain::resetAsksFirst()
{
    Station station("TotalRecordsUploaded=41\r\n");
    frmMain& w = *station.window;
    station.prompter.answers.enqueue(Prompter::Answer::No);
    w.cmdReset->click();
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("41"));
    QCOMPARE(station.prompter.messages.last().text, QStringLiteral("Reset the count of uploaded contacts to 0?"));
    QCOMPARE(station.prompter.messages.last().buttons, Prompter::Buttons::YesNo);

    w.cmdReset->click();
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
    QCOMPARE(w.pipeline().uploadedCount(), 0);
    QVERIFY(station.ini().contains("TotalRecordsUploaded=0\r\n"));
}

void TestFrmMain::logCommands()
{
    Station station;
    frmMain& w = *station.window;
    w.mnuOpenErrorLog->trigger();
    QVERIFY(station.prompter.openedUrls.isEmpty());
    QVERIFY(w.StatusPanel1->text().contains("ErrorLog.txt"));

    station.dir.write("ErrorLog.txt", "x");
    station.dir.write("NotUploadedQsosLog.adi", "y");
    w.mnuOpenErrorLog->trigger();
    w.mnuViewNonUploaded->trigger();
    QCOMPARE(station.prompter.openedUrls,
             QList<QUrl>({QUrl::fromLocalFile(station.dir.file("ErrorLog.txt")),
                          QUrl::fromLocalFile(station.dir.file("NotUploadedQsosLog.adi"))}));

    w.mnuClearErrorLog->trigger();
    QVERIFY(!station.dir.exists("ErrorLog.txt"));
    QVERIFY(station.dir.exists("NotUploadedQsosLog.adi"));
    w.mnuClearErrorLog->trigger(); // nothing left to clear: no complaint
    QVERIFY(station.prompter.messages.isEmpty());
}

void TestFrmMain::closingKeepsContactsInFlight()
{
    Station station;
    station.service.setReply("/realtime.php", {200, "OK", 10s});
    QByteArray second = WorkedExample;
    second.replace("Q9XYZ", "Q9ZZZ");
    station.send(WorkedExample);
    station.send(second);
    QTRY_COMPARE(station.service.requests().size(), 2);

    station.window->close();
    const QByteArray kept = station.dir.read("NotUploadedQsosLog.adi");
    QVERIFY(kept.contains("<CALL:5>Q9XYZ "));
    QVERIFY(kept.contains("<CALL:5>Q9ZZZ "));
    station.window.reset();
    QCOMPARE(station.dir.read("NotUploadedQsosLog.adi"), kept); // not written twice
}

void TestFrmMain::aboutIsOneWindow()
{
    Station station;
    frmMain& w = *station.window;
    w.mnuAbout->trigger();
    QWidget* about = w.aboutWindow();
    QVERIFY(about);
    QVERIFY(about->isVisible());
    w.mnuAbout->trigger();
    QCOMPARE(static_cast<QWidget*>(w.aboutWindow()), about);
    w.close();
    QVERIFY(!about->isVisible() || !w.aboutWindow());
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
