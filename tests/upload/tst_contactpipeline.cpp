#include "FakeCorvane.h"
#include "TempDir.h"
#include "logs/DebugTrace.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeUploader.h"
#include "upload/ServiceAddress.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <limits>
#include <memory>

using namespace std::chrono_literals;

namespace {

const QByteArray WorkedExample =
    "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq><rxfreq>1420012</rxfreq>"
    "<mode>CW</mode><call>Q9XYZ</call><snt>599</snt><rcv>579</rcv><sntnr>12</sntnr><rcvnr>345</rcvnr>"
    "<exchange1>14</exchange1><wpxprefix>Q9</wpxprefix><extra>1</extra></contactinfo>";

const QString WorkedRecord = QStringLiteral(
    "<CALL:5>Q9XYZ <RST_RCVD:3>579 <RST_SENT:3>599 <FREQ:8>14.20012 <BAND:3>20M <MODE:2>CW "
    "<QSO_DATE:8>20111126 <TIME_ON:6>140533 <STX:2>12 <SRX:3>345 <SRX_STRING:2>14 <PFX:2>Q9 "
    "<TX_PWR:2>-1 <FREQ_RX:8>14.20012 <EOR>");

QByteArray contactWithCall(const QByteArray& call)
{
    QByteArray datagram = WorkedExample;
    return datagram.replace("Q9XYZ", call);
}

// One pipeline wired to a fake service in a throw-away application directory.
struct Station
{
    explicit Station(const QString& errorLog = {}, const QString& nonUploaded = {})
        : paths(dir.path())
        , settings(paths.settingsFile(), paths.debugLog())
        , uploader(&network)
        , pipeline(settings, errorLog.isEmpty() ? paths.errorLog() : errorLog,
                   nonUploaded.isEmpty() ? paths.nonUploaded() : nonUploaded, uploader)
        , statuses(&pipeline, &ContactPipeline::statusChanged)
        , errors(&pipeline, &ContactPipeline::errorReported)
    {
        settings.CheckforInIfile();
        if (!service.listen())
            qFatal("fake service did not start");
        uploader.setEndpoint(serviceUrl(service.baseUrl(), QStringLiteral("/realtime.php")));
        uploader.setTimeout(2s);
        pipeline.setCredentials({"op@example.org", "p&ss=w+rd", "Q9ABC"});
        pipeline.setAutoUpload(true);
    }

    QStringList statusTexts() const
    {
        QStringList texts;
        for (const QList<QVariant>& signal : statuses)
            texts << signal[0].toString();
        return texts;
    }

    TempDir dir;
    AppPaths paths;
    Settings settings;
    FakeCorvane service;
    QNetworkAccessManager network;
    RealtimeUploader uploader;
    ContactPipeline pipeline;
    QSignalSpy statuses;
    QSignalSpy errors;
};

} // namespace

class TestContactPipeline : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { DebugTrace::setEnabled(false); }

    void acceptedContactIsCountedAndStored();
    void rejectedContactIsReportedAndKept_data();
    void rejectedContactIsReportedAndKept();
    void contactThatCannotBeKeptIsAnnounced();
    void datagramsDuringAnUploadStaySeparate();
    void closingKeepsUnfinishedContacts();
    void withoutAutoUploadNothingIsSent();
    void datagramWithoutGateWordIsOnlyShown();
    void debugEntriesComeInTheOrderOfTheRoad();
    void countStopsAtItsLargestValue();
    void countOfABurstIsStoredSoonAndOnClosing();
};

void TestContactPipeline::acceptedContactIsCountedAndStored()
{
    Station station;
    station.pipeline.setUploadedCount(41);
    QSignalSpy shown(&station.pipeline, &ContactPipeline::datagramShown);
    QSignalSpy counted(&station.pipeline, &ContactPipeline::uploadedCountChanged);

    station.pipeline.handleDatagram(WorkedExample);
    QVERIFY(station.pipeline.CurrentRecord().isEmpty());
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0][0].toString(), QString::fromLatin1(WorkedExample));

    QTRY_COMPARE(counted.size(), 1);
    QCOMPARE(counted[0][0].toInt(), 42);
    QCOMPARE(station.statusTexts(),
             QStringList({"", "Uploading Data to Corvane", "Uploading Data Complete."}));
    QCOMPARE(station.settings.GetSettings("TotalRecordsUploaded", "0"), QStringLiteral("42"));

    QCOMPARE(station.service.requests().size(), 1);
    const FakeCorvane::Request& request = station.service.requests()[0];
    QCOMPARE(request.method, QStringLiteral("POST"));
    QCOMPARE(request.path, QStringLiteral("/realtime.php"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QVERIFY(request.body.startsWith("email=op%40example.org&password=p%26ss%3Dw%2Brd&callsign=Q9ABC&api="
                                    "7d41c9a0be3358f2a6e0d17c4b92f85e306aa1cd&adif="));
    const QMap<QString, QString> fields = FakeCorvane::formFields(request.body);
    QCOMPARE(fields.value("password"), QStringLiteral("p&ss=w+rd"));
    QCOMPARE(fields.value("adif"), WorkedRecord);
    QVERIFY(!station.dir.exists("ErrorLog.txt"));
    QVERIFY(!station.dir.exists("NotUploadedQsosLog.adi"));
}

void TestContactPipeline::rejectedContactIsReportedAndKept_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("refuse");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("service says no") << 200 << QByteArray("Invalid login") << false << "Invalid login";
    QTest::newRow("lower-case ok") << 200 << QByteArray("ok") << false << "ok";
    QTest::newRow("empty reply") << 200 << QByteArray() << false << "";
    QTest::newRow("error page") << 503 << QByteArray("BOOKING closed") << false
                                << "HTTP status 503 from the log service";
    QTest::newRow("service down") << 200 << QByteArray("OK") << true << "Could not reach the log service";
}

void TestContactPipeline::rejectedContactIsReportedAndKept()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(bool, refuse);
    QFETCH(QString, firstLine);

    Station station;
    station.service.setReply("/realtime.php", {status, reply});
    if (refuse)
        station.service.stopListening();
    QSignalSpy counted(&station.pipeline, &ContactPipeline::uploadedCountChanged);

    station.pipeline.handleDatagram(WorkedExample);
    QTRY_COMPARE(station.errors.size(), 1);
    QCOMPARE(station.statusTexts().last(), QStringLiteral("Uploading Data Returned Error's"));
    QCOMPARE(counted.size(), 0);

    const QString log = QString::fromUtf8(station.dir.read("ErrorLog.txt"));
    const QString report = log.section(QStringLiteral(" =Error Report= \r\n"), 1).section(" =Error Report End= ", 0, 0);
    const QStringList lines = report.split(QStringLiteral("\r\n"));
    QVERIFY2(lines[0].startsWith(firstLine), qPrintable(report));
    QVERIFY(log.contains(QStringLiteral(" - Corvane Error Message Returned\r\n")));
    // The body as sent, but never the password in clear; then the record on its own line.
    QVERIFY2(report.contains(QStringLiteral("Sent Data= email=op%40example.org&password=********&callsign=Q9ABC&api=")),
             qPrintable(report));
    QVERIFY(!log.contains(QStringLiteral("p%26ss")));
    QCOMPARE(lines[lines.size() - 2], WorkedRecord);

    QVERIFY(station.dir.read("NotUploadedQsosLog.adi").endsWith(WorkedRecord.toUtf8() + "\r\n"));
}

void TestContactPipeline::contactThatCannotBeKeptIsAnnounced()
{
    Station station({}, QStringLiteral("/nonexistent-dir/NotUploadedQsosLog.adi"));
    station.service.setReply("/realtime.php", {200, "Invalid login"});

    station.pipeline.handleDatagram(WorkedExample);
    QTRY_COMPARE(station.errors.size(), 2);
    const QString status = station.statusTexts().last();
    QVERIFY2(status.startsWith(QStringLiteral("Contact could not be saved to NotUploadedQsosLog.adi: ")),
             qPrintable(status));
    QVERIFY(status.size() > 60); // the reason follows
}

void TestContactPipeline::datagramsDuringAnUploadStaySeparate()
{
    Station station;
    station.service.setReplies("/realtime.php", {{200, "Invalid", 300ms}, {200, "OK"}});
    QSignalSpy counted(&station.pipeline, &ContactPipeline::uploadedCountChanged);

    station.pipeline.handleDatagram(contactWithCall("Q9AAA"));
    QTRY_COMPARE(station.service.requests().size(), 1);
    station.pipeline.handleDatagram(contactWithCall("Q9BBB"));
    station.pipeline.handleDatagram(contactWithCall("Q9CCC"));

    QTRY_COMPARE(counted.size(), 2);
    QTRY_COMPARE(station.errors.size(), 1);
    QCOMPARE(station.service.requests().size(), 3);
    QStringList sent;
    for (const FakeCorvane::Request& request : station.service.requests()) {
        const QString adif = FakeCorvane::formFields(request.body).value("adif");
        QCOMPARE(adif.count(QStringLiteral("<EOR>")), 1);
        sent << adif.mid(8, 5);
    }
    QCOMPARE(sent, QStringList({"Q9AAA", "Q9BBB", "Q9CCC"}));
    // The slow first contact is the one reported and kept, not whatever came since.
    const QByteArray kept = station.dir.read("NotUploadedQsosLog.adi");
    QVERIFY(kept.contains("<CALL:5>Q9AAA "));
    QVERIFY(!kept.contains("Q9BBB"));
    QVERIFY(!kept.contains("Q9CCC"));
}

void TestContactPipeline::closingKeepsUnfinishedContacts()
{
    Station station;
    station.service.setReply("/realtime.php", {200, "OK", 10s});
    for (int i = 0; i < 6; ++i)
        station.pipeline.handleDatagram(contactWithCall(QByteArray("Q9AA") + char('0' + i)));
    QTRY_COMPARE(station.service.requests().size(), 4);

    QCOMPARE(station.pipeline.keepUnfinished(), 0);
    const QList<QByteArray> lines = station.dir.read("NotUploadedQsosLog.adi").split('\n');
    QCOMPARE(lines.size(), 3 + 6 + 1);
    for (int i = 0; i < 6; ++i)
        QVERIFY(lines[3 + i].startsWith("<CALL:5>Q9AA" + QByteArray::number(i) + " "));
    QCOMPARE(station.uploader.pendingCount(), 0);
}

void TestContactPipeline::withoutAutoUploadNothingIsSent()
{
    Station station;
    station.pipeline.setAutoUpload(false);
    station.pipeline.handleDatagram(WorkedExample);
    QVERIFY(station.pipeline.CurrentRecord().isEmpty());
    QTest::qWait(100);
    QCOMPARE(station.service.requests().size(), 0);
    QCOMPARE(station.statusTexts(), QStringList({""}));
}

void TestContactPipeline::datagramWithoutGateWordIsOnlyShown()
{
    Station station;
    QSignalSpy shown(&station.pipeline, &ContactPipeline::datagramShown);
    station.pipeline.handleDatagram("just some text");
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0][0].toString(), QStringLiteral("just some text"));
    QCOMPARE(station.statusTexts(), QStringList({""}));
    QTest::qWait(100);
    QCOMPARE(station.service.requests().size(), 0);
}

void TestContactPipeline::debugEntriesComeInTheOrderOfTheRoad()
{
    Station station;
    station.service.setReply("/realtime.php", {200, "Invalid login"});
    DebugTrace::setEnabled(true);

    station.pipeline.handleDatagram(WorkedExample);
    QTRY_COMPARE(station.errors.size(), 1);
    station.pipeline.handleDatagram("<contactinfo><call>");

    QStringList keys;
    for (const QByteArray& line : station.dir.read("DebugLog.txt").split('\n')) {
        const QString text = QString::fromUtf8(line);
        const qsizetype dash = text.indexOf(QStringLiteral(" - "));
        const qsizetype arrow = text.indexOf(QStringLiteral("  -> "));
        if (dash > 0 && arrow > dash)
            keys << text.mid(dash + 3, arrow - dash - 3);
    }
    QCOMPARE(keys, QStringList({"Socket Date Arrival", "Log Record", "Corvane RT Upload Return",
                                "Socket Date Arrival", "XML Error", "Log Record"}));
    QVERIFY(station.dir.read("DebugLog.txt").contains(" - Corvane RT Upload Return  ->  = Invalid login\r\n"));
}

void TestContactPipeline::countStopsAtItsLargestValue()
{
    Station station;
    station.pipeline.setUploadedCount(std::numeric_limits<qint32>::max());
    station.pipeline.handleDatagram(WorkedExample);
    QTRY_COMPARE(station.statusTexts().last(), QStringLiteral("Uploading Data Complete."));
    QCOMPARE(station.pipeline.uploadedCount(), std::numeric_limits<qint32>::max());
    QCOMPARE(station.errors.size(), 0);

    station.pipeline.resetUploadedCount();
    QCOMPARE(station.pipeline.uploadedCount(), 0);
    QCOMPARE(station.settings.GetSettings("TotalRecordsUploaded", "x"), QStringLiteral("0"));
}

void TestContactPipeline::countOfABurstIsStoredSoonAndOnClosing()
{
    Station station;
    const auto stored = [&] { return station.settings.GetSettings("TotalRecordsUploaded", "none"); };
    for (int i = 0; i < 10; ++i)
        station.pipeline.handleDatagram(contactWithCall(QByteArray("Q9BB") + char('0' + i)));
    QTRY_COMPARE(station.pipeline.uploadedCount(), 10);
    // The first change went to the file at once; the rest follow together.
    QTRY_COMPARE(stored(), QStringLiteral("10"));

    for (int i = 0; i < 10; ++i)
        station.pipeline.handleDatagram(contactWithCall(QByteArray("Q9CC") + char('0' + i)));
    QTRY_COMPARE(station.pipeline.uploadedCount(), 20);
    QCOMPARE(station.pipeline.keepUnfinished(), 0);
    QCOMPARE(stored(), QStringLiteral("20"));
}

QTEST_GUILESS_MAIN(TestContactPipeline)
#include "tst_contactpipeline.moc"
