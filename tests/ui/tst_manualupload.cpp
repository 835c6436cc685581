#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "ui/ManualUpload.h"
#include "ui/frmMain.h"
#include "upload/HttpFileUpload.h"
#include "upload/RealtimeRequest.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;
using Answer = Prompter::Answer;

namespace {

const QString Putlogs = QStringLiteral("/putlogs.php");
const QString Email = QStringLiteral("op@example.org");
const QString Password = QStringLiteral("pä ss&word");
const QString Callsign = QStringLiteral("Q9XYZ");
const QString Count = QStringLiteral("17");
const QByteArray Contacts =
    "'The qso's listed below were not uploaded to Corvane due to an error occuring.\r\n"
    "'You should manually upload this file to Corvane.\r\n\r\n"
    "<CALL:5>Q9XYZ <EOR>\r\n<CALL:4>K1AB <EOR>\r\n";
const QString FailedStatus = QStringLiteral("Uploading Data Returned Error's");
const QString ShortError =
    QStringLiteral("An Error has occured in uploading your file to the Corvane Server.\r\n"
                   "Please wait for a few minutes and try the upload again.\r\n"
                   "The error information has been saved to the ErrorLog.txt file.");
const QString LongError =
    QStringLiteral("An Error has occured in uploading your file to the Corvane Server.\r\n"
                   "Please wait for a few minutes and try the upload again.\r\n"
                   " If the problem continues try going to the Corvane website\r\n"
                   "and try uploading it there..\r\n"
                   "The error information has been saved to the ErrorLog.txt file.");

// What the window showed when a message box opened.
struct Scene
{
    QString status;
    bool buttonsEnabled = false;
    bool errorLogged = false;
};

// The scripted answers, plus a look at the window each time a box opens, so
// the order of status texts, boxes and log writes can be checked.
class WitnessPrompter final : public Prompter
{
public:
    Answer message(QWidget* parent, const QString& text, const QString& title, Buttons buttons,
                   Icon icon) override
    {
        scenes.append(look());
        return script.message(parent, text, title, buttons, icon);
    }
    QString openFileName(QWidget* parent, const QString& title, const QString& directory,
                         const QString& filter) override
    {
        return script.openFileName(parent, title, directory, filter);
    }
    void openUrl(const QUrl& url) override { script.openUrl(url); }

    ScriptedPrompter script;
    std::function<Scene()> look;
    QList<Scene> scenes;
};

} // namespace

class TestManualUpload : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void browseFillsThePath_data();
    void browseFillsThePath();
    void emptyPathDoesNothing();
    void unreadablePathIsReportedAtOnce_data();
    void unreadablePathIsReportedAtOnce();
    void acceptedUploadAndTheDeletePrompt_data();
    void acceptedUploadAndTheDeletePrompt();
    void refusedOrFailedUpload_data();
    void refusedOrFailedUpload();
    void progressReachesTheStatusPanel();

private:
    QString filePath() const { return m_dir->file(QStringLiteral("upload.adi")); }
    void startUpload();
    void checkUntouchedCount();

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<FakeCorvane> m_fake;
    std::unique_ptr<WitnessPrompter> m_prompter;
    std::unique_ptr<frmMain> m_window;
    ManualUpload* m_manual = nullptr;
    std::unique_ptr<QSignalSpy> m_errors;
    QByteArray m_settingsBefore;
};

void TestManualUpload::init()
{
    m_dir = std::make_unique<TempDir>();
    m_fake = std::make_unique<FakeCorvane>();
    QVERIFY(m_fake->listen());
    m_dir->write(QStringLiteral("Tarvex.ini"), "[Settings]\r\nTotalRecordsUploaded=17\r\nCorvaneHost=" +
                                                   m_fake->baseUrl().toString().toUtf8() + "\r\n");
    m_settingsBefore = m_dir->read(QStringLiteral("Tarvex.ini"));
    m_dir->write(QStringLiteral("upload.adi"), Contacts);

    m_prompter = std::make_unique<WitnessPrompter>();
    const AppPaths paths(m_dir->path());
    m_window = std::make_unique<frmMain>(paths, *m_prompter);
    m_prompter->look = [this] {
        return Scene{m_window->StatusPanel1->text(),
                     m_window->cmbProcessandUpload->isEnabled() &&
                         m_window->cmbBrowseforUploadADIF->isEnabled(),
                     m_dir->exists(QStringLiteral("ErrorLog.txt"))};
    };
    m_manual = m_window->findChild<ManualUpload*>();
    if (!m_manual)
        m_manual = new ManualUpload(*m_window, *m_prompter, paths,
                                    Settings(paths.settingsFile(), paths.debugLog()), m_window.get());
    m_errors = std::make_unique<QSignalSpy>(m_manual, &ManualUpload::errorReported);

    m_window->txtCorvaneEmailAddress->setText(Email);
    m_window->txtCorvanePassword->setText(Password);
    m_window->txtCorvaneCallsign->setText(Callsign);
    m_window->txtTotalQSOUploaded->setText(Count);
    m_window->txtUploadADIFPathCorvane->setText(filePath());
    m_window->StatusPanel1->clear();
}

void TestManualUpload::cleanup()
{
    m_errors.reset();
    m_window.reset();
    m_prompter.reset();
    m_fake.reset();
    m_dir.reset();
}

void TestManualUpload::startUpload()
{
    m_window->cmbProcessandUpload->click();
    QVERIFY(m_manual->activeUpload());
    QCOMPARE(m_window->StatusPanel1->text(), QStringLiteral("File Uploading!"));
    QVERIFY(!m_window->cmbProcessandUpload->isEnabled());
    QVERIFY(!m_window->cmbBrowseforUploadADIF->isEnabled());
    QTRY_VERIFY(!m_manual->activeUpload());
}

void TestManualUpload::checkUntouchedCount()
{
    QCOMPARE(m_window->txtTotalQSOUploaded->text(), Count);
    QCOMPARE(m_dir->read(QStringLiteral("Tarvex.ini")), m_settingsBefore);
    // No debug line either: the only DebugLog.txt writer here is SaveLog after a refusal.
}

void TestManualUpload::browseFillsThePath_data()
{
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QString>("path");

    QTest::newRow("a file") << QStringList{"/home/op/contest.adi"} << "/home/op/contest.adi";
    QTest::newRow("cancelled") << QStringList() << "/home/op/earlier.adi";
}

void TestManualUpload::browseFillsThePath()
{
    QFETCH(QStringList, chosen);
    QFETCH(QString, path);

    m_window->txtUploadADIFPathCorvane->setText(QStringLiteral("/home/op/earlier.adi"));
    for (const QString& file : chosen)
        m_prompter->script.fileNames.enqueue(file);
    m_window->cmbBrowseforUploadADIF->click();

    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), path);
    QCOMPARE(m_prompter->script.fileDialogs.size(), 1);
    const ScriptedPrompter::FileDialog& dialog = m_prompter->script.fileDialogs.first();
    QCOMPARE(dialog.parent.data(), m_window.get());
    QCOMPARE(dialog.title, QStringLiteral("Select ADIF file to Process Path"));
    QCOMPARE(dialog.directory, m_dir->path());
    QCOMPARE(dialog.filter, QStringLiteral("ADIF (*.adi) | *.adi|All files (*.*)|*.*"));
    QVERIFY(m_prompter->script.messages.isEmpty());
}

void TestManualUpload::emptyPathDoesNothing()
{
    m_window->txtUploadADIFPathCorvane->clear();
    m_window->cmbProcessandUpload->click();

    QVERIFY(!m_manual->activeUpload());
    QVERIFY(m_prompter->script.messages.isEmpty());
    QVERIFY(m_window->cmbProcessandUpload->isEnabled());
    QCOMPARE(m_window->StatusPanel1->text(), QString());
}

void TestManualUpload::unreadablePathIsReportedAtOnce_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no such file") << "gone.adi"
                                  << "there is no such file.";
    QTest::newRow("a folder") << ""
                              << "it is a folder, not a file.";
}

void TestManualUpload::unreadablePathIsReportedAtOnce()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);

    const QString path = name.isEmpty() ? m_dir->path() : m_dir->file(name);
    m_window->txtUploadADIFPathCorvane->setText(path);
    m_window->cmbProcessandUpload->click();

    QVERIFY(!m_manual->activeUpload());
    QCOMPARE(m_prompter->script.messages.size(), 1);
    const ScriptedPrompter::Message& message = m_prompter->script.messages.first();
    QCOMPARE(
        message.text,
        QStringLiteral("The file\r\n%1\r\ncould not be read: %2\r\nNothing was uploaded.").arg(path, reason));
    QCOMPARE(message.icon, Prompter::Icon::Critical);
    QCOMPARE(message.buttons, Prompter::Buttons::Ok);
    QCOMPARE(message.title, QString());

    QCoreApplication::processEvents();
    QVERIFY(m_fake->requests().isEmpty());
    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), path);
    QCOMPARE(m_window->StatusPanel1->text(), QString());
    QVERIFY(m_window->cmbProcessandUpload->isEnabled());
    QVERIFY(!m_dir->exists(QStringLiteral("ErrorLog.txt")));
    QCOMPARE(m_errors->count(), 0);
}

void TestManualUpload::acceptedUploadAndTheDeletePrompt_data()
{
    QTest::addColumn<QByteArray>("meanwhile"); // what the file holds once the service has the request
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("deleted");
    QTest::addColumn<QString>("notice");

    const QByteArray grown = Contacts + "<CALL:4>W1AW <EOR>\r\n";
    const QString grewNotice =
        QStringLiteral("received new contacts since the upload and was kept, so that they are not lost.");
    QTest::newRow("Yes deletes") << Contacts << Answer::Yes << true << QString();
    QTest::newRow("No keeps") << Contacts << Answer::No << false << QString();
    QTest::newRow("Yes keeps a file that grew") << grown << Answer::Yes << false << grewNotice;
    QTest::newRow("No keeps a file that grew") << grown << Answer::No << false << QString();
    QTest::newRow("Yes keeps a rewritten file")
        << QByteArray("<CALL:4>W1AW <EOR>\r\n") << Answer::Yes << false
        << QStringLiteral("changed since the upload and was kept, so that nothing in it is lost.");
}

void TestManualUpload::acceptedUploadAndTheDeletePrompt()
{
    QFETCH(QByteArray, meanwhile);
    QFETCH(Answer, answer);
    QFETCH(bool, deleted);
    QFETCH(QString, notice);

    m_fake->setReply(Putlogs, {200, "Log accepted: 2 QSOs for Q9XYZ \xE9t\xE9", 50ms});
    connect(m_fake.get(), &FakeCorvane::requestReceived, this,
            [&] { m_dir->write(QStringLiteral("upload.adi"), meanwhile); });
    m_prompter->script.answers.enqueue(Answer::Ok);
    m_prompter->script.answers.enqueue(answer);
    startUpload();

    const QList<ScriptedPrompter::Message>& messages = m_prompter->script.messages;
    QCOMPARE(messages.size(), notice.isEmpty() ? 2 : 3);
    QCOMPARE(messages[0].text,
             QStringLiteral("The Corvane Servers returned the following message:\r\n\r\n"
                            "Log accepted: 2 QSOs for Q9XYZ été\r\n\r\n"
                            "Please Note:\r\n"
                            "In about 10 minutes you will recieve an email from Corvane\r\n"
                            "with the status of your upload if you have that option turned on "
                            "at Corvane."));
    QCOMPARE(messages[0].buttons, Prompter::Buttons::Ok);
    QCOMPARE(messages[1].text,
             QStringLiteral("Would you like to delete \r\n") + filePath() + QStringLiteral(" ?"));
    QCOMPARE(messages[1].buttons, Prompter::Buttons::YesNo);
    for (const ScriptedPrompter::Message& message : messages.first(2)) {
        QCOMPARE(message.icon, Prompter::Icon::None);
        QCOMPARE(message.title, QString());
        QCOMPARE(message.parent.data(), m_window.get());
    }
    if (!notice.isEmpty()) {
        QCOMPARE(messages[2].text,
                 QStringLiteral("The file\r\n") + filePath() + QStringLiteral("\r\n") + notice);
        QCOMPARE(messages[2].icon, Prompter::Icon::Exclamation);
    }

    const qsizetype sent = m_fake->requests().first().body.size();
    QCOMPARE(m_prompter->scenes[0].status, QStringLiteral("Uploading File 100% %1/%1").arg(sent));
    QCOMPARE(m_prompter->scenes[1].status, QStringLiteral("Uploading Data Complete"));
    QVERIFY(!m_prompter->scenes[1].buttonsEnabled);

    QCOMPARE(m_dir->exists(QStringLiteral("upload.adi")), !deleted);
    if (!deleted)
        QCOMPARE(m_dir->read(QStringLiteral("upload.adi")), meanwhile);
    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), QString());
    QCOMPARE(m_window->StatusPanel1->text(), QString());
    QVERIFY(m_window->cmbProcessandUpload->isEnabled());
    QVERIFY(m_window->cmbBrowseforUploadADIF->isEnabled());
    QVERIFY(!m_dir->exists(QStringLiteral("ErrorLog.txt")));
    QVERIFY(!m_dir->exists(QStringLiteral("DebugLog.txt")));
    QCOMPARE(m_errors->count(), 0);
    QVERIFY(!m_window->mnuError->menuAction()->isVisible());
    checkUntouchedCount();

    // What the service received: the form in order, and the file as it was when the upload began.
    const FakeCorvane::Request& request = m_fake->requests().first();
    QCOMPARE(m_fake->requests().size(), 1);
    const QList<FakeCorvane::Part> parts =
        FakeCorvane::multipartParts(request.body, request.header("Content-Type"));
    QCOMPARE(parts.size(), 5);
    const QList<std::pair<QByteArray, QByteArray>> fields{{"email", Email.toUtf8()},
                                                          {"password", Password.toUtf8()},
                                                          {"callsign", Callsign.toUtf8()},
                                                          {"api", ApplicationKey}};
    for (qsizetype i = 0; i < fields.size(); ++i) {
        QCOMPARE(parts[i].name, fields[i].first);
        QCOMPARE(parts[i].data, fields[i].second);
        QCOMPARE(parts[i].filename, QByteArray());
    }
    QCOMPARE(parts[4].name, QByteArray("file"));
    QCOMPARE(parts[4].filename, QByteArray("upload.adi"));
    QCOMPARE(parts[4].contentType, QByteArray("application/octet-stream"));
    QCOMPARE(parts[4].data, Contacts);
}

void TestManualUpload::refusedOrFailedUpload_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("reachable");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("report");
    QTest::addColumn<bool>("exchangeLogged");

    QTest::newRow("refused with 500") << 500 << QByteArray("Login failed for Q9XYZ \xE9") << true
                                      << ShortError << QStringLiteral("Login failed for Q9XYZ é") << true;
    QTest::newRow("refused without a body")
        << 404 << QByteArray() << true << ShortError << "HTTP status 404 Not Found" << true;
    QTest::newRow("nobody listening") << 200 << QByteArray() << false << LongError
                                      << "Could not reach the server: Connection refused" << false;
}

void TestManualUpload::refusedOrFailedUpload()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, reachable);
    QFETCH(QString, text);
    QFETCH(QString, report);
    QFETCH(bool, exchangeLogged);

    m_fake->setReply(Putlogs, {status, body});
    if (!reachable)
        m_fake->stopListening();
    startUpload();

    QCOMPARE(m_prompter->script.messages.size(), 1);
    const ScriptedPrompter::Message& message = m_prompter->script.messages.first();
    QCOMPARE(message.text, text);
    QCOMPARE(message.icon, Prompter::Icon::Critical);
    QCOMPARE(message.buttons, Prompter::Buttons::Ok);
    QCOMPARE(message.title, QString());
    // The box comes first; the status and the report follow once it is closed.
    QVERIFY(m_prompter->scenes[0].status != FailedStatus);
    QVERIFY(!m_prompter->scenes[0].errorLogged);
    QVERIFY(!m_prompter->scenes[0].buttonsEnabled);

    QCOMPARE(m_window->StatusPanel1->text(), FailedStatus);
    const QString errorLog = QString::fromUtf8(m_dir->read(QStringLiteral("ErrorLog.txt")));
    QVERIFY2(errorLog.contains(QStringLiteral(" - Corvane Error Message Returned\r\n =Error Report= \r\n") +
                               report + QStringLiteral("\r\n =Error Report End= \r\n\r\n")),
             qPrintable(errorLog));
    QCOMPARE(errorLog.count(QStringLiteral("----------")), 1);
    QCOMPARE(m_errors->count(), 1);
    QVERIFY(m_window->mnuError->menuAction()->isVisible());

    QCOMPARE(m_dir->exists(QStringLiteral("DebugLog.txt")), exchangeLogged);
    QVERIFY(!m_dir->read(QStringLiteral("DebugLog.txt")).contains(Password.toUtf8()));

    QCOMPARE(m_window->txtUploadADIFPathCorvane->text(), filePath());
    QCOMPARE(m_dir->read(QStringLiteral("upload.adi")), Contacts);
    QVERIFY(m_window->cmbProcessandUpload->isEnabled());
    QVERIFY(m_window->cmbBrowseforUploadADIF->isEnabled());
    checkUntouchedCount();
}

void TestManualUpload::progressReachesTheStatusPanel()
{
    QByteArray big = Contacts;
    for (int serial = 0; big.size() < 4 * 1024 * 1024; ++serial)
        big += QStringLiteral("<CALL:5>Q9XYZ <STX:%1>%2 <EOR>\r\n")
                   .arg(QString::number(serial).size())
                   .arg(serial)
                   .toLatin1();
    m_dir->write(QStringLiteral("upload.adi"), big);
    m_fake->setReply(Putlogs, {200, "OK", 100ms});

    bool disabledWhileSent = false;
    connect(m_fake.get(), &FakeCorvane::requestReceived, this, [&] {
        disabledWhileSent =
            !m_window->cmbProcessandUpload->isEnabled() && !m_window->cmbBrowseforUploadADIF->isEnabled();
        // Clicks on resting buttons start nothing.
        m_window->cmbProcessandUpload->click();
        m_window->cmbBrowseforUploadADIF->click();
    });

    m_window->cmbProcessandUpload->click();
    HttpFileUpload* upload = m_manual->activeUpload();
    QVERIFY(upload);
    QCOMPARE(m_window->StatusPanel1->text(), QStringLiteral("File Uploading!"));
    QStringList shown;
    connect(upload, &HttpFileUpload::progress, this, [&] { shown << m_window->StatusPanel1->text(); });
    QTRY_VERIFY(!m_manual->activeUpload());

    QVERIFY(disabledWhileSent);
    QCOMPARE(m_fake->requests().size(), 1);
    QVERIFY(m_prompter->script.fileDialogs.isEmpty());
    const qint64 total = m_fake->requests().first().body.size();
    QVERIFY2(shown.size() > 2, qPrintable(shown.join(QLatin1Char('\n'))));
    static const QRegularExpression form(QStringLiteral("^Uploading File (\\d+)% (\\d+)/(\\d+)$"));
    for (const QString& text : std::as_const(shown)) {
        const QRegularExpressionMatch match = form.match(text);
        QVERIFY2(match.hasMatch(), qPrintable(text));
        QCOMPARE(match.captured(3).toLongLong(), total);
        QCOMPARE(match.captured(1).toLongLong(), match.captured(2).toLongLong() * 100 / total);
    }
    QCOMPARE(shown.last(), QStringLiteral("Uploading File 100% %1/%1").arg(total));
    QVERIFY(!shown.first().startsWith(QStringLiteral("Uploading File 100%")));
    checkUntouchedCount();
}

QTEST_MAIN(TestManualUpload)
#include "tst_manualupload.moc"
