#include "FakeCorvane.h"
#include "TempDir.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUdpSocket>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

namespace {

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

QByteArray settingsFor(quint16 port, const QUrl& service)
{
    return "[Settings]\r\nUDPPort=" + QByteArray::number(port) +
           "\r\nCorvaneHost=" + service.toString().toUtf8() + "\r\n";
}

// The built program, offscreen; `command` may put a launcher before it.
bool start(QProcess& process, QStringList command,
           QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
{
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(command.takeFirst(), command);
    return process.waitForStarted();
}

// As at logout: the program must close its window and end normally.
bool terminate(QProcess& process)
{
    ::kill(static_cast<pid_t>(process.processId()), SIGTERM);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit;
}

// The fake-corvane tool; its first line names the address it listens on.
QUrl startService(QProcess& service, const QStringList& arguments)
{
    service.start(FAKE_CORVANE, arguments);
    if (!service.waitForStarted() || !service.waitForReadyRead(10000))
        return {};
    const QByteArray line = service.readLine().trimmed();
    return QUrl(QString::fromUtf8(line.mid(line.indexOf("http"))));
}

bool sendContacts(quint16 port, int count)
{
    QProcess sender;
    sender.start(SEND_CONTACT,
                 {"--port", QString::number(port), "--count", QString::number(count), "--gap", "20"});
    return sender.waitForFinished(10000) && sender.exitCode() == 0;
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void contactsAreUploadedRefusedAndKeptOnExit();
    void readOnlyProgramDirectoryUsesTheDataFolder();
};

// Between the real tools: send-contact plays the logger, fake-corvane the service.
void TestProgram::contactsAreUploadedRefusedAndKeptOnExit()
{
    TempDir dir;
    QVERIFY(QFile::copy(TARVEX, dir.file("tarvex")));
    QProcess service;
    const QUrl serviceUrl = startService(service, {"--port", "0"});
    QVERIFY(serviceUrl.port() > 0);
    const quint16 port = freeUdpPort();
    dir.write("Tarvex.ini", settingsFor(port, serviceUrl) + "CorvaneCallsign=Q9ABC\r\n");
    QProcess tarvex;
    QVERIFY(start(tarvex, {dir.file("tarvex")}));
    QTRY_VERIFY_WITH_TIMEOUT(dir.read("Tarvex.ini").contains("Version="), 10000);

    QVERIFY(sendContacts(port, 3));
    QTRY_VERIFY_WITH_TIMEOUT(dir.read("Tarvex.ini").contains("TotalRecordsUploaded=3\r\n"), 10000);
    QByteArray requests; // the fake's output may still be in the pipe
    QTRY_COMPARE_WITH_TIMEOUT((requests += service.readAll()).count("POST /realtime.php"), 3, 10000);
    QVERIFY(requests.contains("callsign=Q9ABC"));
    QVERIFY(requests.contains("<CALL:5>Q9XYZ <RST_RCVD:3>579 "));

    // The service goes away: the contact is reported and kept.
    service.kill();
    service.waitForFinished();
    QVERIFY(sendContacts(port, 1));
    QTRY_VERIFY_WITH_TIMEOUT(dir.exists("NotUploadedQsosLog.adi"), 10000);
    QVERIFY(dir.read("ErrorLog.txt").contains("Could not reach the log service"));

    // A slow service and a logout: the contact in flight is kept before the program ends.
    const int keptBefore = dir.read("NotUploadedQsosLog.adi").count("<EOR>");
    QProcess slowService;
    QVERIFY(startService(slowService, {"--port", QString::number(serviceUrl.port()), "--delay", "20000"})
                .isValid());
    QVERIFY(sendContacts(port, 1));
    QByteArray slowOutput;
    QTRY_VERIFY_WITH_TIMEOUT((slowOutput += slowService.readAll()).contains("POST /realtime.php"), 10000);
    QVERIFY(terminate(tarvex));
    QCOMPARE(dir.read("NotUploadedQsosLog.adi").count("<EOR>"), keptBefore + 1);
    slowService.kill();
    slowService.waitForFinished();
}

// An installed copy cannot write next to itself, so settings and logs go to the user's data folder.
void TestProgram::readOnlyProgramDirectoryUsesTheDataFolder()
{
    // Root writes through any permission bits, so as root the program runs as nobody.
    QStringList command;
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (uid == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (!nobody || setpriv.isEmpty())
            QSKIP("running as root without setpriv or a 'nobody' user: cannot make a directory read-only for "
                  "the program");
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        command = {setpriv, QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                   "--clear-groups", "--"};
    }

    TempDir root;
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                          QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::ExeOther;
    QVERIFY(QFile::setPermissions(root.path(), readOnly | QFileDevice::WriteOwner));
    QVERIFY(QDir(root.path()).mkpath("app") && QDir(root.path()).mkpath("home/data/Tarvex"));
    QVERIFY(QFile::copy(TARVEX, root.file("app/tarvex")));
    QVERIFY(QFile::setPermissions(root.file("app"), readOnly));

    FakeCorvane service;
    QVERIFY(service.listen());
    service.setReply("/realtime.php", {500, "Internal Server Error"});
    const quint16 port = freeUdpPort();
    root.write("home/data/Tarvex/Tarvex.ini", settingsFor(port, service.baseUrl()));
    for (const char* path : {"home", "home/data", "home/data/Tarvex", "home/data/Tarvex/Tarvex.ini"})
        QCOMPARE(::chown(QFile::encodeName(root.file(path)).constData(), uid, gid), 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", root.file("home"));
    environment.insert("XDG_DATA_HOME", root.file("home/data"));
    environment.remove("XDG_RUNTIME_DIR");
    QProcess tarvex;
    QVERIFY(start(tarvex, command << root.file("app/tarvex"), environment));
    QTRY_VERIFY_WITH_TIMEOUT(root.read("home/data/Tarvex/Tarvex.ini").contains("Version="), 10000);

    QUdpSocket sender;
    sender.writeDatagram("<contactinfo><call>Q9RO</call></contactinfo>", QHostAddress::LocalHost, port);
    QTRY_VERIFY_WITH_TIMEOUT(root.read("home/data/Tarvex/NotUploadedQsosLog.adi").contains("<CALL:4>Q9RO "),
                             10000);
    QVERIFY(root.read("home/data/Tarvex/ErrorLog.txt").contains("HTTP status 500 from the log service"));
    QCOMPARE(service.requests().size(), 1);
    QVERIFY(terminate(tarvex));
    QCOMPARE(QDir(root.file("app")).entryList(QDir::Files | QDir::Hidden), QStringList{"tarvex"});
    QFile::setPermissions(root.file("app"), readOnly | QFileDevice::WriteOwner); // for the clean-up
}

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
