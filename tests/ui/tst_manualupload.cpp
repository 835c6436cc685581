#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "ui/ManualUpload.h"
#include "ui/frmMain.h"
#include "upload/HttpFileUpload.h"
#include "upload/RealtimeRequest.h"

#include <QAction>
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
    void cleanup() { m_window.reset(); }
    void browseFillsOrKeepsThePath();
    void nothingIsSentWithoutAFile();
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
    std::unique_ptr<frmMain> m_window;
    ManualUpload* m_manual = nullptr;
    QByteArray m_ini;
};

void TestManualUpload::init()
{
    m_dir = std::make_unique<TempDir>();
    m_fake = std::make_unique<FakeCorvane>();
    QVERIFY(m_fake->listen());
    m_ini = "[Settings]\r\nTotalRecordsUploaded=17\r\nCorvaneHost=" + m_fake->baseUrl().toString().toUtf8() +
            "\r\n";
    m_dir->write("Tarvex.ini", m_ini);
    m_dir->write("upload.adi", Contacts);
    m_prompter = std::make_unique<ScriptedPrompter>();
    m_window = std::make_unique<frmMain>(AppPaths(m_dir->path()), *m_prompter);
    m_manual = m_window->findChild<ManualUpload*>();
    QVERIFY(m_manual);
    m_window->txtCorvaneEmailAddress->setText("op@example.org");
    m_window->txtCorvanePassword->setText(Password);
    m_window->txtCorvaneCallsign->setText("Q9XYZ");
    m_window->txtTotalQSOUploaded->setText("17");
    m_window->txtUploadADIFPathCorvane->setText(filePath());
}

void TestManualUpload::checkAfterUpload()
{
    QVERIFY(!m_manual->activeUpload());
    QVERIFY(m_window->cmbProcessandUpload->isEnabled() && m_window->cmbBrowseforUploadADIF->isEnabled());
    QCOMPARE(m_window->txtTotalQSOUploaded->text(), QStringLiteral("17"));
    QCOMPARE(m_dir->read("Tarvex.ini"), m_ini);
}

void TestManualUpload::browseFillsOrKeepsThePath()
{
    m_prompter->fileNames << "/home/op/contest.adi" << QString();
    m_window->cmbBrowseforUploadADIF->click();
    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), QStringLiteral("/home/op/contest.adi"));
    m_window->cmbBrowseforUploadADIF->click(); // cancelled
    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), QStringLiteral("/home/op/contest.adi"));
    QCOMPARE(m_prompter->fileDialogs[0].directory, m_dir->path());
}

void TestManualUpload::nothingIsSentWithoutAFile()
{
    m_window->txtUploadADIFPathCorvane->clear();
    m_window->cmbProcessandUpload->click();
    QVERIFY(m_prompter->messages.isEmpty());

    const QString path = m_dir->file("gone.adi");
    m_window->txtUploadADIFPathCorvane->setText(path);
    m_window->cmbProcessandUpload->click();
    QCOMPARE(m_prompter->messages.size(), 1);
    QCOMPARE(m_prompter->messages[0].text,
             "The file\r\n" + path +
                 "\r\ncould not be read: there is no such file.\r\nNothing was uploaded.");
    QCoreApplication::processEvents();
    QVERIFY(m_fake->requests().isEmpty());
    QCOMPARE(m_window->StatusPanel1->text(), QString());
    checkAfterUpload();
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
            !m_window->cmbProcessandUpload->isEnabled() && !m_window->cmbBrowseforUploadADIF->isEnabled();
        m_window->cmbProcessandUpload->click(); // clicks on resting buttons start nothing
        m_window->cmbBrowseforUploadADIF->click();
        m_dir->write("upload.adi", meanwhile);
    });
    m_prompter->answers << Answer::Ok << answer;
    m_window->cmbProcessandUpload->click();
    QCOMPARE(m_window->StatusPanel1->text(), QStringLiteral("File Uploading!"));
    QStringList progress;
    connect(m_manual->activeUpload(), &HttpFileUpload::progress, this,
            [&] { progress << m_window->StatusPanel1->text(); });
    QTRY_VERIFY(!m_manual->activeUpload());

    QVERIFY(restedWhileSent);
    QCOMPARE(m_fake->requests().size(), 1);
    QVERIFY(m_prompter->fileDialogs.isEmpty());
    const qint64 total = m_fake->requests()[0].body.size();
    QVERIFY2(progress.size() > 2, qPrintable(progress.join('\n')));
    static const QRegularExpression form("^Uploading File (\\d+)% (\\d+)/(\\d+)$");
    for (const QString& text : std::as_const(progress)) {
        const QRegularExpressionMatch match = form.match(text);
        QVERIFY2(match.hasMatch() && match.captured(3).toLongLong() == total, qPrintable(text));
        QCOMPARE(match.captured(1).toLongLong(), match.captured(2).toLongLong() * 100 / total);
    }
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
                        "\r\nreceived new contacts since the upload and was kept, so that they are not lost.";
    QCOMPARE(shown, expected);
    QCOMPARE(m_dir->exists("upload.adi"), !deleted);
    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), QString());
    QCOMPARE(m_window->StatusPanel1->text(), QString());
    QVERIFY(!m_dir->exists("ErrorLog.txt"));
    QVERIFY(!m_window->mnuError->menuAction()->isVisible());
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
    QTest::addColumn<QString>("report");

    QTest::newRow("refused with 500") << 500 << QByteArray("Login failed for Q9XYZ \xE9")
                                      << ErrorText + ErrorSaved << "Login failed for Q9XYZ é";
    QTest::newRow("refused without a body")
        << 404 << QByteArray() << ErrorText + ErrorSaved << "HTTP status 404 Not Found";
    QTest::newRow("nobody listening") << 0 << QByteArray()
                                      << ErrorText +
                                             " If the problem continues try going to the Corvane website\r\n"
                                             "and try uploading it there..\r\n" +
                                             ErrorSaved
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
    QSignalSpy errors(m_manual, &ManualUpload::errorReported);
    m_window->cmbProcessandUpload->click();
    QTRY_VERIFY(!m_manual->activeUpload());

    QCOMPARE(m_prompter->messages.size(), 1);
    QCOMPARE(m_prompter->messages[0].text, message);
    QCOMPARE(m_window->StatusPanel1->text(), QStringLiteral("Uploading Data Returned Error's"));
    const QString errorLog = QString::fromUtf8(m_dir->read("ErrorLog.txt"));
    QVERIFY2(errorLog.contains("Corvane Error Message Returned") && errorLog.contains(report),
             qPrintable(errorLog));
    QCOMPARE(errors.count(), 1);
    QVERIFY(m_window->mnuError->menuAction()->isVisible());
    // The exchange is saved only when the service answered, and never with the password.
    QCOMPARE(m_dir->read("DebugLog.txt").contains("POST /putlogs.php"), status != 0);
    QVERIFY(!m_dir->read("DebugLog.txt").contains(Password.toUtf8()));
    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), filePath());
    QCOMPARE(m_dir->read("upload.adi"), Contacts);
    checkAfterUpload();
}

QTEST_MAIN(TestManualUpload)
#include "tst_manualupload.moc"
