#include "FakeCorvane.h"
#include "TempDir.h"
#include "TestMain.h"
#include "WorkedContact.h"
#include "outbox/Outbox.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTest>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <csignal>
#include <pwd.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

QByteArray contact(int serial)
{
    return WorkedContact::datagramWithCall('Q' + QByteArray::number(1000 + serial));
}

// The distinct call signs the service was sent.
QSet<QString> callsSent(const FakeCorvane& service)
{
    QSet<QString> calls;
    for (const FakeCorvane::Request& request : service.requests())
        calls << FakeCorvane::formFields(request.body).value("adif").mid(8, 5);
    return calls;
}

// The built program, headless, on a data folder of its own, with short pauses.
struct Program
{
    explicit Program(const FakeCorvane& service, quint16 udpPort = freeUdpPort()) : port(udpPort)
    {
        dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(port) +
                                    "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() +
                                    "\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\n"
                                    "CorvanePassword=secret\r\n");
    }
    bool start(QProcess& process, QStringList command = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TARVEX_INTERVALS", "rebind=100,sync=20,retry=100,pause=50,longest=200,grace=300");
        environment.remove("DISPLAY");
        environment.remove("QT_QPA_PLATFORM"); // headless by itself
        process.setProcessEnvironment(environment);
        command << TARVEX << "--data-dir" << dir.path();
        process.start(command.takeFirst(), command);
        return process.waitForStarted();
    }
    bool start() { return start(tarvex); }
    // Started, and listening once this returns true.
    bool startListening()
    {
        return start() &&
               QTest::qWaitFor([this] { return output().contains("Listening on UDP port"); }, 10000);
    }
    void send(int from, int to, int gapMs = 0) const
    {
        QUdpSocket sender;
        for (int serial = from; serial <= to; ++serial) {
            sender.writeDatagram(contact(serial), QHostAddress::LocalHost, port);
            if (gapMs)
                QTest::qWait(gapMs);
        }
    }
    int waiting() const { return int(Outbox::parse(dir.read("Outbox.txt")).size()); }
    // Everything the program wrote to standard output so far.
    const QByteArray& output()
    {
        out += tarvex.readAllStandardOutput();
        return out;
    }
    bool stop(int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(tarvex.processId()), signal);
        // The service lives in this process: it must go on answering meanwhile.
        return QTest::qWaitFor([this] { return tarvex.state() == QProcess::NotRunning; }, 10000);
    }

    TempDir dir;
    quint16 port;
    QProcess tarvex;
    QByteArray out;
};

// A service that takes every request and never answers.
void makeSilent(FakeCorvane& service)
{
    service.setReply("/realtime.php", {200, "OK", 0ms, FakeCorvane::Fault::NeverAnswer});
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void aCrashLosesNothingThatArrived();
    void anOutageCatchesUpByItself();
    void aHangUpKeepsEveryDatagram();
    void oneTarvexPerDataFolder();
    void headlessWithThePortTaken();
    void programFilesStayOutOfTheProgramsFolder_data();
    void programFilesStayOutOfTheProgramsFolder();
    void headlessStartUpSaysItsHealthWithoutAPlatformPlugin();
    void aCleanExitLetsUploadsLand();
    void datagramsAreRelayedByteForByte();
    void uploadCommand_data();
    void uploadCommand();
};

void TestProgram::aCrashLosesNothingThatArrived()
{
    FakeCorvane service;
    QVERIFY(service.listen());
    makeSilent(service);
    Program program(service);
    QVERIFY(program.startListening());
    program.send(1, 12);
    QTRY_COMPARE(service.requests().size(), 4); // four in flight, eight queued
    QTRY_COMPARE(program.waiting(), 12);
    QVERIFY(program.stop(SIGKILL));

    service.setReply("/realtime.php", {});
    QVERIFY(program.start());
    QTRY_COMPARE(callsSent(service).size(), 12);
    QTRY_COMPARE(program.waiting(), 0);
    QVERIFY(!program.dir.exists("NotUploadedQsosLog.adi"));
    QVERIFY(program.stop());
    QCOMPARE(program.tarvex.exitCode(), 0);
}

void TestProgram::anOutageCatchesUpByItself()
{
    FakeCorvane service;
    QVERIFY(service.listen());
    const quint16 servicePort = service.port();
    Program program(service);
    QVERIFY(program.startListening());
    service.stopListening();
    program.send(1, 10, 20);
    QVERIFY(service.listen(servicePort));
    program.send(11, 20, 20);
    QTRY_COMPARE(callsSent(service).size(), 20);
    QTRY_COMPARE(program.waiting(), 0);
    QVERIFY(!program.dir.exists("NotUploadedQsosLog.adi"));
    const QByteArray errors = program.dir.read("ErrorLog.txt");
    QCOMPARE(errors.count("----------"), 1);
    QVERIFY(errors.contains(" - Corvane could not be reached\r\n"));
    QVERIFY(program.stop());
    QVERIFY(program.output().contains("Accepted"));
}

void TestProgram::aHangUpKeepsEveryDatagram()
{
    FakeCorvane service;
    QVERIFY(service.listen());
    makeSilent(service);
    Program program(service);
    QVERIFY(program.startListening());
    program.send(1, 300);
    QVERIFY(program.stop(SIGHUP)); // the terminal closed, with datagrams still on the socket
    QCOMPARE(program.tarvex.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.waiting(), 300);
    QVERIFY(program.tarvex.readAllStandardError().contains("300 contacts stay in the outbox"));
}

void TestProgram::oneTarvexPerDataFolder()
{
    FakeCorvane service;
    QVERIFY(service.listen());
    Program program(service);
    QVERIFY(program.start());
    QTRY_VERIFY(program.dir.exists("Tarvex.lock"));
    QTRY_VERIFY(program.dir.read("Tarvex.ini").contains("AutoUploadEnabled=True"));
    const QStringList files = QDir(program.dir.path()).entryList(QDir::Files);
    const QByteArray ini = program.dir.read("Tarvex.ini");

    QProcess second;
    QVERIFY(program.start(second));
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 3);
    QVERIFY(second.readAllStandardError().contains("Tarvex is already running (process " +
                                                   QByteArray::number(program.tarvex.processId())));
    QCOMPARE(QDir(program.dir.path()).entryList(QDir::Files), files);
    QCOMPARE(program.dir.read("Tarvex.ini"), ini);
    QVERIFY(program.stop());
}

void TestProgram::headlessWithThePortTaken()
{
    FakeCorvane service;
    QVERIFY(service.listen());
    auto* other = new QUdpSocket;
    QVERIFY(other->bind(QHostAddress::AnyIPv4, 0));
    Program program(service, other->localPort());
    QVERIFY(program.start());
    QByteArray out;
    QByteArray err;
    QTRY_VERIFY((out += program.tarvex.readAllStandardOutput()).contains("Not listening: "));
    QTRY_VERIFY((err += program.tarvex.readAllStandardError()).contains("Failure: Error occured: "));
    QVERIFY(err.contains("No display found: Tarvex runs headless"));
    delete other;
    QTRY_VERIFY((out += program.tarvex.readAllStandardOutput())
                    .contains("Listening on UDP port " + QByteArray::number(program.port)));
    program.send(1, 1);
    QTRY_COMPARE(callsSent(service).size(), 1);
    QVERIFY(program.stop());
}

void TestProgram::programFilesStayOutOfTheProgramsFolder_data()
{
    QTest::addColumn<bool>("installed"); // else a folder the program cannot write to
    QTest::newRow("installed copy, even for root") << true;
    QTest::newRow("read-only program folder") << false;
}

// Settings and logs go to the per-user data folder, never beside the program.
void TestProgram::programFilesStayOutOfTheProgramsFolder()
{
    QFETCH(bool, installed);
    QStringList command;
    uid_t uid = ::geteuid();
    gid_t gid = ::getegid();
    if (!installed && uid == 0) {
        // Root writes through any permission bits, so the program runs as nobody.
        const passwd* nobody = ::getpwnam("nobody");
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (!nobody || setpriv.isEmpty())
            QSKIP("running as root without setpriv or a 'nobody' user");
        uid = nobody->pw_uid;
        gid = nobody->pw_gid;
        command = {setpriv, QStringLiteral("--reuid=%1").arg(uid), QStringLiteral("--regid=%1").arg(gid),
                   "--clear-groups", "--"};
    }
    TempDir root;
    QVERIFY(QDir(root.path()).mkpath("usr/bin") && QDir(root.path()).mkpath("usr/share/applications"));
    QVERIFY(QFile::copy(TARVEX, root.file("usr/bin/tarvex")));
    if (installed)
        root.write("usr/share/applications/tarvex.desktop", "[Desktop Entry]\n");
    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther |
                          QFileDevice::ExeOther | QFileDevice::ReadGroup | QFileDevice::ExeGroup;
    if (!installed)
        QVERIFY(QFile::setPermissions(root.file("usr/bin"), readOnly));
    QVERIFY(QFile::setPermissions(root.path(), readOnly | QFileDevice::WriteOwner));
    // A port of its own: 12060 may be in use by a test running beside this one.
    QVERIFY(QDir(root.path()).mkpath("data/Tarvex"));
    root.write("data/Tarvex/Tarvex.ini",
               "[Settings]\r\nUDPPort=" + QByteArray::number(freeUdpPort()) + "\r\n");
    for (const char* path : {"data", "data/Tarvex", "data/Tarvex/Tarvex.ini"})
        QCOMPARE(::chown(QFile::encodeName(root.file(path)).constData(), uid, gid), 0);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", root.file("data"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.remove("XDG_RUNTIME_DIR");
    QProcess tarvex;
    tarvex.setProcessEnvironment(environment);
    command << root.file("usr/bin/tarvex");
    tarvex.start(command.takeFirst(), command);
    QVERIFY(tarvex.waitForStarted());
    QTRY_VERIFY(root.read("data/Tarvex/Tarvex.ini").contains("Version="));
    ::kill(static_cast<pid_t>(tarvex.processId()), SIGTERM);
    QVERIFY(tarvex.waitForFinished(10000));
    QCOMPARE(QDir(root.file("usr/bin")).entryList(QDir::Files | QDir::Hidden), QStringList{"tarvex"});
    QFile::setPermissions(root.file("usr/bin"), readOnly | QFileDevice::WriteOwner); // for the clean-up
}

void TestProgram::headlessStartUpSaysItsHealthWithoutAPlatformPlugin()
{
    FakeCorvane service;
    Program program(service);
    program.dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(program.port) +
                                        "\r\nCorvaneHost=htp://example.org\r\n");
    QProcess& tarvex = program.tarvex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "no-such-platform"); // loading any would end the program
    tarvex.setProcessEnvironment(environment);
    tarvex.start(TARVEX, {"--headless", "--data-dir", program.dir.path()});
    QTRY_VERIFY(program.output().contains("Listening on UDP port"));
    const QString out = QString::fromUtf8(program.output());
    QVERIFY2(out.contains("Tarvex 1.0.0 with the data folder " + program.dir.path()) &&
                 out.contains("The CorvaneHost setting \"htp://example.org\" is not a usable address") &&
                 out.contains("The Corvane login is not set: contacts wait until CorvaneEmailAddress, CorvaneCallsign "
                              "and CorvanePassword are set in " +
                              program.dir.file("Tarvex.ini")),
             qPrintable(out));
    QVERIFY(program.stop());
    QCOMPARE(tarvex.exitCode(), 0);
}

void TestProgram::aCleanExitLetsUploadsLand()
{
    FakeCorvane service;
    QVERIFY(service.listen());
    service.setReply("/realtime.php", {200, "OK", 150ms});
    Program program(service);
    QVERIFY(program.startListening());
    program.send(1, 4);
    QTRY_COMPARE(service.requests().size(), 4);
    QVERIFY(program.stop());
    QCOMPARE(program.waiting(), 0); // their verdicts came before the end: nothing is sent twice
    const QByteArray said = program.tarvex.readAllStandardError();
    QVERIFY2(!said.contains("stay in the outbox"), said.constData());
}

void TestProgram::datagramsAreRelayedByteForByte()
{
    FakeCorvane service;
    QVERIFY(service.listen());
    QUdpSocket listener;
    QVERIFY(listener.bind(QHostAddress::LocalHost, 0));
    Program program(service);
    program.dir.write("Tarvex.ini", program.dir.read("Tarvex.ini") + "RelayTo=localhost:" +
                                        QByteArray::number(listener.localPort()) + "\r\n");
    QVERIFY(program.startListening());
    QTRY_VERIFY(program.output().contains("Relaying datagrams to localhost:" + QByteArray::number(listener.localPort())));
    const QList<QByteArray> sent{contact(1), QByteArray("not a contact \x00\xff", 17), contact(2)};
    QUdpSocket sender;
    for (const QByteArray& datagram : sent)
        sender.writeDatagram(datagram, QHostAddress::LocalHost, program.port);
    QList<QByteArray> relayed;
    QTRY_VERIFY2((listener.hasPendingDatagrams() && (relayed << listener.receiveDatagram().data(), true),
                  relayed.size() == 3), qPrintable(QString::number(relayed.size()) + program.output()));
    QCOMPARE(relayed, sent);
    QTRY_COMPARE(callsSent(service).size(), 2); // and read as before
    QVERIFY(program.stop());
}

void TestProgram::uploadCommand_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status"); // of the service; 0: nobody listening
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<bool>("kept");
    const QByteArray log = "<CALL:5>Q9XYZ <eor>\r\n";
    QTest::newRow("accepted") << log << QStringList() << 200 << QByteArray("OK: 1 QSO") << 0 << true;
    QTest::newRow("accepted and deleted") << log << QStringList{"--delete-after-upload"} << 200
                                          << QByteArray("OK: 1 QSO") << 0 << false;
    QTest::newRow("200 without an accepting word keeps the file")
        << log << QStringList{"--delete-after-upload"} << 200 << QByteArray("Queued") << 0 << true;
    QTest::newRow("refused") << log << QStringList{"--delete-after-upload"} << 500 << QByteArray("Login failed") << 1
                             << true;
    QTest::newRow("no records") << QByteArray("hello") << QStringList() << 200 << QByteArray("OK") << 2 << true;
    QTest::newRow("no records, forced") << QByteArray("hello") << QStringList{"--force"} << 200 << QByteArray("OK") << 0
                                        << true;
    QTest::newRow("nobody listening") << log << QStringList() << 0 << QByteArray() << 4 << true;
}

// Beside a running Tarvex on the same folder, which it neither locks nor changes.
void TestProgram::uploadCommand()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    FakeCorvane service;
    QVERIFY(service.listen());
    service.setReply("/putlogs.php", {status, reply});
    if (status == 0)
        service.stopListening();
    Program program(service);
    QVERIFY(program.startListening());
    program.dir.write("upload.adi", file);
    QTRY_VERIFY(program.dir.read("Tarvex.ini").contains("AutoUploadEnabled=True"));
    const QByteArray ini = program.dir.read("Tarvex.ini");
    QProcess upload;
    upload.setProcessEnvironment(program.tarvex.processEnvironment());
    upload.start(TARVEX, QStringList{"--upload", program.dir.file("upload.adi"), "--data-dir", program.dir.path()} + options);
    QVERIFY(QTest::qWaitFor([&upload] { return upload.state() == QProcess::NotRunning; }, 10000));
    QTEST(upload.exitCode(), "exitCode");
    QTEST(program.dir.exists("upload.adi"), "kept");
    QCOMPARE(program.dir.read("Tarvex.ini"), ini);
    QFETCH(int, exitCode);
    if (exitCode == 2)
        QVERIFY(service.requests().isEmpty());
    else if (status) { // the window's request, with the folder's login
        const FakeCorvane::Request& request = service.requests().last();
        QCOMPARE(request.path, QStringLiteral("/putlogs.php"));
        const QList<FakeCorvane::Part> parts = FakeCorvane::multipartParts(request.body, request.header("Content-Type"));
        QVERIFY(parts.size() == 5 && parts[1].data == "secret" && parts[4].data == file);
    }
    if (status == 200 || exitCode == 2)
        QVERIFY(upload.readAllStandardOutput().startsWith(exitCode == 2 ? QByteArray() : reply));
    if (exitCode == 1 || exitCode == 4)
        QTRY_VERIFY(program.dir.read("ErrorLog.txt").contains("Corvane Error Message Returned"));
    QVERIFY(program.stop());
}

TARVEX_TEST(TestProgram)
#include "tst_program.moc"
