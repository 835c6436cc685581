#include "FakeCorvane.h"
#include "TempDir.h"
#include "TestMain.h"
#include "settings/LoginSource.h"

#include <qt6keychain/keychain.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTest>

// Runs in a D-Bus session with a Secret Service of its own (keyring-session.sh);
// noKeyringAnswers runs where no session bus is.
class TestKeyring : public QObject
{
    Q_OBJECT

private slots:
    void thePasswordMovesToTheKeyringAndBack();
    void noKeyringAnswers();

private:
    Settings settings() const { return {m_dir.file("Tarvex.ini"), m_dir.file("DebugLog.txt")}; }
    TempDir m_dir;
};

void TestKeyring::thePasswordMovesToTheKeyringAndBack()
{
    m_dir.write("Tarvex.ini", "[Settings]\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\n"
                              "CorvanePassword=s3cret\r\n");
    LoginSource login(settings());
    login.load();
    QSignalSpy moved(&login, &LoginSource::keyringChanged);
    login.keepInKeyring(true);
    QTRY_COMPARE(moved.size(), 1);
    QVERIFY(m_dir.read("Tarvex.ini").contains("CorvanePassword=" + LoginSource::Marker.toUtf8() + "\r\n"));

    // The next start: the marker counts as not set until the keyring answers.
    LoginSource next(settings());
    QSignalSpy changed(&next, &LoginSource::changed);
    next.load();
    QCOMPARE(next.current().password, QStringLiteral("Not Set"));
    QTRY_COMPARE(next.current().password, QStringLiteral("s3cret"));
    // Typing goes to the keyring once committed, never to the file.
    next.edit(SettingKey::Password, "n");
    next.commit({"op@example.org", "new", "Q9ABC"});
    QVERIFY(!m_dir.read("Tarvex.ini").contains("CorvanePassword=n"));
    QTRY_VERIFY(next.findChildren<QKeychain::Job*>().isEmpty()); // each job deletes itself once answered
    LoginSource third(settings());
    third.load();
    QTRY_COMPARE(third.current().password, QStringLiteral("new"));

    // The built program reads it too: an upload without a window sends it.
    FakeCorvane service;
    QVERIFY(service.listen());
    m_dir.write("Tarvex.ini",
                m_dir.read("Tarvex.ini") + "CorvaneHost=" + service.baseUrl().toString().toUtf8() + "\r\n");
    m_dir.write("log.adi", "<CALL:5>Q9XYZ <EOR>\r\n");
    QProcess upload;
    upload.start(TARVEX, {"--upload", m_dir.file("log.adi"), "--data-dir", m_dir.path()});
    QVERIFY(QTest::qWaitFor([&upload] { return upload.state() == QProcess::NotRunning; }, 15000));
    QCOMPARE(upload.exitCode(), 0);
    const FakeCorvane::Request& request = service.requests().value(0);
    QCOMPARE(FakeCorvane::multipartParts(request.body, request.header("Content-Type")).value(1).data,
             QByteArray("new"));

    third.keepInKeyring(false);
    QVERIFY(m_dir.read("Tarvex.ini").contains("CorvanePassword=new\r\n"));
    QVERIFY(!third.inKeyring());
}

void TestKeyring::noKeyringAnswers()
{
    m_dir.write("Tarvex.ini", "[Settings]\r\nCorvanePassword=" + LoginSource::Marker.toUtf8() + "\r\n");
    LoginSource login(settings());
    QSignalSpy problems(&login, &LoginSource::problem);
    login.load();
    QTRY_COMPARE(problems.size(), 1);
    QVERIFY(problems[0][0].toString().startsWith("The desktop keyring did not answer"));
    QCOMPARE(login.current().password, QStringLiteral("Not Set")); // never the marker
}

TARVEX_TEST(TestKeyring)
#include "tst_keyring.moc"
