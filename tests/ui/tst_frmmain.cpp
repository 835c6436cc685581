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
#include "ui/ManualUpload.h"
#include "ui/RecentContactsView.h"
#include "ui/frmMain.h"
#include "upload/HttpFileUpload.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

using namespace std::chrono_literals;
using Answer = Prompter::Answer;

namespace {

const QByteArray Login =
    "CorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n";
// Large enough that the upload reports its progress several times.
const QByteArray Contacts = QByteArray("<CALL:5>Q9XYZ <STX:3>001 <EOR>\r\n").repeated(16 * 1024);

// A started station in a throw-away folder with its window, posting to the
// stand-in service; `ini` comes first in Tarvex.ini, so its settings win, and
// `files` are there before.
struct Rig
{
    explicit Rig(const QByteArray& ini = {}, const QList<std::pair<QString, QByteArray>>& files = {})
    {
        service.listen();
        for (const auto& [name, bytes] : files)
            dir.write(name, bytes);
        dir.write("Tarvex.ini", "[Settings]\r\n" + ini + "UDPPort=" + QByteArray::number(freeUdpPort()) +
                                    "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() + "\r\n");
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
    QPushButton* button(const char* name) const { return find<QPushButton>(name); }
    void send(const QByteArray& datagram) const
    {
        QUdpSocket().writeDatagram(datagram, QHostAddress::LocalHost, station->status().state().port);
    }
    QByteArray ini() const { return dir.read("Tarvex.ini"); }
    QStringList boxes() const
    {
        QStringList texts;
        for (const ScriptedPrompter::Message& message : prompter.messages)
            texts << message.text;
        return texts;
    }

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
    void startUpAndKeyboard();
    void thePortBoxShowsThePortInUse();
    void theLoginIsCommittedNotTyped();
    void statusLinesFollowTheStation();
    void destructivePromptsPreferNo();
    void indicatorStops();
    void menuCommands();
    void recentContactsAreReadable();
    void closingDuringAContestAsks_data();
    void closingDuringAContestAsks();
    void manualUploadChecksFirst();
    void manualUploadAccepted_data();
    void manualUploadAccepted();
    void manualUploadFailed_data();
    void manualUploadFailed();
};

void TestFrmMain::startUpAndKeyboard()
{
    Rig rig("TotalRecordsUploaded=41\r\nAutoUploadEnabled=False\r\nDebug=True\r\nCorvaneCallsign=Q9ABC\r\n"
            "CorvanePassword=" +
                LoginSource::Marker.toUtf8() + "\r\n",
            {{"Window.ini", "[General]\r\nnotifications=false\r\n"}});
    frmMain& w = *rig.window;
    QCOMPARE(rig.action("actShowPassword")->toolTip(), QStringLiteral("Show the password (Alt+H)"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Tarvex Upload Utility"));
    // The program's own icon, not Qt's generic one: its resource is registered.
    const QImage icon = QImage(":/icons/tarvex-64.png").convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QVERIFY(!icon.isNull());
    QCOMPARE(w.windowIcon().availableSizes(), QList<QSize>({{16, 16}, {32, 32}, {64, 64}, {256, 256}}));
    QCOMPARE(w.windowIcon().pixmap(64, 64).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied),
             icon);

    QCOMPARE(rig.box("txtPort")->text(), QString::number(rig.station->status().state().port));
    QCOMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("41"));
    QCOMPARE(rig.box("txtCorvaneCallsign")->text(), QStringLiteral("Q9ABC"));
    QCOMPARE(rig.box("txtCorvaneEmailAddress")->text(), QStringLiteral("Not Set"));
    QVERIFY(!rig.find<QCheckBox>("chkEnableAuto")->isChecked());
    QVERIFY(rig.action("mnuDebug0")->isChecked() && !rig.action("mnuDebug1")->isChecked());
    QVERIFY(!rig.find<QMenu>("mnuError")->menuAction()->isVisible());
    QVERIFY(rig.action("mnuKeyring")->isChecked());
    rig.action("mnuKeyring")->trigger(); // the password back into the file
    QTRY_VERIFY(rig.ini().contains("CorvanePassword=Not Set\r\n"));
    // The keyring's answers are in before the station goes: a job deleted while
    // the keyring library still works on it crashes the process.
    QTRY_VERIFY(rig.station->login().findChildren<QObject*>(Qt::FindDirectChildrenOnly).isEmpty());
    QVERIFY(!rig.action("mnuNotifications")->isChecked()); // as Window.ini says
    rig.action("mnuNotifications")->trigger();
    QVERIFY(rig.dir.read("Window.ini").contains("notifications=true"));

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
    // The status lines are next: they wrap, span the status bar, and the keyboard and a screen reader reach
    // them.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QVERIFY(qobject_cast<QLabel*>(QApplication::focusWidget()));
    for (const char* name : {"StatusPanel1", "lblListening", "lblCounts", "lblWaiting", "lblFailure"})
        QVERIFY2(rig.label(name)->wordWrap() && !rig.label(name)->accessibleName().isEmpty(), name);
    QVERIFY(rig.find<QWidget>("panels")->width() > w.statusBar()->width() * 9 / 10);
    QTest::keyClick(&w, Qt::Key_F10);
    QMenu* info = rig.find<QMenu>("mnuInfo");
    QTRY_VERIFY(info->isVisible()); // the Error Log Menu is hidden until there is an error
    info->close();
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
    QCOMPARE(rig.boxes(), QStringList{"Invalid port specified!"});
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

    // Switching to the logger applies a valid port without a box, and leaves an invalid one alone.
    const quint16 third = freeUdpPort();
    for (const QString& typed : {QString::number(third), QStringLiteral("0")}) {
        port->setText(typed);
        QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(port, &away);
    }
    QTRY_COMPARE(rig.station->status().state().port, third);
    QCOMPARE(port->text(), QStringLiteral("0"));
    QCOMPARE(rig.prompter.messages.size(), 1);
}

void TestFrmMain::theLoginIsCommittedNotTyped()
{
    Rig rig;
    frmMain& w = *rig.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QSignalSpy used(&rig.station->login(), &LoginSource::changed);
    QLineEdit* password = rig.box("txtCorvanePassword");
    password->setFocus();
    password->selectAll();
    QTest::keyClicks(password, "right");
    QTRY_VERIFY(rig.ini().contains("CorvanePassword=right\r\n"));                 // stored as typed...
    QCOMPARE(rig.station->login().current().password, QStringLiteral("Not Set")); // ...not used
    QTest::keyClick(password, Qt::Key_Return);
    QCOMPARE(rig.station->login().current().password, QStringLiteral("right"));
    QTest::keyClick(password, Qt::Key_Return); // unchanged, yet asked again after a refusal
    QCOMPARE(used.size(), 2);
    QVERIFY(used[1][1].toBool());
    QLineEdit* call = rig.box("txtCorvaneCallsign");
    call->setFocus();
    call->setText("Q9NEW");
    rig.box("txtPort")->setFocus(); // leaving the field commits it
    QCOMPARE(rig.station->login().current().callsign, QStringLiteral("Q9NEW"));
}

void TestFrmMain::statusLinesFollowTheStation()
{
    Rig rig;
    StatusModel& status = rig.station->status();
    status.change([](StationState& s) {
        s.lastFailure = {QDateTime::currentDateTime(), "Refused Q9XYZ: Invalid Callsign - a long reason"};
        s.lastAccepted = {QDateTime::currentDateTime(), "Q9AAA"};
        s.uploaded = 1;
        s.verdict = "Uploading Data Complete.";
        s.datagram = "<contactinfo/>";
    });
    QTRY_COMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("1"));
    QCOMPARE(rig.find<QPlainTextEdit>("txtResult")->toPlainText(), QStringLiteral("<contactinfo/>"));
    QCOMPARE(rig.label("StatusPanel1")->text(), status.activity());
    QCOMPARE(rig.label("lblListening")->text(), status.listeningText());
    QCOMPARE(rig.label("lblCounts")->text(), status.acceptedText() + "\n" + status.countsText());
    QCOMPARE(rig.label("lblFailure")->text(), status.failureText()); // with its time
    QVERIFY(rig.label("lblWaiting")->isHidden());
}

void TestFrmMain::destructivePromptsPreferNo()
{
    Rig rig("TotalRecordsUploaded=41\r\n", {{"ErrorLog.txt", "x"}});
    // Enter on each box: nothing is destroyed.
    rig.button("cmdReset")->click();
    rig.action("mnuClearErrorLog")->trigger();
    QCOMPARE(rig.prompter.messages.size(), 2);
    for (const ScriptedPrompter::Message& message : std::as_const(rig.prompter.messages))
        QCOMPARE(message.preferred, Answer::No);
    QCOMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("41"));
    QVERIFY(rig.dir.exists("ErrorLog.txt"));

    rig.prompter.answers << Answer::Yes << Answer::Yes;
    rig.button("cmdReset")->click();
    rig.action("mnuClearErrorLog")->trigger();
    QTRY_COMPARE(rig.box("txtTotalQSOUploaded")->text(), QStringLiteral("0"));
    QVERIFY(!rig.dir.exists("ErrorLog.txt"));
}

void TestFrmMain::indicatorStops()
{
    // The not-uploaded file alone shows the menu and arms the indicator.
    Rig rig({}, {{"NotUploadedQsosLog.adi", "kept\r\n"}});
    frmMain& w = *rig.window;
    QTimer* timer = rig.find<QTimer>("Timer1");
    QVERIFY(rig.find<QMenu>("mnuError")->menuAction()->isVisible());
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 30000);
    QCOMPARE(rig.prompter.attentionRequests, 0); // nothing visible before the first tick

    for (const Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton}) {
        QMouseEvent press(QEvent::NonClientAreaMouseButtonPress, QPointF(5, -5), QPointF(5, -5), button,
                          button, Qt::NoModifier);
        QVERIFY(!QApplication::sendEvent(&w, &press)); // not swallowed: the window still drags
        QCOMPARE(timer->isActive(), button == Qt::RightButton);
    }
    w.setErrorFlashInterval(20ms);
    timer->start();
    QTRY_VERIFY(w.isRequestingAttention());
    QVERIFY(rig.prompter.attentionRequests > 0);
    QTRY_VERIFY(
        rig.label("lblFailure")->text().startsWith("Error information has been written to ErrorLog file!!"));
    QTest::mouseClick(w.centralWidget(), Qt::LeftButton, {}, QPoint(2, 2));
    QVERIFY(!timer->isActive() && !w.isRequestingAttention());
    QVERIFY(!rig.station->status().state().attention);
    QCoreApplication::processEvents();
    QVERIFY(rig.find<QMenu>("mnuError")->menuAction()->isVisible()); // the files are still there

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
    QCOMPARE(rig.prompter.openedUrls,
             QList<QUrl>({QUrl::fromLocalFile(rig.dir.file("ErrorLog.txt")),
                          QUrl::fromLocalFile(rig.dir.file("NotUploadedQsosLog.adi"))}));
    rig.action("mnuDebug0")->trigger();
    QVERIFY(DebugTrace::enabled());

    w.show();
    rig.action("mnuAbout")->trigger();
    About* about = w.aboutWindow();
    QVERIFY(about && about->isVisible());
    QVERIFY((about->geometry().center() - w.geometry().center()).manhattanLength() < 6); // over its window
    rig.action("mnuAbout")->trigger();
    QCOMPARE(w.aboutWindow(), about);
}

void TestFrmMain::recentContactsAreReadable()
{
    Rig rig(Login);
    rig.send(WorkedContact::Datagram);
    QTRY_COMPARE(rig.station->status().state().accepted, 1);
    rig.window->show();
    rig.action("mnuRecent")->trigger();
    QTableView* table = rig.window->recentWindow()->table();
    QVERIFY(QTest::qWaitForWindowExposed(table));
    // The columns fit when the window opens, and again as rows arrive.
    rig.send(WorkedContact::datagramWithCall("Q9WIDERCALLSIGN"));
    QTRY_COMPARE(table->model()->rowCount(), 2);
    for (const int row : {0, 1}) {
        for (const int column : {RecentContacts::TimeColumn, RecentContacts::CallColumn}) {
            const QString text = table->model()->index(row, column).data().toString();
            QTRY_VERIFY2(table->columnWidth(column) > table->fontMetrics().horizontalAdvance(text),
                         qPrintable(text));
        }
    }
}

void TestFrmMain::closingDuringAContestAsks_data()
{
    QTest::addColumn<int>("waiting");
    QTest::addColumn<int>("minutesAgo");   // since the last contact; -1: none
    QTest::addColumn<QString>("question"); // its start; empty: closed without one

    QTest::newRow("nothing happened") << 0 << -1 << QString();
    QTest::newRow("a contact waits") << 1 << -1
                                     << "1 contact waiting for Corvane.\r\nOnce Tarvex is closed, nothing "
                                        "hears the logger: contacts logged meanwhile are not uploaded.";
    QTest::newRow("a contact 29 minutes ago") << 0 << 29 << "The last contact arrived at ";
    QTest::newRow("the last contact 31 minutes ago") << 0 << 31 << QString();
}

void TestFrmMain::closingDuringAContestAsks()
{
    QFETCH(int, waiting);
    QFETCH(int, minutesAgo);
    QFETCH(QString, question);
    Rig rig;
    frmMain& w = *rig.window;
    w.show();
    rig.station->status().change([&](StationState& s) {
        s.waiting = waiting;
        s.lastContact = minutesAgo < 0 ? QDateTime() : QDateTime::currentDateTime().addSecs(-60 * minutesAgo);
    });
    QCOMPARE(w.close(), question.isEmpty()); // Enter keeps Tarvex running
    QCOMPARE(rig.prompter.messages.size(), question.isEmpty() ? 0 : 1);
    if (question.isEmpty())
        return;
    const ScriptedPrompter::Message& asked = rig.prompter.messages[0];
    QVERIFY2(asked.text.startsWith(question), qPrintable(asked.text));
    QCOMPARE(asked.title, QStringLiteral("Quit Tarvex?"));
    QCOMPARE(asked.buttons, Prompter::Buttons::QuitCancel); // offscreen has no tray
    QCOMPARE(asked.preferred, Answer::Cancel);
    rig.prompter.answers << Answer::Quit;
    QVERIFY(w.close());
}

void TestFrmMain::manualUploadChecksFirst()
{
    Rig rig(Login + "CorvaneHost=ftp://example.org\r\n");
    QLineEdit* path = rig.box("txtUploadADIFPathCorvane");
    QPushButton* upload = rig.button("cmbProcessandUpload");
    rig.prompter.fileNames << "/home/op/contest.adi" << QString();
    rig.button("cmbBrowseforUploadADIF")->click();
    rig.button("cmbBrowseforUploadADIF")->click(); // cancelled
    QCOMPARE(path->text(), QStringLiteral("/home/op/contest.adi"));
    QCOMPARE(rig.prompter.fileDialogFolders, QStringList({rig.dir.path(), rig.dir.path()}));

    path->clear();
    upload->click();
    QCOMPARE(rig.station->status().activity(),
             QStringLiteral("Choose the ADIF file to upload first: click \"...\" or type its path."));
    path->setText(rig.dir.file("gone.adi"));
    upload->click();
    rig.dir.write("upload.adi", "not a log at all");
    path->setText(rig.dir.file("upload.adi"));
    upload->click(); // Enter: No
    const QStringList boxes = rig.boxes();
    QCOMPARE(boxes.size(), 2);
    QCOMPARE(boxes[0], "The file\r\n" + rig.dir.file("gone.adi") +
                           "\r\ncould not be read: there is no such file.\r\nNothing was uploaded.");
    QCOMPARE(boxes[1], "The file\r\n" + rig.dir.file("upload.adi") +
                           "\r\nholds no ADIF records (no <EOR>). Upload it anyway?");
    QCOMPARE(rig.prompter.messages[1].preferred, Answer::No);

    // An unusable service address is said, and nothing goes anywhere with the password.
    rig.prompter.answers << Answer::Yes;
    upload->click();
    QVERIFY(rig.boxes().last().startsWith("The CorvaneHost setting \"ftp://example.org\" is not"));
    QCoreApplication::processEvents();
    QVERIFY(rig.service.requests().isEmpty());
    QVERIFY(upload->isEnabled());
}

void TestFrmMain::manualUploadAccepted_data()
{
    QTest::addColumn<QByteArray>("meanwhile"); // the file once the service has the request
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<QString>("kept"); // why, in the box after the answer

    QTest::newRow("Yes deletes") << Contacts << Answer::Yes << QString();
    QTest::newRow("No keeps") << Contacts << Answer::No << QString();
    QTest::newRow("Yes keeps a file that grew")
        << Contacts + "<CALL:4>W1AW <EOR>\r\n"
        << Answer::Yes << "received new contacts since the upload and was kept, so that they are not lost.";
    QTest::newRow("Yes keeps a file changed to the same size")
        << QByteArray(Contacts).replace(Contacts.size() - 9, 1, "X") << Answer::Yes
        << "changed since the upload and was kept, so that nothing in it is lost.";
}

void TestFrmMain::manualUploadAccepted()
{
    QFETCH(QByteArray, meanwhile);
    QFETCH(Answer, answer);
    QFETCH(QString, kept);
    Rig rig("TotalRecordsUploaded=17\r\n" + Login, {{"upload.adi", Contacts}});
    const QString file = rig.dir.file("upload.adi");
    auto* manual = rig.window->findChild<ManualUpload*>();
    QPushButton* upload = rig.button("cmbProcessandUpload");
    QPushButton* browse = rig.button("cmbBrowseforUploadADIF");
    rig.box("txtUploadADIFPathCorvane")->setText(file);

    rig.service.setReply("/putlogs.php", {200, "Log accepted: 2 QSOs \xE9t\xE9", 50ms});
    bool restedWhileSent = false;
    connect(&rig.service, &FakeCorvane::requestReceived, this, [&] {
        restedWhileSent = !upload->isEnabled() && !browse->isEnabled();
        upload->click(); // clicks on resting buttons start nothing
        browse->click();
        rig.dir.write("upload.adi", meanwhile);
    });
    rig.prompter.answers << Answer::Ok << answer;
    upload->click();
    QCOMPARE(rig.station->status().activity(), QStringLiteral("File Uploading!"));
    QCOMPARE(manual->activeUpload()->Timeout(), 60000ms); // a stalled transfer ends after a minute
    QString progress;
    connect(manual->activeUpload(), &HttpFileUpload::progress, this,
            [&] { progress = rig.station->status().activity(); });
    QTRY_VERIFY(!manual->activeUpload());

    QVERIFY(restedWhileSent);
    QVERIFY(rig.prompter.fileDialogFolders.isEmpty());
    QCOMPARE(progress,
             QStringLiteral("Uploading File 100% %1/%1").arg(rig.service.requests()[0].body.size()));
    QStringList expected{
        "The Corvane Servers returned the following message:\r\n\r\nLog accepted: 2 QSOs été\r\n\r\n"
        "Please Note:\r\nIn about 10 minutes you will recieve an email from Corvane\r\n"
        "with the status of your upload if you have that option turned on at Corvane.",
        "Would you like to delete \r\n" + file + " ?"};
    if (!kept.isEmpty())
        expected << "The file\r\n" + file + "\r\n" + kept;
    QCOMPARE(rig.boxes(), expected);
    QCOMPARE(rig.dir.exists("upload.adi"), answer == Answer::No || !kept.isEmpty());
    QCOMPARE(rig.box("txtUploadADIFPathCorvane")->text(), QString());
    QCOMPARE(rig.station->status().activity(), QString());
    QVERIFY(!rig.dir.exists("ErrorLog.txt"));
    QVERIFY(upload->isEnabled() && browse->isEnabled());
    QCOMPARE(rig.station->status().state().uploaded, 17); // the count is the automatic upload's alone

    // The login in use, with the file as it was when the upload began.
    const FakeCorvane::Request& sent = rig.service.requests()[0];
    const auto parts = FakeCorvane::multipartParts(sent.body, sent.header("Content-Type"));
    QVERIFY(parts.size() == 5 && parts[0].data == "op@example.org" && parts[1].data == "secret" &&
            parts[2].data == "Q9ABC" && parts[4].data == Contacts);
}

void TestFrmMain::manualUploadFailed_data()
{
    const QString heading = "An Error has occured in uploading your file to the Corvane Server.\r\n"
                            "Please wait for a few minutes and try the upload again.\r\n";
    const QString saved =
        "The error information has been saved to the ErrorLog.txt file.\r\n\r\nWhat went wrong: ";
    QTest::addColumn<int>("status"); // 0: nobody listening
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("report"); // in the error log

    QTest::newRow("refused with 500") << 500 << QByteArray("Login failed for Q9XYZ \xE9")
                                      << heading + saved + "HTTP status 500 Internal Server Error"
                                      << "Login failed for Q9XYZ é";
    QTest::newRow("refused without a body")
        << 404 << QByteArray() << heading + saved + "HTTP status 404 Not Found"
        << "HTTP status 404 Not Found";
    QTest::newRow("nobody listening") << 0 << QByteArray()
                                      << heading +
                                             " If the problem continues try going to the Corvane "
                                             "website\r\nand try uploading it there..\r\n" +
                                             saved + "Could not reach the server: Connection refused"
                                      << "Could not reach the server: Connection refused";
}

void TestFrmMain::manualUploadFailed()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, report);
    Rig rig(Login, {{"upload.adi", Contacts}});
    rig.box("txtUploadADIFPathCorvane")->setText(rig.dir.file("upload.adi"));
    rig.service.setReply("/putlogs.php", {status, body});
    if (status == 0)
        rig.service.stopListening();
    rig.button("cmbProcessandUpload")->click();
    QTRY_VERIFY(!rig.window->findChild<ManualUpload*>()->activeUpload());

    QTEST(rig.boxes().join('\n'), "message");
    QCOMPARE(rig.station->status().activity(), QStringLiteral("Uploading Data Returned Error's"));
    const auto errorLog = [&rig] { return QString::fromUtf8(rig.dir.read("ErrorLog.txt")); };
    QTRY_VERIFY2(errorLog().contains("Corvane Error Message Returned") && errorLog().contains(report),
                 qPrintable(errorLog()));
    // The exchange is saved only when the service answered.
    QCOMPARE(rig.dir.read("DebugLog.txt").contains("POST /putlogs.php"), status != 0);
    QCOMPARE(rig.box("txtUploadADIFPathCorvane")->text(), rig.dir.file("upload.adi"));
    QVERIFY(rig.button("cmbProcessandUpload")->isEnabled() &&
            rig.button("cmbBrowseforUploadADIF")->isEnabled());
}

TARVEX_TEST(TestFrmMain)
#include "tst_frmmain.moc"
