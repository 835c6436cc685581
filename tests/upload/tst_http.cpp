#include "FakeCorvane.h"
#include "TestMain.h"
#include "upload/HttpClient.h"
#include "upload/HttpTexts.h"

#include <QTest>

using namespace std::chrono_literals;
using Failure = HttpResult::Failure;
using Fault = FakeCorvane::Fault;
using Reply = FakeCorvane::Reply;
Q_DECLARE_METATYPE(FakeCorvane::Reply)

namespace {

const QString Cut = QStringLiteral("The log service closed the connection before the reply was complete");
const QString Tls = QStringLiteral(TARVEX_TEST_TLS);

// One request through `client`, waited for; the result as it came.
std::optional<HttpResult> exchange(HttpClient& client, HttpRequest request)
{
    std::optional<HttpResult> result;
    bool returned = false;
    client.start(request, [&](const HttpResult& r) {
        if (!returned || result)
            qFatal("the result came inside start() or twice");
        result = r;
    });
    returned = true;
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 20000))
        return std::nullopt;
    return result;
}

HttpRequest post(const QUrl& base, std::chrono::milliseconds timeout = 10s)
{
    HttpRequest request;
    request.url = base.resolved(QUrl(QStringLiteral("/realtime.php?v=1")));
    request.headers = {"Content-Type:application/x-www-form-urlencoded"};
    request.body = "callsign=Q9XYZ";
    request.timeout = timeout;
    return request;
}

} // namespace

class TestHttpClient : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        for (const char* name : {"http_proxy", "https_proxy", "no_proxy", "NO_PROXY"})
            qunsetenv(name);
    }
    void everyExchangeEndsInOneResult_data();
    void everyExchangeEndsInOneResult();
    void proxiesComeFromTheEnvironment_data();
    void proxiesComeFromTheEnvironment();
    void abortedTransfersEndSilently();
};

void TestHttpClient::everyExchangeEndsInOneResult_data()
{
    // clang-format off
    QTest::addColumn<Reply>("reply");
    QTest::addColumn<QString>("server"); // "none": nothing listening; "tls...": https with a test CA
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("failureText"); // its start
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("reused"); // the next request goes on the same connection
    QTest::addColumn<int>("stall");   // ms without a byte moving that end the transfer; 0: no such limit

    const QByteArray noise = QByteArray("#noise-without-any-accepting-word#").repeated(40).left(1024);
    QTest::newRow("whole") << Reply{200, "OK, stored"} << "http" << Failure::None << "" << QByteArray("OK, stored") << true << 0;
    QTest::newRow("chunked") << Reply{200, "OK, stored", 0ms, Fault::Chunked} << "http" << Failure::None << "" << QByteArray("OK, stored") << true << 0;
    QTest::newRow("no length: to the end") << Reply{200, "OK, stored", 0ms, Fault::NoLength} << "http" << Failure::None << "" << QByteArray("OK, stored") << false << 0;
    QTest::newRow("redirect not followed") << Reply{302, "Moved", 0ms, Fault::None, 0, {{"Location", "/realtime.php?moved"}}} << "http" << Failure::None << "" << QByteArray("Moved") << true << 0;
    QTest::newRow("over the body limit") << Reply{200, {}, 0ms, Fault::Garbage, 1 << 20} << "http" << Failure::None << "" << noise << true << 0;
    QTest::newRow("length cut") << Reply{200, "OK, stored", 0ms, Fault::CloseHalfway} << "http" << Failure::Cut << Cut << QByteArray("OK, s") << false << 0;
    QTest::newRow("reset half-way") << Reply{200, "OK, stored", 0ms, Fault::ResetHalfway} << "http" << Failure::Cut << Cut << QByteArray() << false << 0;
    QTest::newRow("not HTTP") << Reply{200, "<html>OK</html>", 0ms, Fault::NotHttp} << "http" << Failure::Other << "The exchange with the log service failed: " << QByteArray() << false << 0;
    QTest::newRow("never answering") << Reply{200, "OK", 0ms, Fault::NeverAnswer} << "http" << Failure::Timeout << "No answer from the log service within 300 ms" << QByteArray() << false << 0;
    QTest::newRow("stalled") << Reply{200, "OK", 0ms, Fault::NeverAnswer} << "http" << Failure::Timeout << "No progress with the log service for 300 ms; the transfer was stopped" << QByteArray() << false << 300;
    // Far longer in all than the stall limit, never quiet that long.
    QTest::newRow("slow but moving") << Reply{200, "OK, stored", 100ms, Fault::Trickle} << "http" << Failure::None << "" << QByteArray("OK, stored") << true << 300;
    QTest::newRow("nothing listening") << Reply{} << "none" << Failure::Connect << "Could not reach the log service: Connection refused" << QByteArray() << false << 0;
    QTest::newRow("https to a plain server") << Reply{} << "https" << Failure::Tls << "Secure connection to the log service failed: " << QByteArray() << false << 0;
    QTest::newRow("https, trusted") << Reply{} << "tls" << Failure::None << "" << QByteArray("OK") << true << 0;
    QTest::newRow("https, only the system's CAs") << Reply{} << "tls, system CAs" << Failure::Tls << "Secure connection to the log service failed: " << QByteArray() << false << 0;
    QTest::newRow("https, wrong host name") << Reply{} << "tls, localhost" << Failure::Tls << "Secure connection to the log service failed: " << QByteArray() << false << 0;
    // clang-format on
}

void TestHttpClient::everyExchangeEndsInOneResult()
{
    QFETCH(Reply, reply);
    QFETCH(QString, server);
    QFETCH(Failure, failure);
    QFETCH(QString, failureText);
    QFETCH(QByteArray, body);
    QFETCH(bool, reused);
    QFETCH(int, stall);

    FakeCorvane fake;
    QVERIFY(!server.startsWith(QLatin1String("tls")) ||
            fake.useTls(Tls + "/server.pem", Tls + "/server.key"));
    QVERIFY(fake.listen());
    reply.headers.append(std::pair<QByteArray, QByteArray>("Retry-After", "120"));
    fake.setReply(QStringLiteral("/realtime.php"), reply);
    if (server == QLatin1String("none"))
        fake.stopListening();
    QUrl base = fake.baseUrl();
    if (server == QLatin1String("https"))
        base.setScheme(server);
    if (server.endsWith(QLatin1String("localhost")))
        base.setHost(QStringLiteral("localhost"));

    HttpClient client;
    if (!server.endsWith(QLatin1String("system CAs")))
        client.setCaFile(Tls + "/ca.pem");
    HttpRequest request = post(base, reply.fault == Fault::NeverAnswer && stall == 0 ? 300ms : 10s);
    request.stallTimeout = std::chrono::milliseconds(stall);
    const auto result = exchange(client, request);
    QVERIFY(result);
    QCOMPARE(result->failure, failure);
    QVERIFY2(failureText.isEmpty() ? result->failureText.isEmpty()
                                   : result->failureText.startsWith(failureText),
             qPrintable(result->failureText));
    QCOMPARE(result->whole, failure == Failure::None);
    QVERIFY(result->body.startsWith(body));
    QCOMPARE(result->plainHttpOverTls, server == QLatin1String("https"));
    if (result->status != 0)
        QCOMPARE(result->header("retry-after"), QByteArray("120"));
    if (fake.requests().isEmpty())
        return;
    QCOMPARE(fake.requests().first().head,
             "POST /realtime.php?v=1 HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(fake.port()) +
                 "\r\nContent-Type:application/x-www-form-urlencoded\r\nContent-Length: 14\r\nUser-Agent: " +
                 HttpTexts::userAgent() + "\r\nConnection: keep-alive");
    QCOMPARE(fake.requests().first().body, QByteArray("callsign=Q9XYZ"));
    QCOMPARE(fake.requests().size(), 1);

    fake.setReply(QStringLiteral("/realtime.php"), {});
    const auto next = exchange(client, post(base));
    QVERIFY(next && next->whole);
    QCOMPARE(next->body, QByteArray("OK"));
    QCOMPARE(fake.requests().last().connection, reused ? 1 : 2);
}

void TestHttpClient::proxiesComeFromTheEnvironment_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("noProxy");
    QTest::addColumn<QString>("proxied"); // what the proxy was asked; empty: the service was asked directly
    QTest::newRow("http in absolute form")
        << "http" << QByteArray("http_proxy") << QByteArray() << "POST http://";
    QTest::newRow("https tunnels") << "https" << QByteArray("https_proxy") << QByteArray()
                                   << "CONNECT 127.0.0.1:";
    QTest::newRow("no_proxy") << "http" << QByteArray("http_proxy") << QByteArray("127.0.0.1") << "";
}

void TestHttpClient::proxiesComeFromTheEnvironment()
{
    QFETCH(QString, scheme);
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, noProxy);
    QFETCH(QString, proxied);
    FakeCorvane service;
    FakeCorvane proxy;
    QVERIFY(service.listen() && proxy.listen());
    cleanup(); // the suite's NO_PROXY too
    qputenv(variable.constData(), proxy.baseUrl().toEncoded());
    qputenv("no_proxy", noProxy);
    QUrl base = service.baseUrl();
    base.setScheme(scheme);

    HttpClient client;
    QVERIFY(exchange(client, post(base)));
    const QList<FakeCorvane::Request>& asked = proxied.isEmpty() ? service.requests() : proxy.requests();
    QCOMPARE(asked.size(), 1);
    QVERIFY2((asked[0].method + u' ' + asked[0].target).startsWith(proxied), qPrintable(asked[0].target));
    if (scheme == QLatin1String("http"))
        QCOMPARE(asked[0].path, QStringLiteral("/realtime.php"));
}

void TestHttpClient::abortedTransfersEndSilently()
{
    FakeCorvane fake;
    QVERIFY(fake.listen());
    fake.setReply(QStringLiteral("/realtime.php"), {200, "OK", 0ms, Fault::NeverAnswer});
    auto client = std::make_unique<HttpClient>();
    int silent = 0;
    client->abort(client->start(post(fake.baseUrl()), [&](const HttpResult&) { ++silent; }));
    client->start(post(fake.baseUrl()), [&](const HttpResult&) { ++silent; });
    QTRY_COMPARE(fake.requests().size(), 1);
    client.reset();
    QTRY_COMPARE(fake.openRequests(), 0); // the request under way is dropped with its client
    QCOMPARE(silent, 0);
}

TARVEX_TEST(TestHttpClient)
#include "tst_http.moc"
