#include "TempDir.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <QUdpSocket>

#include <csignal>

// The built program, copied into a fresh directory, between the real tools:
// send-contact plays the logger and fake-corvane the log service.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void contactsAreUploadedRefusedAndKeptOnExit();

private:
    static QUrl startService(QProcess& service, const QStringList& arguments);
    static void sendContacts(quint16 port, int count);
};

QUrl TestEndToEnd::startService(QProcess& service, const QStringList& arguments)
{
    service.start(QStringLiteral(FAKE_CORVANE), arguments);
    if (!service.waitForStarted() || !service.waitForReadyRead(10000))
        return {};
    const QByteArray line = service.readLine().trimmed();
    return QUrl(QString::fromUtf8(line.mid(line.indexOf("http"))));
}

void TestEndToEnd::sendContacts(quint16 port, int count)
{
    QProcess sender;
    sender.start(QStringLiteral(SEND_CONTACT),
                 {"--port", QString::number(port), "--count", QString::number(count), "--gap", "20"});
    QVERIFY(sender.waitForFinished(10000));
    QCOMPARE(sender.exitCode(), 0);
}

void TestEndToEnd::contactsAreUploadedRefusedAndKeptOnExit()
{
#ifndef Q_OS_UNIX
    QSKIP("uses SIGTERM");
#else
    TempDir dir;
    const QString program = dir.file(QStringLiteral("tarvex"));
    QVERIFY(QFile::copy(QStringLiteral(TARVEX), program));

    QProcess service;
    const QUrl serviceUrl = startService(service, {"--port", "0"});
    QVERIFY(serviceUrl.isValid() && serviceUrl.port() > 0);

    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    const quint16 udpPort = probe.localPort();
    probe.close();
    dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(udpPort) + "\r\nCorvaneHost="
                                + serviceUrl.toString().toUtf8() + "\r\nCorvaneCallsign=Q9ABC\r\n");

    QProcess tarvex;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    tarvex.setProcessEnvironment(environment);
    tarvex.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tarvex.start(program, {});
    QVERIFY(tarvex.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(dir.read("Tarvex.ini").contains("Version="), 10000);

    // Three contacts accepted: the program counts and stores them.
    sendContacts(udpPort, 3);
    QTRY_VERIFY_WITH_TIMEOUT(dir.read("Tarvex.ini").contains("TotalRecordsUploaded=3\r\n"), 10000);
    // The fake's output may still be on its way through the pipe.
    QByteArray requests;
    QTRY_COMPARE_WITH_TIMEOUT((requests += service.readAll()).count("POST /realtime.php"), 3, 10000);
    QVERIFY(requests.contains("callsign=Q9ABC"));
    QVERIFY(requests.contains("<CALL:5>Q9XYZ <RST_RCVD:3>579 "));

    // The service goes away: the contact is reported and kept.
    service.kill();
    service.waitForFinished();
    sendContacts(udpPort, 1);
    QTRY_VERIFY_WITH_TIMEOUT(dir.exists("NotUploadedQsosLog.adi"), 10000);
    QVERIFY(dir.read("ErrorLog.txt").contains("Could not reach the log service"));

    // A slow service and a logout: the contact in flight is kept before the program ends.
    const QByteArray keptBefore = dir.read("NotUploadedQsosLog.adi");
    QProcess slowService;
    const QUrl slowUrl = startService(slowService, {"--port", QString::number(serviceUrl.port()), "--delay", "20000"});
    QVERIFY(slowUrl.isValid());
    sendContacts(udpPort, 1);
    QByteArray slowOutput;
    QTRY_VERIFY_WITH_TIMEOUT((slowOutput += slowService.readAll()).contains("POST /realtime.php"), 10000);
    ::kill(static_cast<pid_t>(tarvex.processId()), SIGTERM);
    QVERIFY(tarvex.waitForFinished(10000));
    QCOMPARE(tarvex.exitStatus(), QProcess::NormalExit);
    const QByteArray keptAfter = dir.read("NotUploadedQsosLog.adi");
    QCOMPARE(keptAfter.count("<EOR>"), keptBefore.count("<EOR>") + 1);
    slowService.kill();
    slowService.waitForFinished();
#endif
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
