#include "FakeCorvane.h"
#include "TempDir.h"
#include "WorkedContact.h"
#include "logs/DebugTrace.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeUploader.h"
#include "upload/ServiceAddress.h"

#include <QNetworkAccessManager>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <limits>

using namespace std::chrono_literals;
using Reply = FakeCorvane::Reply;
Q_DECLARE_METATYPE(FakeCorvane::Reply)

namespace {

using WorkedContact::Datagram;
using WorkedContact::Record;

// The worked example under the call sign "Q" and a four-digit serial, so each contact can be traced.
QByteArray contact(int serial)
{
    return WorkedContact::datagramWithCall('Q' + QByteArray::number(serial).rightJustified(4, '0'));
}

// One pipeline wired to a fake service in a throw-away application directory.
struct Station
{
    explicit Station(const QString& nonUploaded = {})
        : paths(dir.path()), settings(paths.settingsFile(), paths.debugLog()),
          pipeline(settings, paths.errorLog(), nonUploaded.isEmpty() ? paths.nonUploaded() : nonUploaded,
                   uploader)
    {
        settings.CheckforInIfile();
        if (!service.listen())
            qFatal("fake service did not start");
        uploader.setEndpoint(serviceUrl(service.baseUrl(), QStringLiteral("/realtime.php")));
        uploader.setTimeout(2s);
        pipeline.setCredentials({"op@example.org", "p&ss=w+rd", "Q9ABC"});
        pipeline.setAutoUpload(true);
        QObject::connect(&pipeline, &ContactPipeline::statusChanged,
                         [this](const QString& text) { statuses << text; });
        QObject::connect(&pipeline, &ContactPipeline::errorReported, [this] { ++errors; });
        QObject::connect(&uploader, &RealtimeUploader::finished,
                         [this](const RealtimeResult& result) { results << result; });
    }

    // The call signs in the not-uploaded file, in its order.
    QStringList keptCalls() const
    {
        QStringList calls;
        const QString kept = QString::fromUtf8(dir.read("NotUploadedQsosLog.adi"));
        for (const QRegularExpressionMatch& match : QRegularExpression("<CALL:5>(\\S+) ").globalMatch(kept))
            calls << match.captured(1);
        return calls;
    }

    TempDir dir;
    AppPaths paths;
    Settings settings;
    FakeCorvane service;
    QNetworkAccessManager network;
    RealtimeUploader uploader{&network};
    ContactPipeline pipeline;
    QStringList statuses;
    int errors = 0;
    QList<RealtimeResult> results;
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
    void onlyGatedDatagramsAreSentAndTracedInOrder();
    void closingKeepsUnfinishedContactsAndTheCount();
    void flappingServiceAccountsForEveryContactOnce();
};

void TestContactPipeline::acceptedContactIsCountedAndStored()
{
    Station station;
    station.pipeline.setUploadedCount(41);
    QSignalSpy shown(&station.pipeline, &ContactPipeline::datagramShown);
    QSignalSpy counted(&station.pipeline, &ContactPipeline::uploadedCountChanged);
    station.pipeline.handleDatagram(Datagram);
    QVERIFY(station.pipeline.CurrentRecord().isEmpty());
    QCOMPARE(shown.value(0).value(0).toString(), QString::fromLatin1(Datagram));
    QTRY_COMPARE(counted.value(0).value(0).toInt(), 42);
    QCOMPARE(station.settings.GetSettings("TotalRecordsUploaded", "0"), QStringLiteral("42"));
    QCOMPARE(station.statuses, QStringList({"", "Uploading Data to Corvane", "Uploading Data Complete."}));

    QCOMPARE(FakeCorvane::formFields(station.service.requests().first().body).value("adif"), Record);
    QVERIFY(!station.dir.exists("ErrorLog.txt"));
    QVERIFY(!station.dir.exists("NotUploadedQsosLog.adi"));

    station.pipeline.setUploadedCount(std::numeric_limits<qint32>::max());
    station.pipeline.handleDatagram(Datagram);
    QTRY_COMPARE(station.results.size(), 2);
    QCOMPARE(station.pipeline.uploadedCount(),
             std::numeric_limits<qint32>::max()); // stops at its largest value
    station.pipeline.resetUploadedCount();
    QCOMPARE(station.settings.GetSettings("TotalRecordsUploaded", "x"), QStringLiteral("0"));
}

void TestContactPipeline::rejectedContactIsReportedAndKept_data()
{
    // clang-format off
    QTest::addColumn<Reply>("reply"); // status 0: nobody listening
    QTest::addColumn<QString>("headline");
    QTest::newRow("service says no") << Reply{200, "Invalid login"} << "Invalid login";
    QTest::newRow("error page") << Reply{503, "BOOKING closed"}
                                << "HTTP status 503 from the log service\r\nBOOKING closed";
    QTest::newRow("service down") << Reply{0, {}} << "Could not reach the log service: Connection refused";
    // clang-format on
}

void TestContactPipeline::rejectedContactIsReportedAndKept()
{
    QFETCH(Reply, reply);
    QFETCH(QString, headline);
    Station station;
    station.service.setReply("/realtime.php", reply);
    if (reply.status == 0)
        station.service.stopListening();

    station.pipeline.handleDatagram(Datagram);
    QTRY_COMPARE(station.errors, 1);
    QCOMPARE(station.statuses.last(), QStringLiteral("Uploading Data Returned Error's"));
    QCOMPARE(station.pipeline.uploadedCount(), 0);

    // What failed, the body as sent but with the password masked, then the record on its own line.
    const QString log = QString::fromUtf8(station.dir.read("ErrorLog.txt"));
    const QString sent = "Sent Data= email=op%40example.org&password=********&callsign=Q9ABC&api=";
    QVERIFY2(
        log.contains(" - Corvane Error Message Returned\r\n =Error Report= \r\n" + headline + "\r\n" + sent),
        qPrintable(log));
    QVERIFY2(log.endsWith("\r\n" + Record + "\r\n =Error Report End= \r\n\r\n"), qPrintable(log));
    QVERIFY(!log.contains("p%26ss"));
    QVERIFY(station.dir.read("NotUploadedQsosLog.adi").endsWith("\r\n\r\n" + Record.toUtf8() + "\r\n"));
}

void TestContactPipeline::contactThatCannotBeKeptIsAnnounced()
{
    Station station(QStringLiteral("/nonexistent-dir/NotUploadedQsosLog.adi"));
    station.service.setReply("/realtime.php", {200, "Invalid login"});
    station.pipeline.handleDatagram(Datagram);
    QTRY_COMPARE(station.errors, 2);
    const QString status = station.statuses.last();
    QVERIFY2(status.startsWith("Contact could not be saved to NotUploadedQsosLog.adi: ") &&
                 !status.endsWith(": "),
             qPrintable(status));
}

void TestContactPipeline::datagramsDuringAnUploadStaySeparate()
{
    Station station;
    station.service.setReplies("/realtime.php", {{200, "Invalid", 300ms}, {200, "OK"}});
    station.pipeline.handleDatagram(contact(1));
    QTRY_COMPARE(station.service.requests().size(), 1);
    station.pipeline.handleDatagram(contact(2));
    station.pipeline.handleDatagram(contact(3));
    QTRY_COMPARE(station.results.size(), 3);

    QStringList sent;
    for (const FakeCorvane::Request& request : station.service.requests())
        sent << FakeCorvane::formFields(request.body).value("adif");
    sent.sort(); // the second and third go out side by side
    QCOMPARE(sent,
             QStringList({WorkedContact::recordWithCall("Q0001"), WorkedContact::recordWithCall("Q0002"),
                          WorkedContact::recordWithCall("Q0003")}));
    // The slow first contact is the one reported and kept, not whatever came since.
    QCOMPARE(station.pipeline.uploadedCount(), 2);
    QCOMPARE(station.keptCalls(), QStringList({"Q0001"}));
}

void TestContactPipeline::onlyGatedDatagramsAreSentAndTracedInOrder()
{
    Station station;
    QSignalSpy shown(&station.pipeline, &ContactPipeline::datagramShown);
    station.service.setReply("/realtime.php", {200, "Invalid login"});
    station.pipeline.setAutoUpload(false);
    station.pipeline.handleDatagram("<contactinfo><call>");
    QVERIFY(station.pipeline.CurrentRecord().isEmpty());
    station.pipeline.setAutoUpload(true);
    station.pipeline.handleDatagram("just some text");
    QCOMPARE(shown.value(1).value(0).toString(), QStringLiteral("just some text"));
    QCOMPARE(station.statuses, QStringList({"", ""}));
    QCOMPARE(station.uploader.pendingCount(), 0);
    QVERIFY(!station.dir.exists("DebugLog.txt")); // the debug flag is off

    DebugTrace::setEnabled(true);
    station.pipeline.handleDatagram(Datagram);
    QTRY_COMPARE(station.errors, 1);
    station.pipeline.handleDatagram("<contactinfo><call>");
    station.pipeline.handleDatagram("<no gate word");
    QStringList keys;
    const QString log = QString::fromUtf8(station.dir.read("DebugLog.txt"));
    for (const QRegularExpressionMatch& entry : QRegularExpression(" - ([^\r\n]+?)  -> ").globalMatch(log))
        keys << entry.captured(1);
    QCOMPARE(keys, QStringList({"Socket Date Arrival", "Log Record", "Corvane RT Upload Return",
                                "Socket Date Arrival", "XML Error", "Log Record", "Socket Date Arrival",
                                "XML Error"}));
    QVERIFY(log.contains(" - Corvane RT Upload Return  ->  = Invalid login\r\n"));
}

void TestContactPipeline::closingKeepsUnfinishedContactsAndTheCount()
{
    Station station;
    const auto stored = [&] { return station.settings.GetSettings("TotalRecordsUploaded", "none"); };
    station.service.setReplies("/realtime.php",
                               {{}, {}, {}, {200, "OK", 0ms, FakeCorvane::Fault::NeverAnswer}});
    station.pipeline.handleDatagram(contact(1));
    QTRY_COMPARE(stored(), QStringLiteral("1")); // the first change is stored at once,
    station.pipeline.handleDatagram(contact(2));
    QTRY_COMPARE(station.pipeline.uploadedCount(), 2);
    QCOMPARE(stored(), QStringLiteral("1")); // the next one a little later,
    QTRY_COMPARE(stored(), QStringLiteral("2"));
    station.pipeline.handleDatagram(contact(3));
    QTRY_COMPARE(station.pipeline.uploadedCount(), 3);
    for (int serial = 4; serial <= 9; ++serial)
        station.pipeline.handleDatagram(contact(serial));
    QTRY_COMPARE(station.service.requests().size(), 3 + 4);

    QCOMPARE(station.pipeline.keepUnfinished(), 0);
    QCOMPARE(stored(), QStringLiteral("3")); // or on closing, whichever comes first
    QCOMPARE(station.keptCalls(), QStringList({"Q0004", "Q0005", "Q0006", "Q0007", "Q0008", "Q0009"}));
    QCOMPARE(station.uploader.pendingCount(), 0);
}

void TestContactPipeline::flappingServiceAccountsForEveryContactOnce()
{
    constexpr int Contacts = 500;
    Station station;
    const quint16 port = station.service.port();

    // The service comes and goes every few dozen milliseconds, dropping the
    // connections it has and coming back answering HTTP 500 or OK in turn,
    // while the contacts arrive 2 ms apart.
    QTimer flapper;
    int flips = 0;
    connect(&flapper, &QTimer::timeout, &station.service, [&] {
        if (++flips % 2 == 1)
            return station.service.stopListening();
        station.service.setReply("/realtime.php",
                                 flips % 4 == 2 ? Reply{500, "Internal Server Error"} : Reply{});
        QVERIFY(station.service.listen(port));
    });
    QTimer logger;
    QEventLoop sending;
    int sent = 0;
    connect(&logger, &QTimer::timeout, &station.pipeline, [&] {
        station.pipeline.handleDatagram(contact(++sent));
        if (sent == Contacts)
            sending.quit();
    });
    flapper.start(37);
    logger.start(2);
    sending.exec(); // not QTRY: its polling sleeps would space the contacts far more
    logger.stop();
    flapper.stop();
    station.service.stopListening(); // the backlog ends at once
    QTRY_COMPARE(station.uploader.pendingCount(), 0);

    // Every contact is either counted or kept, exactly once.
    QStringList accounted = station.keptCalls();
    for (const RealtimeResult& result : std::as_const(station.results)) {
        if (result.accepted)
            accounted << result.request.record.mid(8, 5); // the call sign
    }
    QCOMPARE(accounted.removeDuplicates(), 0);
    QCOMPARE(accounted.size(), Contacts);
    QCOMPARE(station.pipeline.uploadedCount(), Contacts - station.keptCalls().size());
    // Both sides of the flapping really happened.
    QVERIFY(station.pipeline.uploadedCount() > 0 && station.keptCalls().size() > 0);
}

QTEST_GUILESS_MAIN(TestContactPipeline)
#include "tst_contactpipeline.moc"
