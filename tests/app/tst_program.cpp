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
#include <QTest>
#include <QNetworkDatagram>
#include <QUdpSocket>

#include <csignal>
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
    // `settings` replace the login and the service's address.
    explicit Program(const FakeCorvane& service, quint16 udpPort = freeUdpPort(), QByteArray settings = {})
        : port(udpPort)
    {
        if (settings.isEmpty())
            settings = "CorvaneHost=" + service.baseUrl().toString().toUtf8() +
                       "\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\nCorvanePassword=secret\r\n";
        dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(port) + "\r\n" + settings);
    }
    bool start(QProcess& process, QStringList arguments = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("TARVEX_INTERVALS", "rebind=100,sync=20,retry=100,pause=50,longest=200,grace=300");
        environment.remove("DISPLAY");
        if (!display.isEmpty())
            environment.insert("DISPLAY", display);
        // Headless by itself; loading any platform plugin would end it.
        environment.insert("QT_QPA_PLATFORM", "no-such-platform");
        process.setProcessEnvironment(environment);
        process.start(TARVEX, arguments << "--data-dir" << dir.path());
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
    QString display; // none by default
};


} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void nothingThatArrivedIsLost_data();
    void nothingThatArrivedIsLost();
    void anOutageCatchesUpByItself();
    void aCleanExitLetsUploadsLand();
    void oneTarvexPerDataFolder();
    void headlessStartUpSaysItsHealth();
    void anInstalledCopyUsesTheUsersFolder();
    void datagramsAreRelayedByteForByte();
    void uploadCommand_data();
    void uploadCommand();
};

void TestProgram::nothingThatArrivedIsLost_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("contacts");
    QTest::newRow("a crash with four on their way") << int(SIGKILL) << 12;
    QTest::newRow("a hang-up with datagrams still on the socket") << int(SIGHUP) << 300;
}

// Against a service that never answers, then at the next start one that does.
void TestProgram::nothingThatArrivedIsLost()
{
    QFETCH(int, signal);
    QFETCH(int, contacts);
    FakeCorvane service;
    QVERIFY(service.listen());
    service.setReply("/realtime.php", {200, "OK", 0ms, FakeCorvane::Fault::NeverAnswer});
    Program program(service);
    QVERIFY(program.startListening());
    program.send(1, contacts);
    if (signal == SIGKILL)
        QTRY_COMPARE(program.waiting(), contacts);
    QVERIFY(program.stop(signal));
    QCOMPARE(program.waiting(), contacts);
    if (signal != SIGKILL)
        QVERIFY(program.tarvex.readAllStandardError().contains(QByteArray::number(contacts) + " contacts stay in the outbox"));

    service.setReply("/realtime.php", {});
    QVERIFY(program.start());
    QTRY_COMPARE(callsSent(service).size(), contacts);
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
    QVERIFY2(program.output().contains("Accepted 4 contacts"), program.output().constData());
}

void TestProgram::oneTarvexPerDataFolder()
{
    FakeCorvane service;
    Program program(service);
    QVERIFY(program.startListening());
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

// Before any contact, with the port taken, the login not set and no usable host.
void TestProgram::headlessStartUpSaysItsHealth()
{
    FakeCorvane service;
    auto* other = new QUdpSocket;
    QVERIFY(other->bind(QHostAddress::AnyIPv4, 0));
    Program program(service, other->localPort(), "CorvaneHost=htp://example.org\r\n");
    program.display = ":93"; // named, but no such display
    QVERIFY(program.start());
    QByteArray err;
    QTRY_VERIFY((err += program.tarvex.readAllStandardError()).contains("Failure: Error occured: "));
    QVERIFY2(err.contains("The display :93 cannot be opened: Tarvex runs headless"), err.constData());
    QTRY_VERIFY(program.output().contains("Not listening: UDP port"));
    delete other;
    QTRY_VERIFY(program.output().contains("Listening on UDP port " + QByteArray::number(program.port)));
    const QString out = QString::fromUtf8(program.output());
    QVERIFY2(out.contains("Tarvex 1.0.0 with the data folder " + program.dir.path()) &&
                 out.contains("The CorvaneHost setting \"htp://example.org\" is not a usable address") &&
                 out.contains("The Corvane login is not set: contacts wait until CorvaneEmailAddress, CorvaneCallsign "
                              "and CorvanePassword are set in " + program.dir.file("Tarvex.ini")),
             qPrintable(out));
    QVERIFY(program.stop());
    QCOMPARE(program.tarvex.exitCode(), 0);
}

// An installed copy keeps its settings and logs in the per-user data folder,
// never beside the program, even run as root.
void TestProgram::anInstalledCopyUsesTheUsersFolder()
{
    TempDir root;
    QVERIFY(QDir(root.path()).mkpath("usr/bin") && QDir(root.path()).mkpath("usr/share/applications"));
    QVERIFY(QFile::copy(TARVEX, root.file("usr/bin/tarvex")));
    root.write("usr/share/applications/tarvex.desktop", "[Desktop Entry]\n");
    // A port of its own: 12060 may be in use by a test running beside this one.
    QVERIFY(QDir(root.path()).mkpath("data/Tarvex"));
    root.write("data/Tarvex/Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(freeUdpPort()) + "\r\n");
    QProcess tarvex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_DATA_HOME", root.file("data"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    tarvex.setProcessEnvironment(environment);
    tarvex.start(root.file("usr/bin/tarvex"), {});
    QTRY_VERIFY(root.read("data/Tarvex/Tarvex.ini").contains("Version="));
    ::kill(static_cast<pid_t>(tarvex.processId()), SIGTERM);
    QVERIFY(tarvex.waitForFinished(10000));
    QCOMPARE(QDir(root.file("usr/bin")).entryList(QDir::Files | QDir::Hidden), QStringList{"tarvex"});
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
    QTRY_VERIFY((listener.hasPendingDatagrams() && (relayed << listener.receiveDatagram().data(), true),
                 relayed.size() == 3));
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
    QVERIFY(program.start(upload, QStringList{"--upload", program.dir.file("upload.adi")} + options));
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
