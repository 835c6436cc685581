#include "FakeCorvane.h"
#include "TempDir.h"
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

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;

namespace {

// The worked example with its own call sign, so each contact can be traced.
QByteArray contact(int serial)
{
    return "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq>"
           "<rxfreq>1420012</rxfreq><mode>CW</mode><call>Q9F" +
           QByteArray::number(serial).rightJustified(4, '0') +
           "</call><snt>599</snt><rcv>579</rcv><sntnr>12</sntnr><rcvnr>345</rcvnr><exchange1>14</exchange1>"
           "<wpxprefix>Q9</wpxprefix></contactinfo>";
}

QString callIn(const QString& record)
{
    static const QRegularExpression pattern(QStringLiteral("<CALL:7>(Q9F\\d{4}) "));
    return pattern.match(record).captured(1);
}

// A pipeline in a throw-away application directory against a fake service,
// with every verdict recorded.
struct Station
{
    explicit Station(std::chrono::milliseconds timeout)
        : paths(dir.path()), settings(paths.settingsFile(), paths.debugLog()), uploader(&network),
          pipeline(settings, paths.errorLog(), paths.nonUploaded(), uploader)
    {
        settings.CheckforInIfile();
        if (!service.listen())
            qFatal("fake service did not start");
        uploader.setEndpoint(serviceUrl(service.baseUrl(), QStringLiteral("/realtime.php")));
        uploader.setTimeout(timeout);
        pipeline.setCredentials({"op@example.org", "secret", "Q9ABC"});
        pipeline.setAutoUpload(true);
        QObject::connect(&uploader, &RealtimeUploader::finished, &uploader,
                         [this](const RealtimeResult& result) { results.append(result); });
    }

    QStringList keptCalls() const
    {
        QStringList calls;
        for (const QByteArray& line : dir.read("NotUploadedQsosLog.adi").split('\n')) {
            if (line.contains("<EOR>"))
                calls << callIn(QString::fromUtf8(line));
        }
        return calls;
    }

    TempDir dir;
    AppPaths paths;
    Settings settings;
    FakeCorvane service;
    QNetworkAccessManager network;
    RealtimeUploader uploader;
    ContactPipeline pipeline;
    QList<RealtimeResult> results;
};

} // namespace

// What the service can do wrong, seen from the contact's side: each contact
// ends counted or kept, once, and the program goes on working.
class TestUploadFaults : public QObject
{
    Q_OBJECT

private slots:
    void lateAnswerIsKeptOnceAndIgnored();
    void garbageReplyKeepsTheReportSmall();
    void flappingServiceLosesNothing();
};

void TestUploadFaults::lateAnswerIsKeptOnceAndIgnored()
{
    Station station(200ms);
    station.service.setReplies("/realtime.php", {{200, "OK", 600ms}, {200, "OK"}});
    QSignalSpy errors(&station.pipeline, &ContactPipeline::errorReported);

    station.pipeline.handleDatagram(contact(1));
    QTRY_COMPARE(errors.size(), 1);
    QCOMPARE(station.keptCalls(), QStringList({"Q9F0001"}));
    QVERIFY(QString::fromUtf8(station.dir.read("ErrorLog.txt"))
                .contains("No answer from the log service within 200 ms"));

    // The answer the service still owes must neither count nor be kept again.
    QTRY_COMPARE(station.service.openRequests(), 0);
    QTest::qWait(600);
    QCOMPARE(station.results.size(), 1);
    QCOMPARE(station.pipeline.uploadedCount(), 0);
    QCOMPARE(station.keptCalls(), QStringList({"Q9F0001"}));

    station.pipeline.handleDatagram(contact(2));
    QTRY_COMPARE(station.pipeline.uploadedCount(), 1);
    QCOMPARE(errors.size(), 1);
}

void TestUploadFaults::garbageReplyKeepsTheReportSmall()
{
    Station station(5s);
    station.service.setReply("/realtime.php", {200, {}, 0ms, Fault::Garbage, 10 * 1024 * 1024});

    station.pipeline.handleDatagram(contact(1));
    QTRY_COMPARE(station.results.size(), 1);
    QVERIFY(!station.results.first().accepted);
    QCOMPARE(station.keptCalls(), QStringList({"Q9F0001"}));
    // Only the judged kilobyte of noise reaches the error log.
    const QByteArray log = station.dir.read("ErrorLog.txt");
    QVERIFY2(log.size() < 4096, qPrintable(QString::number(log.size())));
    QVERIFY(log.contains("#noise-without-any-accepting-word#"));
}

void TestUploadFaults::flappingServiceLosesNothing()
{
    constexpr int Contacts = 500;
    Station station(2s);
    const quint16 port = station.service.port();

    // The service comes and goes every few dozen milliseconds, dropping the
    // connections it has, while the contacts arrive 2 ms apart.
    QTimer flapper;
    flapper.setInterval(37);
    bool up = true;
    int relistenFailures = 0;
    connect(&flapper, &QTimer::timeout, &station.service, [&] {
        up = !up;
        if (!up)
            station.service.stopListening();
        else if (!station.service.listen(port))
            ++relistenFailures;
    });
    int sent = 0;
    QTimer logger;
    logger.setInterval(2);
    connect(&logger, &QTimer::timeout, &station.pipeline, [&] {
        station.pipeline.handleDatagram(contact(sent));
        if (++sent == Contacts)
            logger.stop();
    });
    flapper.start();
    logger.start();
    QTRY_COMPARE_WITH_TIMEOUT(sent, Contacts, 20000);
    flapper.stop();
    QCOMPARE(relistenFailures, 0);
    QTRY_COMPARE_WITH_TIMEOUT(station.uploader.pendingCount(), 0, 20000);

    QSet<QString> counted;
    for (const RealtimeResult& result : std::as_const(station.results)) {
        if (result.accepted)
            counted.insert(callIn(result.request.record));
    }
    const QStringList kept = station.keptCalls();
    const QSet<QString> keptOnce(kept.cbegin(), kept.cend());
    QCOMPARE(station.results.size(), Contacts);
    QCOMPARE(station.pipeline.uploadedCount(), counted.size());
    QCOMPARE(keptOnce.size(), kept.size());
    QVERIFY2((counted & keptOnce).isEmpty(), "a contact was both counted and kept");
    QCOMPARE(counted.size() + keptOnce.size(), Contacts);
    // Both sides of the flapping really happened.
    QVERIFY(!counted.isEmpty());
    QVERIFY(!keptOnce.isEmpty());
}

QTEST_GUILESS_MAIN(TestUploadFaults)
#include "tst_uploadfaults.moc"
