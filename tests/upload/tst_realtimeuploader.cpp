#include "FakeCorvane.h"
#include "upload/RealtimeUploader.h"
#include "upload/ReplyVerdict.h"
#include "upload/ServiceAddress.h"

#include <QNetworkAccessManager>
#include <QTest>

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;
using Reply = FakeCorvane::Reply;
Q_DECLARE_METATYPE(FakeCorvane::Reply)

namespace {

const Credentials Login{QStringLiteral("op@example.org"), QStringLiteral("a&b=c+d ä"),
                        QStringLiteral("Q9XYZ")};

// The record is just the serial here: the uploader never looks inside it.
RealtimeRequest contact(int serial)
{
    return RealtimeRequest::make(Login, QString::number(serial));
}

// An uploader posting to a fake service, with every result recorded.
struct Rig
{
    Rig()
    {
        if (!fake.listen())
            qFatal("fake service did not start");
        uploader.setEndpoint(serviceUrl(fake.baseUrl(), QStringLiteral("/realtime.php")));
        QObject::connect(&uploader, &RealtimeUploader::finished, &uploader,
                         [this](const RealtimeResult& result) { results.append(result); });
    }

    FakeCorvane fake;
    QNetworkAccessManager network;
    RealtimeUploader uploader{&network};
    QList<RealtimeResult> results;
};

} // namespace

class TestRealtimeUploader : public QObject
{
    Q_OBJECT

private slots:
    void everyRequestEndsInOneResult_data();
    void everyRequestEndsInOneResult();
    void atMostFourInFlightStartedInArrivalOrder();
    void abandonAllHandsBackTheUnfinishedSilently();
};

void TestRealtimeUploader::everyRequestEndsInOneResult_data()
{
    // clang-format off
    QTest::addColumn<Reply>("reply"); // status 0: nobody listening
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("failure");

    QTest::newRow("OK") << Reply{200, "OK"} << true << "";
    QTest::newRow("any 2xx") << Reply{201, "Modified"} << true << "";
    QTest::newRow("refusal") << Reply{200, "Error: invalid login"} << false << "";
    QTest::newRow("503 saying BOOKING") << Reply{503, "BOOKING system down"} << false
                                        << "HTTP status 503 from the log service";
    QTest::newRow("404 saying OK") << Reply{404, "OK"} << false << "HTTP status 404 from the log service";
    QTest::newRow("redirect not followed")
        << Reply{301, "OK"} << false << "HTTP status 301 from the log service";
    QTest::newRow("closed mid-reply")
        << Reply{200, "OK, record stored", 0ms, Fault::CloseHalfway} << false
        << "The log service closed the connection before the reply was complete";
    QTest::newRow("time-out") << Reply{200, "OK", 0ms, Fault::NeverAnswer} << false
                              << "No answer from the log service within 300 ms";
    QTest::newRow("refused")
        << Reply{0, {}} << false << "Could not reach the log service: Connection refused";
    // Far more than 10 MiB, since loopback buffers alone take several MiB.
    QTest::newRow("64 MiB of garbage") << Reply{200, {}, 0ms, Fault::Garbage, 64 << 20} << false << "";
    // clang-format on
}

void TestRealtimeUploader::everyRequestEndsInOneResult()
{
    QFETCH(Reply, reply);
    QFETCH(bool, accepted);
    QFETCH(QString, failure);

    Rig rig;
    rig.fake.setReply(QStringLiteral("/realtime.php"), reply);
    if (reply.status == 0)
        rig.fake.stopListening();
    rig.uploader.setTimeout(reply.fault == Fault::NeverAnswer ? 300ms : 5s);
    rig.uploader.enqueue(contact(1));
    QCOMPARE(rig.uploader.pendingCount(), 1);
    QCOMPARE(rig.results.size(), 0); // never from inside enqueue(): the caller is still busy
    QTRY_COMPARE(rig.results.size(), 1);

    if (reply.status != 0) {
        const FakeCorvane::Request& received = rig.fake.requests().first();
        QCOMPARE(received.method + ' ' + received.target, QStringLiteral("POST /realtime.php"));
        QCOMPARE(received.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(received.body, contact(1).body);
    }
    const RealtimeResult& result = rig.results.first();
    QCOMPARE(result.accepted, accepted);
    QCOMPARE(result.failure, failure);
    QCOMPARE(result.request.body, contact(1).body);
    QVERIFY(result.reply.size() <= ReplyReadLimit);
    if (reply.fault == Fault::None)
        QCOMPARE(result.reply, reply.body);
    QCOMPARE(rig.uploader.pendingCount(), 0);
    // Given up rather than left hanging, and let go of early: nothing more can come.
    QTRY_COMPARE(rig.fake.openRequests(), 0);
    QVERIFY2(rig.fake.bytesSent() < 32 << 20, qPrintable(QString::number(rig.fake.bytesSent())));
    QCOMPARE(rig.results.size(), 1);
}

void TestRealtimeUploader::atMostFourInFlightStartedInArrivalOrder()
{
    Rig rig;
    rig.fake.setReply(QStringLiteral("/realtime.php"), {200, "OK", 200ms});
    // The later batches wait for a free slot far longer than this: their
    // time-out has to count from their own start.
    rig.uploader.setTimeout(400ms);
    for (int serial = 1; serial <= 9; ++serial)
        rig.uploader.enqueue(contact(serial));
    QCOMPARE(rig.uploader.pendingCount(), 9);
    QTRY_COMPARE(rig.results.size(), 9);
    for (const RealtimeResult& result : std::as_const(rig.results))
        QVERIFY2(result.accepted, qPrintable(result.failure));
    QCOMPARE(rig.fake.maxOpenRequests(), 4);

    // Four at a time, each batch held by the fake's delay: only within a batch
    // may the network change the order.
    QList<int> arrived;
    for (const FakeCorvane::Request& request : rig.fake.requests())
        arrived << FakeCorvane::formFields(request.body).value(QStringLiteral("adif")).toInt();
    std::sort(arrived.begin(), arrived.begin() + 4);
    std::sort(arrived.begin() + 4, arrived.begin() + 8);
    QCOMPARE(arrived, QList<int>({1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

void TestRealtimeUploader::abandonAllHandsBackTheUnfinishedSilently()
{
    Rig rig;
    rig.fake.setReply(QStringLiteral("/realtime.php"), {200, "OK", 0ms, Fault::NeverAnswer});
    for (int serial = 1; serial <= 6; ++serial)
        rig.uploader.enqueue(contact(serial));
    QTRY_COMPARE(rig.fake.requests().size(), 4);

    QStringList abandoned;
    for (const RealtimeRequest& request : rig.uploader.abandonAll())
        abandoned << request.record;
    QCOMPARE(abandoned, QStringList({"1", "2", "3", "4", "5", "6"}));
    QCOMPARE(rig.uploader.pendingCount(), 0);
    QTRY_COMPARE(rig.fake.openRequests(), 0);

    // The uploader goes on working, and the abandoned ones stay silent.
    rig.fake.setReply(QStringLiteral("/realtime.php"), {});
    rig.uploader.enqueue(contact(7));
    QTRY_COMPARE(rig.results.size(), 1);
    QCOMPARE(rig.results.first().request.record, QStringLiteral("7"));
    QCOMPARE(rig.fake.requests().size(), 5);
}

QTEST_GUILESS_MAIN(TestRealtimeUploader)
#include "tst_realtimeuploader.moc"
