#include "FakeCorvane.h"
#include "upload/RealtimeUploader.h"
#include "upload/ReplyVerdict.h"
#include "upload/ServiceAddress.h"

#include <QNetworkAccessManager>
#include <QSet>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;

namespace {

const Credentials Login{QStringLiteral("op@example.org"), QStringLiteral("a&b=c+d ä"), QStringLiteral("Q9XYZ")};

RealtimeRequest contact(int serial)
{
    return RealtimeRequest::make(Login, QStringLiteral("<CALL:5>Q9XYZ <STX:%1>%2 <EOR>")
                                            .arg(QString::number(serial).size())
                                            .arg(serial));
}

QSet<QString> records(const QList<FakeCorvane::Request>& requests)
{
    QSet<QString> found;
    for (const FakeCorvane::Request& request : requests)
        found.insert(FakeCorvane::formFields(request.body).value(QStringLiteral("adif")));
    return found;
}

QSet<QString> records(int fromSerial, int toSerial)
{
    QSet<QString> expected;
    for (int serial = fromSerial; serial <= toSerial; ++serial)
        expected.insert(contact(serial).record);
    return expected;
}

} // namespace

class TestRealtimeUploader : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void postsTheFormBody();
    void judgesEveryKindOfReply_data();
    void judgesEveryKindOfReply();
    void hugeReplyIsNotReadWhole();
    void noAnswerTimesOut();
    void timeoutCountsFromTheStartOfEachRequest();
    void refusedConnectionIsAFailure();
    void unusableAddressFailsLater_data();
    void unusableAddressFailsLater();
    void atMostFourInFlightStartedInArrivalOrder();
    void abandonAllHandsBackTheUnfinishedInOrder();

private:
    std::unique_ptr<FakeCorvane> m_fake;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<RealtimeUploader> m_uploader;
    QList<RealtimeResult> m_results;
};

void TestRealtimeUploader::init()
{
    m_fake = std::make_unique<FakeCorvane>();
    QVERIFY(m_fake->listen());
    m_network = std::make_unique<QNetworkAccessManager>();
    m_uploader = std::make_unique<RealtimeUploader>(m_network.get());
    m_uploader->setEndpoint(serviceUrl(m_fake->baseUrl(), QStringLiteral("/realtime.php")));
    m_results.clear();
    connect(m_uploader.get(), &RealtimeUploader::finished, this,
            [this](const RealtimeResult& result) { m_results.append(result); });
}

void TestRealtimeUploader::cleanup()
{
    m_uploader.reset();
    m_network.reset();
    m_fake.reset();
}

void TestRealtimeUploader::postsTheFormBody()
{
    const RealtimeRequest request = contact(12);
    m_uploader->enqueue(request);
    QCOMPARE(m_uploader->pendingCount(), 1);
    QTRY_COMPARE(m_results.size(), 1);

    QCOMPARE(m_fake->requests().size(), 1);
    const FakeCorvane::Request& received = m_fake->requests().first();
    QCOMPARE(received.method, QStringLiteral("POST"));
    QCOMPARE(received.target, QStringLiteral("/realtime.php"));
    QCOMPARE(received.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(received.body, request.body);
    QCOMPARE(FakeCorvane::formFields(received.body).value(QStringLiteral("password")), Login.password);

    const RealtimeResult& result = m_results.first();
    QCOMPARE(result.request.record, request.record);
    QCOMPARE(result.request.reportBody, request.reportBody);
    QVERIFY(result.accepted);
    QCOMPARE(result.httpStatus, 200);
    QCOMPARE(result.reply, QByteArray("OK"));
    QCOMPARE(result.failure, QString());
    QCOMPARE(m_uploader->pendingCount(), 0);
}

void TestRealtimeUploader::judgesEveryKindOfReply_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<int>("replySize"); // -1: not checked

    const auto none = static_cast<int>(Fault::None);
    const QByteArray longTail = QByteArray(ReplyReadLimit, '.') + "OK";
    QTest::newRow("OK") << 200 << QByteArray("OK") << none << true << "" << 2;
    QTest::newRow("Duplicate") << 200 << QByteArray("Duplicate QSO") << none << true << "" << 13;
    QTest::newRow("created") << 201 << QByteArray("Modified") << none << true << "" << 8;
    QTest::newRow("refusal") << 200 << QByteArray("Error: invalid login") << none << false << "" << 20;
    QTest::newRow("empty") << 200 << QByteArray() << none << false << "" << 0;
    QTest::newRow("OK past the judged part") << 200 << longTail << none << false << "" << ReplyReadLimit;
    QTest::newRow("503 page saying BOOKING")
        << 503 << QByteArray("BOOKING system down") << none << false << "HTTP status 503 from the log service" << 19;
    QTest::newRow("404 saying OK") << 404 << QByteArray("OK") << none << false
                                   << "HTTP status 404 from the log service" << 2;
    QTest::newRow("redirect") << 301 << QByteArray("OK") << none << false << "HTTP status 301 from the log service"
                              << -1;
    QTest::newRow("closed mid-reply") << 200 << QByteArray("OK, record stored in your log")
                                      << static_cast<int>(Fault::CloseHalfway) << false
                                      << "The log service closed the connection before the reply was complete" << -1;
}

void TestRealtimeUploader::judgesEveryKindOfReply()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, fault);
    QFETCH(bool, accepted);
    QFETCH(QString, failure);
    QFETCH(int, replySize);

    m_fake->setReply(QStringLiteral("/realtime.php"), {status, body, 0ms, static_cast<Fault>(fault)});
    m_uploader->enqueue(contact(1));
    QTRY_COMPARE(m_results.size(), 1);

    const RealtimeResult& result = m_results.first();
    QCOMPARE(result.accepted, accepted);
    QCOMPARE(result.failure, failure);
    QCOMPARE(result.httpStatus, status);
    if (replySize >= 0) {
        QCOMPARE(result.reply, body.left(replySize));
        QCOMPARE(result.reply.size(), replySize);
    }
}

void TestRealtimeUploader::hugeReplyIsNotReadWhole()
{
    constexpr qint64 Huge = 64 * 1024 * 1024;
    m_fake->setReply(QStringLiteral("/realtime.php"), {200, {}, 0ms, Fault::Garbage, Huge});
    m_uploader->enqueue(contact(1));
    QTRY_COMPARE(m_results.size(), 1);

    const RealtimeResult& result = m_results.first();
    QVERIFY(!result.accepted);
    QCOMPARE(result.failure, QString());
    QCOMPARE(result.reply.size(), ReplyReadLimit);
    // The client let go early: most of the noise was never even sent. (Far
    // more than 10 MiB, since loopback buffers alone can take several MiB.)
    QTRY_COMPARE(m_fake->openRequests(), 0);
    QVERIFY2(m_fake->bytesSent() < Huge / 2, qPrintable(QString::number(m_fake->bytesSent())));
}

void TestRealtimeUploader::noAnswerTimesOut()
{
    m_fake->setReply(QStringLiteral("/realtime.php"), {200, "OK", 0ms, Fault::NeverAnswer});
    m_uploader->setTimeout(200ms);
    m_uploader->enqueue(contact(1));
    QTRY_COMPARE(m_results.size(), 1);

    QVERIFY(!m_results.first().accepted);
    QCOMPARE(m_results.first().failure, QStringLiteral("No answer from the log service within 200 ms"));
    QCOMPARE(m_results.first().httpStatus, 0);
    QCOMPARE(m_uploader->pendingCount(), 0);
    // The request was given up, not merely reported.
    QTRY_COMPARE(m_fake->openRequests(), 0);
}

void TestRealtimeUploader::timeoutCountsFromTheStartOfEachRequest()
{
    // The fifth waits for a free slot until ~250 ms and is answered at ~500 ms:
    // past its time-out if that ran from enqueue(), well within it from its start.
    m_fake->setReply(QStringLiteral("/realtime.php"), {200, "OK", 250ms});
    m_uploader->setTimeout(450ms);
    for (int serial = 1; serial <= RealtimeUploader::MaxInFlight + 1; ++serial)
        m_uploader->enqueue(contact(serial));
    QTRY_COMPARE(m_results.size(), RealtimeUploader::MaxInFlight + 1);
    for (const RealtimeResult& result : std::as_const(m_results))
        QVERIFY2(result.accepted, qPrintable(result.failure));
}

void TestRealtimeUploader::refusedConnectionIsAFailure()
{
    m_fake->stopListening();
    m_uploader->enqueue(contact(1));
    QTRY_COMPARE(m_results.size(), 1);

    const RealtimeResult& result = m_results.first();
    QVERIFY(!result.accepted);
    QCOMPARE(result.failure, QStringLiteral("Could not reach the log service: Connection refused"));
    QCOMPARE(result.httpStatus, 0);
    QCOMPARE(result.request.record, contact(1).record);
}

void TestRealtimeUploader::unusableAddressFailsLater_data()
{
    QTest::addColumn<QUrl>("endpoint");
    QTest::newRow("none") << QUrl();
    QTest::newRow("unknown scheme") << QUrl(QStringLiteral("gopher://127.0.0.1/realtime.php"));
}

void TestRealtimeUploader::unusableAddressFailsLater()
{
    QFETCH(QUrl, endpoint);
    m_uploader->setEndpoint(endpoint);
    m_uploader->enqueue(contact(1));
    // Never from inside enqueue(): the caller is still busy with its own state.
    QCOMPARE(m_results.size(), 0);
    QTRY_COMPARE(m_results.size(), 1);
    QVERIFY(!m_results.first().accepted);
    QVERIFY2(m_results.first().failure.startsWith(QStringLiteral("The log service address is not usable")),
             qPrintable(m_results.first().failure));
}

void TestRealtimeUploader::atMostFourInFlightStartedInArrivalOrder()
{
    m_fake->setReply(QStringLiteral("/realtime.php"), {200, "OK", 150ms});
    for (int serial = 1; serial <= 9; ++serial)
        m_uploader->enqueue(contact(serial));
    QCOMPARE(m_uploader->pendingCount(), 9);
    QTRY_COMPARE(m_results.size(), 9);

    QCOMPARE(m_fake->maxOpenRequests(), RealtimeUploader::MaxInFlight);
    // Four at a time, each batch held by the fake's delay: the batches show the order.
    const QList<FakeCorvane::Request> arrived = m_fake->requests();
    QCOMPARE(arrived.size(), 9);
    QCOMPARE(records(arrived.mid(0, 4)), records(1, 4));
    QCOMPARE(records(arrived.mid(4, 4)), records(5, 8));
    QCOMPARE(records(arrived.mid(8)), records(9, 9));

    QSet<QString> finished;
    for (const RealtimeResult& result : std::as_const(m_results)) {
        QVERIFY(result.accepted);
        finished.insert(result.request.record);
    }
    QCOMPARE(finished, records(1, 9));
    QCOMPARE(m_uploader->pendingCount(), 0);
}

void TestRealtimeUploader::abandonAllHandsBackTheUnfinishedInOrder()
{
    m_fake->setReply(QStringLiteral("/realtime.php"), {200, "OK", 0ms, Fault::NeverAnswer});
    for (int serial = 1; serial <= 6; ++serial)
        m_uploader->enqueue(contact(serial));
    QTRY_COMPARE(m_fake->requests().size(), RealtimeUploader::MaxInFlight);

    const QList<RealtimeRequest> abandoned = m_uploader->abandonAll();
    QCOMPARE(abandoned.size(), 6);
    for (int i = 0; i < abandoned.size(); ++i) {
        QCOMPARE(abandoned[i].record, contact(i + 1).record);
        QCOMPARE(abandoned[i].body, contact(i + 1).body);
    }
    QCOMPARE(m_uploader->pendingCount(), 0);
    QTRY_COMPARE(m_fake->openRequests(), 0);

    // The uploader goes on working, and the abandoned ones stay silent.
    m_fake->setReply(QStringLiteral("/realtime.php"), {});
    m_uploader->enqueue(contact(7));
    QTRY_COMPARE(m_results.size(), 1);
    QCOMPARE(m_results.first().request.record, contact(7).record);
    QVERIFY(m_results.first().accepted);
    QCOMPARE(m_fake->requests().size(), RealtimeUploader::MaxInFlight + 1);
}

QTEST_GUILESS_MAIN(TestRealtimeUploader)
#include "tst_realtimeuploader.moc"
