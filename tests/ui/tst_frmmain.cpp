#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "WorkedContact.h"
#include "capture/UdpListener.h"
#include "logs/DebugTrace.h"
#include "ui/About.h"
#include "ui/frmMain.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeRequest.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSizeGrip>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

using namespace std::chrono_literals;
using WorkedContact::Datagram;
using WorkedContact::Record;

namespace {

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

// A started window in a throw-away directory, on a free port and sending to the
// fake service, with `settings` as further lines of Tarvex.ini. Raw settings
// are the whole file instead: empty for none, "/" for a directory.
struct Station
{
    explicit Station(const QByteArray& settings = {}, bool raw = false)
    {
        service.listen();
        if (!raw)
            dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(freeUdpPort()) +
                                        "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() + "\r\n" +
                                        settings);
        else if (settings == "/")
            QDir(dir.path()).mkdir("Tarvex.ini");
        else if (!settings.isEmpty())
            dir.write("Tarvex.ini", settings);
        window = std::make_unique<frmMain>(AppPaths(dir.path()), prompter);
        window->Form_Load();
    }

    void send(const QByteArray& datagram) const
    {
        QUdpSocket sender;
        sender.writeDatagram(datagram, QHostAddress::LocalHost, window->socket().boundPort());
    }
    QByteArray ini() const { return dir.read("Tarvex.ini"); }
    QMap<QString, QString> form(int request) const
    {
        return FakeCorvane::formFields(service.requests().at(request).body);
    }

    TempDir dir;
    FakeCorvane service;
    ScriptedPrompter prompter;
    std::unique_ptr<frmMain> window;
};

} // namespace

class TestFrmMain : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { DebugTrace::setEnabled(false); }

    void windowBeforeStartUp();
    void startUp_data();
    void startUp();
    void portIsRefused_data();
    void portIsRefused();
    void leavingThePortBoxRebinds();
    void contactReplies_data();
    void contactReplies();
    void indicatorStops();
    void controlsStoreTheirSettings();
    void menuCommands();
    void closingKeepsContactsInFlight();
    void hostileDatagramsLeaveTheWindowWorking_data();
    void hostileDatagramsLeaveTheWindowWorking();
    void floodWithoutContactInfoIsOnlyShown();
};

void TestFrmMain::windowBeforeStartUp()
{
    TempDir dir;
    ScriptedPrompter prompter;
    frmMain w(AppPaths(dir.path()), prompter);

    const std::pair<const char*, const char*> kinds[] = {
        {"QLabel",
         "lblPortTo lblTotalQso lblEmailAddress lblCallsign lblPassword lblADIFFileCorvane StatusPanel1"},
        {"QLineEdit",
         "txtPort txtTotalQSOUploaded txtCorvaneEmailAddress txtCorvaneCallsign txtCorvanePassword "
         "txtUploadADIFPathCorvane"},
        {"QPushButton", "cmdReset cmbBrowseforUploadADIF cmbProcessandUpload"},
        {"QGroupBox", "FraCorvane FraManualCorvane"},
        {"QCheckBox", "chkEnableAuto"},
        {"QPlainTextEdit", "txtResult"},
        {"QStatusBar", "StatusBar1"},
        {"QMenu", "mnuError mnuInfo mnudbg"},
        {"QAction", "mnuOpenErrorLog mnuClearErrorLog mnuViewNonUploaded mnuAbout mnuDebug0 mnuDebug1"},
        {"QTimer", "Timer1"}};
    for (const auto& [kind, names] : kinds) {
        for (const QString& name : QString::fromLatin1(names).split(' ')) {
            const QObject* found = w.findChild<QObject*>(name);
            QVERIFY2(found && found->inherits(kind), qPrintable(name));
        }
    }

    for (const QLineEdit* box : w.findChildren<QLineEdit*>())
        QCOMPARE(box->text(), box == w.txtTotalQSOUploaded ? QStringLiteral("220000") : QString());
    QVERIFY(w.txtTotalQSOUploaded->isReadOnly() && w.txtResult->isReadOnly());
    QVERIFY(!w.chkEnableAuto->isChecked());
    QVERIFY(!w.mnuError->menuAction()->isVisible());
    QVERIFY(!w.mnuDebug0->isChecked() && !w.mnuDebug1->isChecked());
    QVERIFY(!w.Timer1->isActive() && !w.Timer1->isSingleShot());
    QCOMPARE(w.Timer1->interval(), 30000);

    QCOMPARE(w.statusBar(), w.StatusBar1);
    QList<QWidget*> panels;
    for (QWidget* child : w.StatusBar1->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!qobject_cast<QSizeGrip*>(child))
            panels << child;
    QCOMPARE(panels, QList<QWidget*>{w.StatusPanel1});

    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));

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

void TestFrmMain::startUp_data()
{
    QTest::addColumn<QByteArray>("ini"); // raw, see Station
    QTest::addColumn<QString>("port");
    QTest::addColumn<QStringList>("login");
    QTest::addColumn<bool>("autoUpload");
    QTest::addColumn<QString>("count");
    QTest::addColumn<bool>("debug");

    const QStringList notSet{"Not Set", "Not Set", "Not Set"};
    const QByteArray port = QByteArray::number(freeUdpPort());
    QByteArray noise;
    for (int i = 0; i < 64 * 1024; ++i)
        noise += static_cast<char>((i * 7919 + i / 251) % 256);

    QTest::newRow("first run") << QByteArray() << "12060" << notSet << true << "0" << false;
    QTest::newRow("stored")
        << "[Settings]\r\nUDPPort=" + port +
               "\r\nCorvaneEmailAddress=op@example.org\r\n"
               "CorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\nTotalRecordsUploaded=41\r\n"
               "AutoUploadEnabled=false\r\nDebug=True\r\n"
        << QString(port) << QStringList{"op@example.org", "Q9ABC", "secret"} << false << "41" << true;
    QTest::newRow("unconvertible") << QByteArray("[Settings]\r\nUDPPort=99999\r\nAutoUploadEnabled=Yes\r\n"
                                                 "Debug=maybe\r\nTotalRecordsUploaded=99999999999\r\n")
                                   << "12060" << notSet << true << "0" << false;
    QTest::newRow("garbage file") << noise << "12060" << notSet << true << "0" << false;
    QTest::newRow("directory") << QByteArray("/") << "12060" << notSet << true << "0" << false;
}

void TestFrmMain::startUp()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, port);
    QFETCH(QString, count);
    QFETCH(bool, autoUpload);
    QFETCH(bool, debug);

    Station station(ini, true);
    frmMain& w = *station.window;
    QCOMPARE(w.txtPort->text(), port);
    // 12060 may be taken on a busy machine; then that failure is the only box.
    QVERIFY(w.socket().boundPort() == port.toUInt() ||
            (station.prompter.messages.size() == 1 && station.prompter.messages[0].title == "Failure"));
    QTEST(QStringList(
              {w.txtCorvaneEmailAddress->text(), w.txtCorvaneCallsign->text(), w.txtCorvanePassword->text()}),
          "login");
    QVERIFY(w.chkEnableAuto->isChecked() == autoUpload && w.pipeline().autoUpload() == autoUpload);
    QCOMPARE(w.txtTotalQSOUploaded->text(), count);
    QCOMPARE(QString::number(w.pipeline().uploadedCount()), count);
    QVERIFY(w.mnuDebug0->isChecked() == debug && w.mnuDebug1->isChecked() != debug);
    QCOMPARE(DebugTrace::enabled(), debug);
    QVERIFY(!w.mnuError->menuAction()->isVisible());
    QVERIFY(!w.Timer1->isActive());
    if (ini.isEmpty()) {
        QCOMPARE(station.ini(),
                 QByteArray("[Settings]\r\nCorvaneEmailAddress=Not Set\r\nCorvaneCallsign=Not Set\r\n"
                            "CorvanePassword=Not Set\r\nTotalRecordsUploaded=0\r\n"
                            "AutoUploadEnabled=True\r\nUDPPort=12060\r\nDebug=False\r\n"
                            "Version= " TARVEX_VERSION "\r\n"));
    }
}

void TestFrmMain::portIsRefused_data()
{
    QTest::addColumn<QString>("text"); // "held": a port another socket holds
    QTest::addColumn<QString>("message");
    for (const char* text : {"65535", "0", "-1", "", "abc", "0.4"})
        QTest::newRow(text) << QString::fromLatin1(text) << "Invalid port specified!";
    QTest::newRow("held by another socket") << "held"
                                            << "Error occured: \r\n";
}

void TestFrmMain::portIsRefused()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    Station station;
    frmMain& w = *station.window;
    const QString port = w.txtPort->text();
    const QByteArray before = station.ini();
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::AnyIPv4, 0));
    const bool held = text == "held";

    w.txtPort->setText(held ? QString::number(other.localPort()) : text);
    w.txtPort_LostFocus();
    QCOMPARE(station.prompter.messages.size(), 1);
    QVERIFY(station.prompter.messages[0].text.startsWith(message));
    QCOMPARE(station.prompter.messages[0].title, QStringLiteral("Failure"));
    if (held) {
        QVERIFY(station.prompter.messages[0].text.size() > message.size() + 5); // the reason follows
        QVERIFY(!w.socket().isBound());
    } else {
        QCOMPARE(station.prompter.messages[0].text, message);
        QCOMPARE(w.txtPort->text(), port);
        QCOMPARE(QString::number(w.socket().boundPort()), port);
        QCOMPARE(station.ini(), before);
    }
}

void TestFrmMain::leavingThePortBoxRebinds()
{
    Station station;
    frmMain& w = *station.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.txtPort);

    // The same port written differently changes nothing.
    const QByteArray before = station.ini();
    w.txtPort->setText(w.txtPort->text() + ".0");
    w.txtCorvaneCallsign->setFocus();
    QCOMPARE(station.ini(), before);

    const quint16 next = freeUdpPort();
    w.txtPort->setFocus();
    w.txtPort->setText(QString::number(next));
    w.txtCorvaneEmailAddress->setFocus();
    QCOMPARE(w.socket().boundPort(), next);
    QVERIFY(station.ini().contains("UDPPort=" + QByteArray::number(next) + "\r\n"));
    QVERIFY(station.prompter.messages.isEmpty());
    station.send("to the new port");
    QTRY_COMPARE(w.txtResult->toPlainText(), QStringLiteral("to the new port"));
}

void TestFrmMain::contactReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("accepted") << QByteArray("OK") << true;
    QTest::newRow("rejected") << QByteArray("Invalid login") << false;
}

void TestFrmMain::contactReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    Station station("CorvaneCallsign=Q9ABC\r\nTotalRecordsUploaded=41\r\n");
    frmMain& w = *station.window;
    station.service.setReply("/realtime.php", {200, reply});
    station.send(Datagram);

    QTRY_COMPARE(w.StatusPanel1->text(), accepted ? QStringLiteral("Uploading Data Complete.")
                                                  : QStringLiteral("Uploading Data Returned Error's"));
    QTRY_COMPARE(w.txtResult->toPlainText(), QString::fromLatin1(Datagram));
    QCOMPARE(station.service.requests().size(), 1);
    QCOMPARE(station.form(0), (QMap<QString, QString>{{"email", "Not Set"},
                                                      {"password", "Not Set"},
                                                      {"callsign", "Q9ABC"},
                                                      {"api", QString::fromLatin1(ApplicationKey)},
                                                      {"adif", Record}}));
    QCOMPARE(w.txtTotalQSOUploaded->text(), accepted ? QStringLiteral("42") : QStringLiteral("41"));
    QCOMPARE(station.ini().contains("TotalRecordsUploaded=42\r\n"), accepted);
    QCOMPARE(w.mnuError->menuAction()->isVisible(), !accepted);
    QCOMPARE(w.Timer1->isActive(), !accepted);
    QCOMPARE(station.dir.exists("ErrorLog.txt"), !accepted);
    QCOMPARE(station.dir.read("NotUploadedQsosLog.adi").contains(Record.toLatin1()), !accepted);
    if (accepted)
        return;
    w.Timer1->setInterval(20); // restarts it
    QTRY_COMPARE(w.StatusPanel1->text(),
                 QStringLiteral("Error information has been written to ErrorLog file!!"));
    QVERIFY(w.isRequestingAttention());
}

void TestFrmMain::indicatorStops()
{
    TempDir dir;
    dir.write("ErrorLog.txt", "old\r\n");
    ScriptedPrompter prompter;
    frmMain w(AppPaths(dir.path()), prompter);
    w.Form_Load();
    QVERIFY(w.mnuError->menuAction()->isVisible());
    QVERIFY(w.Timer1->isActive());

    for (const Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
        QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(5, -5), QPointF(5, -5), button,
                          button, Qt::NoModifier);
        QVERIFY(!QApplication::sendEvent(&w, &press)); // not swallowed: the window still drags
        QCOMPARE(w.Timer1->isActive(), button == Qt::RightButton);
    }

    w.Timer1->setInterval(20);
    w.Timer1->start();
    QTRY_VERIFY(w.isRequestingAttention());
    QTest::mouseClick(w.centralWidget(), Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(!w.isRequestingAttention());

    w.Timer1->start();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(w.mnuError->menuAction()->isVisible());
}

void TestFrmMain::controlsStoreTheirSettings()
{
    Station station("TotalRecordsUploaded=41\r\n");
    frmMain& w = *station.window;
    w.txtCorvaneCallsign->clear();
    QStringList stored;
    connect(w.txtCorvaneCallsign, &QLineEdit::textChanged, this, [&] {
        stored << QString::fromUtf8(station.ini()).section("CorvaneCallsign=", 1).section("\r\n", 0, 0);
    });
    QTest::keyClicks(w.txtCorvaneCallsign, "Q9ABC");
    QCOMPARE(stored, QStringList({"Q", "Q9", "Q9A", "Q9AB", "Q9ABC"}));
    QCOMPARE(w.pipeline().credentials().callsign, QStringLiteral("Q9ABC"));

    for (int round = 0; round < 2; ++round) { // choosing it again keeps the marks
        w.mnuDebug0->trigger();
        QVERIFY(w.mnuDebug0->isChecked() && !w.mnuDebug1->isChecked() && DebugTrace::enabled());
    }
    QVERIFY(station.ini().contains("Debug=True\r\nVersion= " TARVEX_VERSION "\r\n"));
    w.mnuDebug1->trigger();
    QVERIFY(w.mnuDebug1->isChecked() && !w.mnuDebug0->isChecked() && !DebugTrace::enabled());
    QVERIFY(station.ini().contains("Debug=False\r\n"));

    station.prompter.answers.enqueue(Prompter::Answer::No);
    w.cmdReset->click();
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("41"));
    QCOMPARE(station.prompter.messages.last().text,
             QStringLiteral("Reset the count of uploaded contacts to 0?"));
    w.cmdReset->click(); // Yes
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
    QCOMPARE(w.pipeline().uploadedCount(), 0);
    QVERIFY(station.ini().contains("TotalRecordsUploaded=0\r\n"));

    w.chkEnableAuto->click();
    QVERIFY(station.ini().contains("AutoUploadEnabled=False\r\n"));
    station.send(Datagram);
    QTRY_COMPARE(w.txtResult->toPlainText(), QString::fromLatin1(Datagram));
    QTest::qWait(100);
    QCOMPARE(station.service.requests().size(), 0);
}

void TestFrmMain::menuCommands()
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
    w.mnuClearErrorLog->trigger(); // nothing left to clear
    QVERIFY(station.prompter.messages.isEmpty());

    w.mnuAbout->trigger();
    About* about = w.aboutWindow();
    QVERIFY(about && about->isVisible());
    w.mnuAbout->trigger();
    QCOMPARE(w.aboutWindow(), about);
}

void TestFrmMain::closingKeepsContactsInFlight()
{
    Station station;
    station.service.setReply("/realtime.php", {200, "OK", 10s});
    station.send(Datagram);
    station.send(WorkedContact::datagramWithCall("Q9ZZZ"));
    QTRY_COMPARE(station.service.requests().size(), 2);

    station.window->close();
    const QByteArray kept = station.dir.read("NotUploadedQsosLog.adi");
    QVERIFY(kept.contains("<CALL:5>Q9XYZ "));
    QVERIFY(kept.contains("<CALL:5>Q9ZZZ "));
    station.window.reset();
    QCOMPARE(station.dir.read("NotUploadedQsosLog.adi"), kept); // not written twice
}

void TestFrmMain::hostileDatagramsLeaveTheWindowWorking_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QByteArray largest = Datagram; // the largest UDP payload over IPv4
    largest.insert(largest.indexOf("</contactinfo>"),
                   "<pad>" + QByteArray(65507 - largest.size() - 11, 'x') + "</pad>");
    QTest::newRow("65,507 bytes") << largest;
    QTest::newRow("Latin-1, not UTF-8") << QByteArray(Datagram).replace("Q9XYZ", "D\xC4\xD6");
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i)
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" +
                  ("&l" + QByteArray::number(i - 1) + ';').repeated(10) + "\">";
    QTest::newRow("billion laughs") << laughs + "]><contactinfo><call>&l9;</call></contactinfo>";
}

void TestFrmMain::hostileDatagramsLeaveTheWindowWorking()
{
    QFETCH(QByteArray, datagram);
    Station station;
    frmMain& w = *station.window;
    station.send(datagram);
    QTRY_COMPARE(station.service.requests().size(), 1);
    station.send(Datagram);
    QTRY_COMPARE(station.service.requests().size(), 2);
    QCOMPARE(station.form(1).value("adif"), Record);
    QTRY_COMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("2"));
    QTRY_COMPARE(w.txtResult->toPlainText(), QString::fromLatin1(Datagram));
}

void TestFrmMain::floodWithoutContactInfoIsOnlyShown()
{
    constexpr int Flood = 10000;
    constexpr int Batch =
        250; // surely within the kernel's buffer, so the window is measured, not the loopback
    Station station;
    frmMain& w = *station.window;
    QSignalSpy shown(&w.pipeline(), &ContactPipeline::datagramShown);
    QUdpSocket sender;
    for (int sent = 0; sent < Flood; sent += Batch) {
        for (int i = sent; i < sent + Batch; ++i)
            sender.writeDatagram("<contact><call>Q9" + QByteArray::number(i) + "</call></contact>",
                                 QHostAddress::LocalHost, w.socket().boundPort());
        QTRY_COMPARE(shown.size(), sent + Batch);
    }
    QTRY_COMPARE(w.txtResult->toPlainText(),
                 QStringLiteral("<contact><call>Q9%1</call></contact>").arg(Flood - 1));
    QCOMPARE(station.service.requests().size(), 0);
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
    QVERIFY(!station.dir.exists("ErrorLog.txt"));
    QVERIFY(!station.dir.exists("NotUploadedQsosLog.adi"));
}

QTEST_MAIN(TestFrmMain)
#include "tst_frmmain.moc"
