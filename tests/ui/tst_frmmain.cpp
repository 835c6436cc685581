#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "TestMain.h"
#include "WorkedContact.h"
#include "logs/DebugTrace.h"
#include "status/RecentContacts.h"
#include "status/StationStatus.h"
#include "ui/About.h"
#include "ui/RecentContactsView.h"
#include "ui/frmMain.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeRequest.h"
#include "upload/RealtimeUploader.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <memory>

using namespace std::chrono_literals;
using WorkedContact::Datagram;
using WorkedContact::Record;

namespace {

QString withoutMnemonic(QString caption)
{
    return caption.remove(QLatin1Char('&'));
}

// A started window in a throw-away folder, on a free port, sending to the
// stand-in service with the whole login set; `settings` are further lines of
// Tarvex.ini. Raw settings are the whole file instead: empty for none, "/"
// for a directory.
struct Station
{
    explicit Station(const QByteArray& settings = {}, bool raw = false)
    {
        service.listen();
        if (!raw)
            dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(freeUdpPort()) +
                                        "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() +
                                        "\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\n"
                                        "CorvanePassword=secret\r\n" +
                                        settings);
        else if (settings == "/")
            QDir(dir.path()).mkdir("Tarvex.ini");
        else if (!settings.isEmpty())
            dir.write("Tarvex.ini", settings);
        window = std::make_unique<frmMain>(AppPaths(dir.path()), prompter);
        frmMain::Timings timings;
        timings.rebind = 50ms;
        timings.firstPause = 20ms;
        timings.longestPause = 40ms;
        window->setTimings(timings);
        window->Form_Load();
        QTRY_VERIFY(window->status().isListening() ||
                    !window->status().listeningText().startsWith("Not listening yet"));
    }

    void send(const QByteArray& datagram) const
    {
        QUdpSocket sender;
        sender.writeDatagram(datagram, QHostAddress::LocalHost, window->portInUse());
    }
    QByteArray ini() const { return dir.read("Tarvex.ini"); }

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

    void controlsBeforeStartUp();
    void startUp_data();
    void startUp();
    void thePortBoxShowsThePortInUse();
    void aTakenPortIsSaidAndTriedAgain();
    void contactsReachTheStatusBarAndTheList_data();
    void contactsReachTheStatusBarAndTheList();
    void waitingContactsAreSaidAndKeptOnClosing();
    void indicatorStops();
    void controlsStoreTheirSettings();
    void menuCommands();
};

void TestFrmMain::controlsBeforeStartUp()
{
    TempDir dir;
    ScriptedPrompter prompter;
    frmMain w(AppPaths(dir.path()), prompter);
    const std::pair<const char*, const char*> captions[] = {
        {"lblPortTo", "Port to connect to Ostrel Logger:"},
        {"cmdReset", "Reset"},
        {"chkEnableAuto", "Enable auto upload to Corvane."},
        {"cmbProcessandUpload", "Process and Upload to Corvane"},
        {"lblEmailAddress", "Email Address"},
        {"lblCallsign", "Callsign"},
        {"lblPassword", "Password"},
        {"lblADIFFileCorvane", "ADIF File to Upload:"}};
    for (const auto& [name, caption] : captions) {
        const QObject* control = w.findChild<QObject*>(name);
        QVERIFY2(control, name);
        const QString text = control->property("text").toString();
        QCOMPARE(withoutMnemonic(text), QString::fromLatin1(caption));
        QVERIFY2(text.contains('&'), name); // every one has a key
    }
    QCOMPARE(withoutMnemonic(w.mnuError->title()), QStringLiteral("Error Log Menu"));
    QCOMPARE(withoutMnemonic(w.mnuInfo->title()), QStringLiteral("Info"));
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("220000"));
    QCOMPARE(w.txtCorvanePassword->echoMode(), QLineEdit::Password);
    w.actShowPassword->trigger();
    QCOMPARE(w.txtCorvanePassword->echoMode(), QLineEdit::Normal);
    QVERIFY(!w.windowIcon().isNull());

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
    QTest::keyClick(&w, Qt::Key_F10);
    QTRY_VERIFY(w.mnuInfo->isVisible()); // the Error Log Menu is hidden until there is an error
    w.mnuInfo->close();
}

void TestFrmMain::startUp_data()
{
    QTest::addColumn<QByteArray>("ini"); // raw, see Station
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("autoUpload");
    QTest::addColumn<QString>("count");
    QTest::addColumn<QString>("failure");

    QTest::newRow("first run") << QByteArray() << "12060" << true << "0"
                               << "";
    QTest::newRow("stored") << QByteArray("[Settings]\r\nUDPPort=5000\r\nTotalRecordsUploaded=41\r\n"
                                          "AutoUploadEnabled=false\r\nDebug=True\r\n")
                            << "5000" << false << "41"
                            << "";
    QTest::newRow("unconvertible")
        << QByteArray("[Settings]\r\nUDPPort=99999\r\nAutoUploadEnabled=Yes\r\n"
                      "TotalRecordsUploaded=99999999999\r\n")
        << "12060" << true << "0"
        << "The UDPPort setting \"99999\" is not a port from 1 to 65534; Tarvex listens "
           "on 12060 instead";
    QTest::newRow("unusable host") << QByteArray("[Settings]\r\nCorvaneHost=ftp://x\r\n") << "12060" << true
                                   << "0"
                                   << "The CorvaneHost setting \"ftp://x\" is not a usable address";
    QTest::newRow("directory") << QByteArray("/") << "12060" << true << "0"
                               << "";
}

void TestFrmMain::startUp()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, port);
    QFETCH(bool, autoUpload);
    QFETCH(QString, failure);
    Station station(ini, true);
    frmMain& w = *station.window;
    QCOMPARE(w.txtPort->text(), port);
    QCOMPARE(w.chkEnableAuto->isChecked(), autoUpload);
    QTEST(w.txtTotalQSOUploaded->text(), "count");
    QCOMPARE(w.mnuDebug0->isChecked(), ini.contains("Debug=True"));
    QCOMPARE(w.status().failureText().left(failure.size()), failure);
    // 12060 may be taken on a busy machine; its failure then shows the menu too.
    if (w.status().isListening())
        QCOMPARE(w.mnuError->menuAction()->isVisible(), !failure.isEmpty());
    if (ini.isEmpty()) {
        // A first run leaves exactly these bytes, however the writes were gathered.
        QTRY_COMPARE(station.ini(),
                     QByteArray("[Settings]\r\nCorvaneEmailAddress=Not Set\r\nCorvaneCallsign=Not Set\r\n"
                                "CorvanePassword=Not Set\r\nTotalRecordsUploaded=0\r\n"
                                "AutoUploadEnabled=True\r\nUDPPort=12060\r\nDebug=False\r\n"
                                "Version= " TARVEX_VERSION "\r\n"));
    }
}

void TestFrmMain::thePortBoxShowsThePortInUse()
{
    Station station;
    frmMain& w = *station.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QString port = w.txtPort->text();

    w.txtPort->setText("65535");
    QTest::keyClick(w.txtPort, Qt::Key_Return);
    QCOMPARE(station.prompter.messages.size(), 1);
    QCOMPARE(station.prompter.messages[0].text, QStringLiteral("Invalid port specified!"));
    QCOMPARE(w.txtPort->text(), port);
    QCOMPARE(w.StatusPanel1->text(), QStringLiteral("Ports run from 1 to 65534."));
    w.txtCorvaneCallsign->setFocus(); // the box holds the port in use: no second message
    QCOMPARE(station.prompter.messages.size(), 1);

    const quint16 next = freeUdpPort();
    w.txtPort->setFocus();
    w.txtPort->setText(QString::number(next));
    QTest::keyClick(w.txtPort, Qt::Key_Return);
    QTRY_COMPARE(w.status().port(), next);
    QTRY_VERIFY(station.ini().contains("UDPPort=" + QByteArray::number(next) + "\r\n"));
    station.send("to the new port");
    QTRY_COMPARE(w.txtResult->toPlainText(), QStringLiteral("to the new port"));

    // Switching to the logger applies a valid port without a box.
    const quint16 third = freeUdpPort();
    w.txtPort->setText(QString::number(third));
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(w.txtPort, &away);
    QTRY_COMPARE(w.status().port(), third);
    QCOMPARE(station.prompter.messages.size(), 1);
}

void TestFrmMain::aTakenPortIsSaidAndTriedAgain()
{
    auto* other = new QUdpSocket;
    QVERIFY(other->bind(QHostAddress::AnyIPv4, 0));
    const QByteArray taken = QByteArray::number(other->localPort());
    Station station("[Settings]\r\nUDPPort=" + taken + "\r\n", true);
    frmMain& w = *station.window;
    QTRY_VERIFY(w.lblListening->text().startsWith("Not listening: UDP port " + taken + " - "));
    QCOMPARE(w.status().health(), StationStatus::Health::NotListening);
    QCOMPARE(station.prompter.messages.size(), 1);
    QVERIFY(station.prompter.messages[0].text.startsWith("Error occured: \r\n"));
    QVERIFY(w.Timer1->isActive());
    QCOMPARE(w.txtPort->text(), QString(taken));
    delete other;
    QTRY_COMPARE(w.lblListening->text(), "Listening on UDP port " + taken);
    QTRY_COMPARE(w.StatusPanel1->text(), "Listening again on UDP port " + taken);
    QCOMPARE(station.prompter.messages.size(), 1); // the retries ask nothing
}

void TestFrmMain::contactsReachTheStatusBarAndTheList_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("accepted") << QByteArray("OK") << true;
    QTest::newRow("refused") << QByteArray("Invalid Login - check e-mail and password") << false;
}

void TestFrmMain::contactsReachTheStatusBarAndTheList()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    Station station("TotalRecordsUploaded=41\r\n");
    frmMain& w = *station.window;
    station.service.setReply("/realtime.php", {200, reply});
    w.mnuRecent->trigger();
    QVERIFY(w.recentWindow() && w.recent().isLive());
    station.send(Datagram);

    QTRY_COMPARE(w.StatusPanel1->text(), accepted ? QStringLiteral("Uploading Data Complete.")
                                                  : QStringLiteral("Uploading Data Returned Error's"));
    QTRY_COMPARE(w.txtResult->toPlainText(), QString::fromLatin1(Datagram));
    QTRY_COMPARE(w.txtTotalQSOUploaded->text(), accepted ? QStringLiteral("42") : QStringLiteral("41"));
    QTRY_VERIFY(w.lblCounts->text().startsWith(accepted ? "Accepted 1 · Waiting 0 · Refused 0"
                                                        : "Accepted 0 · Waiting 0 · Refused 1 · In file 1"));
    QCOMPARE(w.lblFailure->text(), accepted ? QString() : "Refused: " + QString::fromLatin1(reply));
    QTRY_COMPARE(w.recent().index(0, RecentContacts::StateColumn).data().toString(),
                 accepted ? QStringLiteral("accepted")
                          : "kept in the not-uploaded file: " + QString::fromLatin1(reply));
    QCOMPARE(w.mnuError->menuAction()->isVisible(), !accepted);
    QCOMPARE(w.Timer1->isActive(), !accepted);
    if (accepted)
        return;
    w.Timer1->setInterval(20); // restarts it
    QTRY_COMPARE(w.StatusPanel1->text(),
                 QStringLiteral("Error information has been written to ErrorLog file!!"));
    QVERIFY(w.isRequestingAttention());
}

void TestFrmMain::waitingContactsAreSaidAndKeptOnClosing()
{
    Station station;
    frmMain& w = *station.window;
    station.service.stopListening();
    station.send(Datagram);
    station.send(WorkedContact::datagramWithCall("Q9ZZZ"));
    QTRY_VERIFY2(
        w.lblWaiting->text().startsWith("2 contacts waiting for Corvane: Could not reach the log service"),
        qPrintable(w.lblWaiting->text()));
    QVERIFY(w.lblWaiting->text().contains("; next try at "));
    QCOMPARE(w.status().health(), StationStatus::Health::Errors); // the outage went to the error log

    w.close();
    QCOMPARE(station.prompter.messages.last().text,
             "2 contact(s) stay in the outbox (" + QDir::toNativeSeparators(station.dir.file("Outbox.txt")) +
                 "); the next start of Tarvex sends them.");
    QCOMPARE(Outbox::parse(station.dir.read("Outbox.txt")).size(), 2);
    QVERIFY(!station.dir.exists("NotUploadedQsosLog.adi"));

    // The next start sends them first, and says so.
    station.window.reset();
    QVERIFY(station.service.listen());
    station.dir.write("Tarvex.ini", QString::fromUtf8(station.dir.read("Tarvex.ini"))
                                        .replace(QRegularExpression("CorvaneHost=[^\r]*"),
                                                 "CorvaneHost=" + station.service.baseUrl().toString())
                                        .toUtf8());
    station.window = std::make_unique<frmMain>(AppPaths(station.dir.path()), station.prompter);
    station.window->Form_Load();
    QCOMPARE(station.window->status().failureText(),
             QStringLiteral("2 contact(s) from the last run are being sent"));
    QTRY_COMPARE(station.window->pipeline().uploadedCount(), 2);
    QCOMPARE(FakeCorvane::formFields(station.service.requests().first().body).value("adif"), Record);
}

void TestFrmMain::indicatorStops()
{
    TempDir dir;
    dir.write("NotUploadedQsosLog.adi", "kept\r\n"); // the not-uploaded file alone shows the menu too
    ScriptedPrompter prompter;
    frmMain w(AppPaths(dir.path()), prompter);
    w.Form_Load();
    QVERIFY(w.mnuError->menuAction()->isVisible());
    QVERIFY(w.Timer1->isActive());
    QVERIFY(prompter.attentionRequests == 0); // nothing visible before the first tick
    // The waits of a real run, as every other test shortens them.
    QCOMPARE(w.Timer1->interval(), 30000);
    QCOMPARE(w.uploader().timeout(), 30000ms);
    QCOMPARE(w.uploader().pauses(), std::make_pair(2000ms, 60000ms));

    for (const Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
        QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(5, -5), QPointF(5, -5), button,
                          button, Qt::NoModifier);
        QVERIFY(!QApplication::sendEvent(&w, &press)); // not swallowed: the window still drags
        QCOMPARE(w.Timer1->isActive(), button == Qt::RightButton);
    }
    w.Timer1->setInterval(20);
    w.Timer1->start();
    QTRY_VERIFY(w.isRequestingAttention());
    QVERIFY(prompter.attentionRequests > 0); // the desktop was asked to draw the eye
    QTest::mouseClick(w.centralWidget(), Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(!w.Timer1->isActive());
    QVERIFY(!w.isRequestingAttention());

    w.Timer1->start();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QVERIFY(!w.Timer1->isActive());
}

void TestFrmMain::controlsStoreTheirSettings()
{
    Station station("TotalRecordsUploaded=41\r\n");
    frmMain& w = *station.window;
    w.txtCorvaneCallsign->clear();
    QTest::keyClicks(w.txtCorvaneCallsign, "Q9ABC");
    QTRY_VERIFY(station.ini().contains("CorvaneCallsign=Q9ABC\r\n"));

    w.mnuDebug0->trigger();
    QVERIFY(w.mnuDebug0->isChecked() && !w.mnuDebug1->isChecked() && DebugTrace::enabled());
    QTRY_VERIFY(station.ini().contains("Debug=True\r\nVersion= " TARVEX_VERSION "\r\n"));
    w.mnuDebug1->trigger();
    QVERIFY(w.mnuDebug1->isChecked() && !w.mnuDebug0->isChecked() && !DebugTrace::enabled());

    station.prompter.answers.enqueue(Prompter::Answer::No);
    w.cmdReset->click();
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("41"));
    w.cmdReset->click(); // Yes
    QTRY_COMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
    QTRY_VERIFY(station.ini().contains("TotalRecordsUploaded=0\r\n"));

    w.chkEnableAuto->click();
    QTRY_VERIFY(station.ini().contains("AutoUploadEnabled=False\r\n"));
    station.send(Datagram);
    QTRY_COMPARE(w.txtResult->toPlainText(), QString::fromLatin1(Datagram));
    QTest::qWait(50);
    QCOMPARE(station.service.requests().size(), 0);
}

void TestFrmMain::menuCommands()
{
    Station station;
    frmMain& w = *station.window;
    w.mnuOpenErrorLog->trigger();
    QVERIFY(station.prompter.openedUrls.isEmpty());
    QTRY_VERIFY(w.StatusPanel1->text().contains("ErrorLog.txt"));

    station.dir.write("ErrorLog.txt", "x");
    station.dir.write("NotUploadedQsosLog.adi", "y");
    w.mnuOpenErrorLog->trigger();
    w.mnuViewNonUploaded->trigger();
    QCOMPARE(station.prompter.openedUrls,
             QList<QUrl>({QUrl::fromLocalFile(station.dir.file("ErrorLog.txt")),
                          QUrl::fromLocalFile(station.dir.file("NotUploadedQsosLog.adi"))}));
    station.prompter.answers.enqueue(Prompter::Answer::No);
    w.mnuClearErrorLog->trigger(); // asks first
    QVERIFY(station.dir.exists("ErrorLog.txt"));
    w.mnuClearErrorLog->trigger();
    QVERIFY(!station.dir.exists("ErrorLog.txt"));
    QVERIFY(station.dir.exists("NotUploadedQsosLog.adi"));

    w.show();
    w.mnuAbout->trigger();
    About* about = w.aboutWindow();
    QVERIFY(about && about->isVisible());
    QVERIFY((about->geometry().center() - w.geometry().center()).manhattanLength() < 6); // over its window
    w.mnuAbout->trigger();
    QCOMPARE(w.aboutWindow(), about);
    QVERIFY(!w.tray()); // offscreen has no tray
}

TARVEX_TEST(TestFrmMain)
#include "tst_frmmain.moc"
