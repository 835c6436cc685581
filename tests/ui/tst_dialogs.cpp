#include "BuildInfo.h"
#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "TestMain.h"
#include "ui/About.h"
#include "ui/ManualUpload.h"
#include "ui/Palette.h"
#include "ui/QtPrompter.h"
#include "settings/LoginSource.h"
#include "station/Station.h"
#include "status/StatusModel.h"
#include "ui/frmMain.h"
#include "upload/HttpClient.h"
#include "upload/HttpFileUpload.h"
#include "upload/RealtimeRequest.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Answer = Prompter::Answer;

namespace {

const QString Password = QStringLiteral("pä ss&word");
// Large enough that the upload reports its progress several times.
const QByteArray Contacts = QByteArray("<CALL:5>Q9XYZ <STX:3>001 <EOR>\r\n").repeated(16 * 1024);
const QString ErrorText =
    QStringLiteral("An Error has occured in uploading your file to the Corvane Server.\r\n"
                   "Please wait for a few minutes and try the upload again.\r\n");
const QString ErrorSaved = QStringLiteral("The error information has been saved to the ErrorLog.txt file.");

} // namespace

class TestManualUpload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup()
    {
        m_window.reset();
        m_station.reset();
    }
    void browseFillsOrKeepsThePath();
    void nothingIsSentWithoutAFile();
    void aFileWithoutRecordsAsksFirst();
    void accepted_data();
    void accepted();
    void failed_data();
    void failed();

private:
    QString filePath() const { return m_dir->file("upload.adi"); }
    void checkAfterUpload(); // buttons back, count and settings untouched

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<FakeCorvane> m_fake;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<Station> m_station;
    std::unique_ptr<frmMain> m_window;
    ManualUpload* m_manual = nullptr;
    QLineEdit* m_path = nullptr;
    QPushButton* m_upload = nullptr;
    QPushButton* m_browse = nullptr;
    QByteArray m_ini;
};

void TestManualUpload::init()
{
    m_dir = std::make_unique<TempDir>();
    m_fake = std::make_unique<FakeCorvane>();
    QVERIFY(m_fake->listen());
    m_dir->write("Tarvex.ini", "[Settings]\r\nTotalRecordsUploaded=17\r\nUDPPort=" +
                                   QByteArray::number(freeUdpPort()) +
                                   "\r\nCorvaneHost=" + m_fake->baseUrl().toString().toUtf8() + "\r\n");
    m_dir->write("upload.adi", Contacts);
    m_prompter = std::make_unique<ScriptedPrompter>();
    m_station = std::make_unique<Station>(AppPaths(m_dir->path()));
    m_station->start();
    m_station->login().commit({"op@example.org", Password, "Q9XYZ"});
    m_window = std::make_unique<frmMain>(*m_station, *m_prompter);
    m_manual = m_window->findChild<ManualUpload*>();
    QVERIFY(m_manual);
    m_path = m_window->findChild<QLineEdit*>("txtUploadADIFPathCorvane");
    m_upload = m_window->findChild<QPushButton*>("cmbProcessandUpload");
    m_browse = m_window->findChild<QPushButton*>("cmbBrowseforUploadADIF");
    m_path->setText(filePath());
    QTRY_VERIFY(m_dir->read("Tarvex.ini").contains("AutoUploadEnabled=True"));
    m_ini = m_dir->read("Tarvex.ini");
}

void TestManualUpload::checkAfterUpload()
{
    QVERIFY(!m_manual->activeUpload());
    QVERIFY(m_upload->isEnabled() && m_browse->isEnabled());
    QCOMPARE(m_station->status().state().uploaded, 17);
    QCOMPARE(m_dir->read("Tarvex.ini"), m_ini);
}

void TestManualUpload::browseFillsOrKeepsThePath()
{
    m_prompter->fileNames << "/home/op/contest.adi" << QString();
    m_browse->click();
    QCOMPARE(m_path->text(), QStringLiteral("/home/op/contest.adi"));
    m_browse->click(); // cancelled
    QCOMPARE(m_path->text(), QStringLiteral("/home/op/contest.adi"));
    QCOMPARE(m_prompter->fileDialogs[0].directory, m_dir->path());
}

void TestManualUpload::nothingIsSentWithoutAFile()
{
    m_path->clear();
    m_upload->click();
    QVERIFY(m_prompter->messages.isEmpty());
    QCOMPARE(m_station->status().activity(),
             QStringLiteral("Choose the ADIF file to upload first: click \"...\" or type its path."));

    const QString path = m_dir->file("gone.adi");
    m_path->setText(path);
    m_upload->click();
    QCOMPARE(m_prompter->messages.size(), 1);
    QCOMPARE(m_prompter->messages[0].text,
             "The file\r\n" + path +
                 "\r\ncould not be read: there is no such file.\r\nNothing was uploaded.");
    QCoreApplication::processEvents();
    QVERIFY(m_fake->requests().isEmpty());
    checkAfterUpload();

    // An unusable service address is said, and nothing goes anywhere with the password.
    m_dir->write("Tarvex.ini", "[Settings]\r\nCorvaneHost=ftp://example.org\r\n");
    m_path->setText(filePath());
    m_upload->click();
    QVERIFY(
        m_prompter->messages.last().text.startsWith("The CorvaneHost setting \"ftp://example.org\" is not"));
    QCoreApplication::processEvents();
    QVERIFY(m_fake->requests().isEmpty());
    QVERIFY(m_upload->isEnabled());
}

void TestManualUpload::aFileWithoutRecordsAsksFirst()
{
    m_dir->write("upload.adi", "not a log at all");
    m_upload->click(); // Enter: No
    QCOMPARE(m_prompter->messages.size(), 1);
    QCOMPARE(m_prompter->messages[0].preferred, Answer::No);
    QVERIFY(m_prompter->messages[0].text.endsWith("holds no ADIF records (no <EOR>). Upload it anyway?"));
    QCoreApplication::processEvents();
    QVERIFY(m_fake->requests().isEmpty());
    m_dir->write("upload.adi", "<call:4>W1AW <eor>\r\n"); // any letter case
    m_prompter->answers << Answer::Ok << Answer::No;
    m_upload->click();
    QTRY_COMPARE(m_fake->requests().size(), 1);
    QTRY_COMPARE(m_prompter->messages.size(), 3); // no question this time: the service's answer, then delete?
    QVERIFY(m_prompter->messages[1].text.startsWith("The Corvane Servers returned the following message:"));
}

void TestManualUpload::accepted_data()
{
    QTest::addColumn<QByteArray>("meanwhile"); // the file once the service has the request
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("deleted");

    QTest::newRow("Yes deletes") << Contacts << Answer::Yes << true;
    QTest::newRow("No keeps") << Contacts << Answer::No << false;
    QTest::newRow("Yes keeps a file that grew") << Contacts + "<CALL:4>W1AW <EOR>\r\n"
                                                << Answer::Yes << false;
    QTest::newRow("Yes keeps a file changed to the same size")
        << QByteArray(Contacts).replace(Contacts.size() - 9, 1, "X") << Answer::Yes << false;
}

void TestManualUpload::accepted()
{
    QFETCH(QByteArray, meanwhile);
    QFETCH(Answer, answer);
    QFETCH(bool, deleted);

    m_fake->setReply("/putlogs.php", {200, "Log accepted: 2 QSOs \xE9t\xE9", 50ms});
    bool restedWhileSent = false;
    connect(m_fake.get(), &FakeCorvane::requestReceived, this, [&] {
        restedWhileSent =
            !m_upload->isEnabled() && !m_browse->isEnabled();
        m_upload->click(); // clicks on resting buttons start nothing
        m_browse->click();
        m_dir->write("upload.adi", meanwhile);
    });
    m_prompter->answers << Answer::Ok << answer;
    m_upload->click();
    QCOMPARE(m_station->status().activity(), QStringLiteral("File Uploading!"));
    QCOMPARE(m_manual->activeUpload()->Timeout(), 60000ms); // a stalled transfer ends after a minute
    QStringList progress;
    connect(m_manual->activeUpload(), &HttpFileUpload::progress, this,
            [&] { progress << m_station->status().activity(); });
    QTRY_VERIFY(!m_manual->activeUpload());

    QVERIFY(restedWhileSent);
    QCOMPARE(m_fake->requests().size(), 1);
    QVERIFY(m_prompter->fileDialogs.isEmpty());
    const qint64 total = m_fake->requests()[0].body.size();
    QVERIFY2(progress.size() > 2, qPrintable(progress.join('\n')));
    QCOMPARE(progress[1].section(' ', 3).section('/', 1), QString::number(total));
    QCOMPARE(progress.last(), QStringLiteral("Uploading File 100% %1/%1").arg(total));

    QStringList shown;
    for (const ScriptedPrompter::Message& box : std::as_const(m_prompter->messages))
        shown << box.text;
    QStringList expected{
        "The Corvane Servers returned the following message:\r\n\r\nLog accepted: 2 QSOs été\r\n\r\n"
        "Please Note:\r\nIn about 10 minutes you will recieve an email from Corvane\r\n"
        "with the status of your upload if you have that option turned on at Corvane.",
        "Would you like to delete \r\n" + filePath() + " ?"};
    if (meanwhile != Contacts && answer == Answer::Yes)
        expected << "The file\r\n" + filePath() +
                        (meanwhile.startsWith(Contacts)
                             ? "\r\nreceived new contacts since the upload and was kept, so that they are "
                               "not lost."
                             : "\r\nchanged since the upload and was kept, so that nothing in it is lost.");
    QCOMPARE(shown, expected);
    QCOMPARE(m_dir->exists("upload.adi"), !deleted);
    QCOMPARE(m_path->text(), QString());
    QCOMPARE(m_station->status().activity(), QString());
    QVERIFY(!m_dir->exists("ErrorLog.txt"));
    QVERIFY(!m_station->status().state().errorsOnDisk);
    checkAfterUpload();

    // The form as sent, with the file as it was when the upload began.
    const FakeCorvane::Request& request = m_fake->requests()[0];
    QList<QByteArray> parts;
    for (const FakeCorvane::Part& part :
         FakeCorvane::multipartParts(request.body, request.header("Content-Type")))
        parts << part.name + '=' + part.filename + ':' + part.data;
    QVERIFY(parts ==
            QList<QByteArray>({"email=:op@example.org", "password=:" + Password.toUtf8(), "callsign=:Q9XYZ",
                               "api=:" + QByteArray(ApplicationKey), "file=upload.adi:" + Contacts}));
}

void TestManualUpload::failed_data()
{
    QTest::addColumn<int>("status"); // 0: nobody listening
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("report"); // in the error log; the box names the reason too

    QTest::newRow("refused with 500") << 500 << QByteArray("Login failed for Q9XYZ \xE9")
                                      << ErrorText + ErrorSaved + "\r\n\r\nWhat went wrong: HTTP status 500 Internal Server Error"
                                      << "Login failed for Q9XYZ é";
    QTest::newRow("refused without a body")
        << 404 << QByteArray() << ErrorText + ErrorSaved + "\r\n\r\nWhat went wrong: HTTP status 404 Not Found"
        << "HTTP status 404 Not Found";
    QTest::newRow("nobody listening") << 0 << QByteArray()
                                      << ErrorText +
                                             " If the problem continues try going to the Corvane website\r\n"
                                             "and try uploading it there..\r\n" +
                                             ErrorSaved + "\r\n\r\nWhat went wrong: Could not reach the server: Connection refused"
                                      << "Could not reach the server: Connection refused";
}

void TestManualUpload::failed()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, message);
    QFETCH(QString, report);

    m_fake->setReply("/putlogs.php", {status, body});
    if (status == 0)
        m_fake->stopListening();
    m_upload->click();
    QTRY_VERIFY(!m_manual->activeUpload());

    QCOMPARE(m_prompter->messages.size(), 1);
    QCOMPARE(m_prompter->messages[0].text, message);
    QCOMPARE(m_station->status().activity(), QStringLiteral("Uploading Data Returned Error's"));
    const auto errorLog = [this] { return QString::fromUtf8(m_dir->read("ErrorLog.txt")); };
    QTRY_VERIFY2(errorLog().contains("Corvane Error Message Returned") && errorLog().contains(report),
                 qPrintable(errorLog()));
    QVERIFY(m_station->status().state().errorsOnDisk);
    // The exchange is saved only when the service answered, and never with the password.
    QCOMPARE(m_dir->read("DebugLog.txt").contains("POST /putlogs.php"), status != 0);
    QVERIFY(!m_dir->read("DebugLog.txt").contains(Password.toUtf8()));
    QCOMPARE(m_path->text(), filePath());
    QCOMPARE(m_dir->read("upload.adi"), Contacts);
    checkAfterUpload();
}

TARVEX_TEST(TestManualUpload)

namespace {

QString colourName(const QWidget* label)
{
    const QColor colour = label->palette().color(QPalette::WindowText);
    return colour == QColor(255, 0, 0) ? "red" : colour == QColor(0, 0, 255) ? "blue" : colour.name();
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void textsAndMailLink();
    void linkColoursFollowThePointer_data();
    void linkColoursFollowThePointer();
    void updateCheckAnswers_data();
    void updateCheckAnswers();
    void keyboardAndDarkThemes();

private:
    void open(const QUrl& updateBase = {});
    QLabel* label(const char* name) const { return m_about->findChild<QLabel*>(name); }

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    HttpClient m_http;
    std::unique_ptr<About> m_about;
};

void TestAbout::init()
{
    m_about.reset();
    m_prompter = std::make_unique<ScriptedPrompter>();
}

void TestAbout::open(const QUrl& updateBase)
{
    m_dir = std::make_unique<TempDir>();
    m_dir->write("Tarvex.ini", "[Settings]\r\nUpdateHost=" + updateBase.toString().toUtf8() + "\r\n");
    const Settings settings(m_dir->file("Tarvex.ini"), m_dir->file("DebugLog.txt"));
    m_about = std::make_unique<About>(*m_prompter, m_http, QStringLiteral("/home/op/.local/share/Tarvex"), settings);
    m_about->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_about.get()));
}

void TestAbout::textsAndMailLink()
{
    open();
    const QString call = QString::fromUtf8(BuildInfo::AuthorCall);
    QCOMPARE(label("Label1")->text(),
             "Tarvex ver. " TARVEX_VERSION "\nBy: " + QString::fromUtf8(BuildInfo::AuthorName) + ' ' + call);
    QCOMPARE(label("Label3")->toolTip(), "Send Email to " + call);
    QCOMPARE(label("Label5")->toolTip(), QStringLiteral("Check for latest Update Here"));

    QTest::mouseClick(label("Label3"), Qt::LeftButton);
    QCOMPARE(m_prompter->openedUrls, QList<QUrl>{QUrl("mailto:" + QString::fromUtf8(BuildInfo::AuthorMail))});
}

void TestAbout::linkColoursFollowThePointer_data()
{
    QTest::addColumn<QStringList>("moves"); // label names, "background" or "leave" the window
    QTest::addColumn<QString>("colours");   // of Send Email and Click Here

    QTest::newRow("over Send Email") << QStringList{"Label3"} << "red blue";
    QTest::newRow("over Click Here") << QStringList{"Label5"} << "blue red";
    QTest::newRow("back to the background") << QStringList{"Label3", "Label5", "background"} << "blue blue";
    QTest::newRow("onto a plain label") << QStringList{"Label3", "Label2"} << "red blue";
    QTest::newRow("out of the window from a link") << QStringList{"Label3", "leave"} << "red blue";
}

void TestAbout::linkColoursFollowThePointer()
{
    QFETCH(QStringList, moves);
    open();
    for (const QString& where : moves) {
        if (where == "leave") { // from Send Email, as the window system tells it
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(label("Label3"), &leave);
            QApplication::sendEvent(m_about.get(), &leave);
        } else {
            const QLabel* label = m_about->findChild<QLabel*>(where);
            QTest::mouseMove(m_about.get(), label ? label->geometry().center() : QPoint(1, 1));
        }
    }
    QTEST(colourName(label("Label3")) + ' ' + colourName(label("Label5")), "colours");
}

void TestAbout::updateCheckAnswers_data()
{
    QTest::addColumn<int>("status"); // 0: the host never answers
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QList<Answer>>("choices");
    QTest::addColumn<QStringList>("boxes"); // by title, or text when untitled
    QTest::addColumn<bool>("opensArchive");

    const QStringList offer{"UPDATE AVAILABLE!"};
    const QStringList download{"UPDATE AVAILABLE!", "Download Update"};
    const QStringList none{"There is no Update available!"};
    const QList<Answer> noChoice;
    QTest::newRow("newer, Yes, OK") << 200 << QByteArray("999.0.0") << QList{Answer::Yes, Answer::Ok}
                                    << download << true;
    QTest::newRow("newer, No") << 200 << QByteArray("999.0.0") << QList{Answer::No} << offer << false;
    QTest::newRow("newer, Yes, Cancel")
        << 200 << QByteArray("999.0.0") << QList{Answer::Yes, Answer::Cancel} << download << false;
    // Equal as numbers, though not as text.
    QTest::newRow("same") << 200 << QByteArray(TARVEX_VERSION ".0\r\n") << noChoice << none << false;
    // A check that ended without a word would look like "no update".
    QTest::newRow("time-out") << 0 << QByteArray("999.0.0") << noChoice
                              << QStringList{"The check for a newer version failed: No answer from the update host "
                                             "within 200 ms"}
                              << false;
}

void TestAbout::updateCheckAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QList<Answer>, choices);
    QFETCH(bool, opensArchive);

    FakeCorvane host;
    QVERIFY(host.listen());
    host.setReply("/dl/files/TarvexVer.txt",
                  {status, body, 20ms, status ? FakeCorvane::Fault::None : FakeCorvane::Fault::NeverAnswer});
    const QUrl base(host.baseUrl().toString() + "/dl");
    open(base);
    m_about->setUpdateCheckTimeout(200ms);
    m_prompter->answers.append(choices);

    QTest::mouseClick(label("Label5"), Qt::LeftButton);
    QVERIFY(m_about->isCheckingForUpdate()); // the window goes on while the host is asked
    QVERIFY(m_prompter->messages.isEmpty());
    QTRY_VERIFY(!m_about->isCheckingForUpdate());

    QStringList boxes;
    for (const ScriptedPrompter::Message& box : std::as_const(m_prompter->messages))
        boxes << (box.title.isEmpty() ? box.text : box.title);
    QTEST(boxes, "boxes");
    QCOMPARE(m_prompter->openedUrls,
             opensArchive ? QList<QUrl>{QUrl(base.toString() + "/files/TarvexUpdate.zip")} : QList<QUrl>());
    QCOMPARE(host.requests().size(), 1);
}

void TestAbout::keyboardAndDarkThemes()
{
    open(QUrl("ftp://example.org"));
    label("Label5")->setFocus();
    QVERIFY(label("Label5")->hasFocus());
    QTest::keyClick(label("Label5"), Qt::Key_Return);
    // An unusable update host is said, and nothing is fetched.
    QCOMPARE(m_prompter->messages.size(), 1);
    QVERIFY(m_prompter->messages[0].text.startsWith("The UpdateHost setting \"ftp://example.org\""));
    QVERIFY(!m_about->isCheckingForUpdate());

    QPalette dark = m_about->palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Link, QColor(120, 170, 255));
    m_about->setPalette(dark);
    QCOMPARE(colourName(label("Label3")), QColor(120, 170, 255).name());
    QTest::keyClick(m_about.get(), Qt::Key_Escape);
    QVERIFY(!m_about->isVisible());
}

TARVEX_TEST(TestAbout)

class TestQtPrompter : public QObject
{
    Q_OBJECT

private slots:
    void nameFilters_data();
    void nameFilters();
    void lineBreaks() { QCOMPARE(QtPrompter::messageText("a\rb\r\nc\nd"), QStringLiteral("a\nb\nc\nd")); }
    void coloursStayReadable();
};

void TestQtPrompter::nameFilters_data()
{
    QTest::addColumn<QString>("barSeparated");
    QTest::addColumn<QStringList>("filters");

    QTest::newRow("the browse dialog's") << "ADIF (*.adi *.adif) | *.adi;*.adif|All files (*)|*"
                                         << QStringList{"ADIF (*.adi *.adif)", "All files (*)"};
    QTest::newRow("several patterns") << "ADIF|*.adi;*.adif" << QStringList{"ADIF (*.adi *.adif)"};
    // Qt filters on what the description shows, so it must show the real pattern.
    QTest::newRow("description showing other patterns")
        << "Logs (*.txt)|*.adi" << QStringList{"Logs (*.adi)"};
    QTest::newRow("no description") << "|*.adi" << QStringList{"*.adi"};
    QTest::newRow("description without a pattern")
        << "ADIF (*.adi)|*.adi|Other" << QStringList{"ADIF (*.adi)"};
}

void TestQtPrompter::nameFilters()
{
    QFETCH(QString, barSeparated);
    QTEST(QtPrompter::nameFilters(barSeparated), "filters");
}

void TestQtPrompter::coloursStayReadable()
{
    QCOMPARE(qRound(Palette::contrast(Qt::black, Qt::white)), 21);
    QCOMPARE(Palette::readable(QColor(0, 0, 255), Qt::white, {Qt::gray}), QColor(0, 0, 255));
    // The count's blue on a dark button face: 1.2 to 1, so the theme's own colour.
    QCOMPARE(Palette::readable(QColor(0, 0, 255), QColor(53, 53, 53), {QColor(42, 130, 218), Qt::white}),
             QColor(Qt::white));
}

TARVEX_TEST(TestQtPrompter)

#include "tst_dialogs.moc"
