#include "FakeCorvane.h"
#include "TestMain.h"
#include "upload/HttpConnection.h"
#include "upload/HttpTexts.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Failure = HttpReply::Failure;
using Fault = FakeCorvane::Fault;
using Reply = FakeCorvane::Reply;
Q_DECLARE_METATYPE(FakeCorvane::Reply)

namespace {

const QByteArray Ok = "HTTP/1.1 200 OK\r\n";
const QByteArray Chunked = Ok + "Transfer-Encoding: chunked\r\n\r\n";
const QString Cut = QStringLiteral("The log service closed the connection before the reply was complete");

// Failure, status, body and reusability in one line, so a mismatch shows all of them.
QString outcome(const QList<QByteArrayView>& pieces)
{
    HttpReplyReader reader;
    for (QByteArrayView piece : pieces)
        reader.feed(piece);
    if (!reader.done())
        reader.endOfStream();
    const HttpReply& reply = reader.reply();
    return QStringLiteral("%1 %2 %3 %4 [%5] %6")
        .arg(int(reply.failure))
        .arg(reply.status)
        .arg(reply.whole)
        .arg(reader.connectionReusable())
        .arg(QString::fromLatin1(reply.body), reply.failureText);
}

} // namespace

class TestHttp : public QObject
{
    Q_OBJECT

private slots:
    void readerJudgesEverySplitAlike_data();
    void readerJudgesEverySplitAlike();
    void postEndsInOneReply_data();
    void postEndsInOneReply();
    void keepsTheConnectionAndRetriesAStaleOne();
};

void TestHttp::readerJudgesEverySplitAlike_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("reusable");

    const QByteArray x1500(1500, 'x');
    QTest::newRow("length") << Ok + "Content-Length: 2\r\n\r\nOK" << Failure::None << 200 << QByteArray("OK") << true;
    QTest::newRow("Connection: close") << Ok + "Connection: Close\r\nContent-Length: 2\r\n\r\nOK" << Failure::None << 200 << QByteArray("OK") << false;
    QTest::newRow("HTTP/1.0") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK") << Failure::None << 200 << QByteArray("OK") << false;
    QTest::newRow("no reason phrase") << QByteArray("HTTP/1.1 503\r\nContent-Length: 0\r\n\r\n") << Failure::None << 503 << QByteArray() << true;
    QTest::newRow("interim 100 skipped") << QByteArray("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n") << Failure::None << 201 << QByteArray() << true;
    QTest::newRow("204 has no body") << QByteArray("HTTP/1.1 204 No Content\r\n\r\n") << Failure::None << 204 << QByteArray() << true;
    QTest::newRow("chunked, extension, trailer") << Chunked + "2;a=b\r\nOK\r\n1\r\n!\r\n0\r\nX-Sum: 1\r\n\r\n" << Failure::None << 200 << QByteArray("OK!") << true;
    QTest::newRow("chunked beats a length") << Ok + "Content-Length: 90\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nOK\r\n0\r\n\r\n" << Failure::None << 200 << QByteArray("OK") << false;
    QTest::newRow("no length: to the end") << Ok + "\r\nOK" << Failure::None << 200 << QByteArray("OK") << false;
    QTest::newRow("over the limit: first 1024") << Ok + "Content-Length: 9000\r\n\r\n" + x1500 << Failure::None << 200 << x1500.left(1024) << false;
    QTest::newRow("chunked over the limit") << Chunked + "5dc\r\n" + x1500 << Failure::None << 200 << x1500.left(1024) << false;
    QTest::newRow("exactly the limit") << Ok + "Content-Length: 1024\r\n\r\n" + x1500.left(1024) << Failure::None << 200 << x1500.left(1024) << true;
    QTest::newRow("bytes past the end") << Ok + "Content-Length: 2\r\n\r\nOKHTTP" << Failure::None << 200 << QByteArray("OK") << false;
    QTest::newRow("cut in the head") << Ok + "Content-Le" << Failure::Cut << 200 << QByteArray() << false;
    QTest::newRow("cut in the body") << Ok + "Content-Length: 5\r\n\r\nOK" << Failure::Cut << 200 << QByteArray("OK") << false;
    QTest::newRow("cut before the last chunk") << Chunked + "2\r\nOK\r\n" << Failure::Cut << 200 << QByteArray("OK") << false;
    QTest::newRow("HTML") << QByteArray("<html>OK</html>") << Failure::Malformed << 0 << QByteArray() << false;
    QTest::newRow("header without colon") << Ok + "OK\r\n\r\n" << Failure::Malformed << 200 << QByteArray() << false;
    QTest::newRow("head over 64 KiB") << Ok + "X: " + QByteArray(64 * 1024, 'a') + "\r\n\r\n" << Failure::Malformed << 200 << QByteArray() << false;
    QTest::newRow("contradictory length") << Ok + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nOK" << Failure::Malformed << 200 << QByteArray() << false;
    QTest::newRow("gzip coding") << Ok + "Transfer-Encoding: gzip\r\n\r\nOK" << Failure::Malformed << 200 << QByteArray() << false;
    QTest::newRow("bad chunk size") << Chunked + "2x\r\nOK\r\n0\r\n\r\n" << Failure::Malformed << 200 << QByteArray() << false;
    QTest::newRow("chunk longer than its size") << Chunked + "1\nOK\n0\n\n" << Failure::Malformed << 200 << QByteArray("O") << false;
    // clang-format on
}

void TestHttp::readerJudgesEverySplitAlike()
{
    QFETCH(QByteArray, bytes);
    QFETCH(Failure, failure);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, reusable);

    const QString whole = outcome({bytes});
    const QString expected = QStringLiteral("%1 %2 %3 %4 [%5] ").arg(int(failure)).arg(status);
    QVERIFY2(
        whole.startsWith(expected.arg(failure == Failure::None).arg(reusable).arg(QString::fromLatin1(body))),
        qPrintable(whole));

    QList<QByteArrayView> bytewise;
    for (qsizetype at = 0; at < bytes.size(); ++at)
        bytewise.append(QByteArrayView(bytes).sliced(at, 1));
    QCOMPARE(outcome(bytewise), whole);
    for (qsizetype at = 0; at <= bytes.size(); at += std::max<qsizetype>(1, bytes.size() / 300)) {
        const QString split = outcome({QByteArrayView(bytes).first(at), QByteArrayView(bytes).sliced(at)});
        QVERIFY2(split == whole, qPrintable(QStringLiteral("split at %1: %2").arg(at).arg(split)));
    }
}

void TestHttp::postEndsInOneReply_data()
{
    // clang-format off
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("scheme");   // "none": nothing listening
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("failureText"); // its start
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("keptOpen");

    const QByteArray noise = QByteArray("#noise-without-any-accepting-word#").repeated(40).left(1024);
    QTest::newRow("chunked") << Reply{200, "OK, stored", 0ms, Fault::Chunked} << "http" << Failure::None << "" << QByteArray("OK, stored") << true;
    QTest::newRow("no length") << Reply{200, "OK, stored", 0ms, Fault::NoLength} << "http" << Failure::None << "" << QByteArray("OK, stored") << false;
    QTest::newRow("cut chunked") << Reply{200, "OK, stored", 0ms, Fault::CutChunked} << "http" << Failure::Cut << Cut << QByteArray("OK, s") << false;
    QTest::newRow("reset halfway") << Reply{200, "OK, stored", 0ms, Fault::ResetHalfway} << "http" << Failure::Cut << Cut << QByteArray("OK, s") << false;
    QTest::newRow("time-out") << Reply{200, "OK", 0ms, Fault::NeverAnswer} << "http" << Failure::Timeout << "No answer from the log service within 300 ms" << QByteArray() << false;
    // Far more than loopback buffers hold, so a client that reads on is seen.
    QTest::newRow("64 MiB of garbage") << Reply{200, {}, 0ms, Fault::Garbage, 64 << 20} << "http" << Failure::None << "" << noise << false;
    QTest::newRow("https to a plain server") << Reply{} << "https" << Failure::Tls << "Secure connection to the log service failed: " << QByteArray() << false;
    QTest::newRow("unknown scheme") << Reply{} << "ftp" << Failure::Connect << "Could not reach the log service: unsupported scheme \"ftp\"" << QByteArray() << false;
    QTest::newRow("nothing listening") << Reply{} << "none" << Failure::Connect << "Could not reach the log service: Connection refused" << QByteArray() << false;
    // clang-format on
}

void TestHttp::postEndsInOneReply()
{
    QFETCH(Reply, reply);
    QFETCH(QString, scheme);
    QFETCH(Failure, failure);
    QFETCH(QString, failureText);
    QFETCH(QByteArray, body);
    QFETCH(bool, keptOpen);

    FakeCorvane fake;
    QVERIFY(fake.listen());
    reply.headers = {{"Retry-After", "120"}};
    fake.setReply(QStringLiteral("/realtime.php"), reply);
    if (scheme == QLatin1String("none"))
        fake.stopListening();
    QUrl url = fake.baseUrl().resolved(QUrl(QStringLiteral("/realtime.php?v=1")));
    url.setScheme(scheme == QLatin1String("none") ? QStringLiteral("http") : scheme);

    HttpConnection connection;
    QSignalSpy finished(&connection, &HttpConnection::finished);
    const auto post = [&] {
        connection.post(url, {"Content-Type:application/x-www-form-urlencoded"}, "callsign=Q9XYZ",
                        reply.fault == Fault::NeverAnswer ? 300ms : 10s);
    };
    post();
    QVERIFY(connection.isBusy());
    QCOMPARE(finished.size(), 0); // never from inside post(): the caller is still busy
    QTRY_COMPARE(finished.size(), 1);
    QVERIFY(!connection.isBusy());
    const auto result = finished.takeFirst().first().value<HttpReply>();
    QCOMPARE(result.failure, failure);
    QVERIFY2(failureText.isEmpty() ? result.failureText.isEmpty()
                                   : result.failureText.startsWith(failureText),
             qPrintable(result.failureText));
    QCOMPARE(result.body, body);
    if (failure == Failure::None)
        QCOMPARE(result.header("retry-after"), QByteArray("120"));
    QTRY_COMPARE(fake.openRequests(), 0);
    if (fake.requests().isEmpty())
        return;
    const FakeCorvane::Request& received = fake.requests().first();
    QCOMPARE(received.method + ' ' + received.target, QStringLiteral("POST /realtime.php?v=1"));
    QCOMPARE(received.header("Host"), "127.0.0.1:" + QByteArray::number(fake.port()));
    QCOMPARE(received.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
    QCOMPARE(received.header("User-Agent"), HttpTexts::userAgent());
    QCOMPARE(received.body, QByteArray("callsign=Q9XYZ"));

    // The next request goes on the same connection only after a reply that ended exactly.
    fake.setReply(QStringLiteral("/realtime.php"), {});
    post();
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(finished.first().first().value<HttpReply>().body, QByteArray("OK"));
    QCOMPARE(fake.requests().last().connection, keptOpen ? 1 : 2);
    QVERIFY2(fake.bytesSent() < 32 << 20, qPrintable(QString::number(fake.bytesSent())));
}

void TestHttp::keepsTheConnectionAndRetriesAStaleOne()
{
    FakeCorvane fake;
    QVERIFY(fake.listen());
    const QUrl url = fake.baseUrl().resolved(QUrl(QStringLiteral("/realtime.php")));
    HttpConnection connection;
    QSignalSpy finished(&connection, &HttpConnection::finished);
    fake.setReplies(QStringLiteral("/realtime.php"), {{200, "OK", 0ms, Fault::NeverAnswer}, {}});
    connection.post(url, {}, "1", 10s);
    QTRY_COMPARE(fake.requests().size(), 1);
    connection.abort(); // silent, and its connection is not used again

    for (int serial = 2; serial <= 3; ++serial) {
        connection.post(url, {}, QByteArray::number(serial), 10s);
        QTRY_COMPARE(finished.size(), serial - 1);
    }
    // The server drops the idle connection and we post before hearing of it.
    const quint16 port = fake.port();
    fake.stopListening();
    QVERIFY(fake.listen(port));
    connection.post(url, {}, "4", 10s);
    QTRY_COMPARE(finished.size(), 3);
    QCOMPARE(finished.last().first().value<HttpReply>().body, QByteArray("OK"));

    QList<int> connections;
    for (const FakeCorvane::Request& request : fake.requests())
        connections << request.connection;
    QCOMPARE(connections, QList<int>({1, 2, 2, 3}));
}

TARVEX_TEST(TestHttp)
#include "tst_http.moc"
