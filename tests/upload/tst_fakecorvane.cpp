#include "FakeCorvane.h"

#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

using namespace std::chrono_literals;

namespace {

// One request at a time through Qt's own client, which keeps the connection.
int statusOf(QNetworkAccessManager& network, const QUrl& url, QHttpMultiPart* multipart = nullptr)
{
    QNetworkRequest request(url);
    if (!multipart)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    QNetworkReply* reply = multipart ? network.post(request, multipart) : network.post(request, QByteArray("a=b"));
    if (multipart)
        multipart->setParent(reply);
    if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 5000))
        return -1;
    reply->deleteLater();
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

// Later tests trust what the fake reports, so the fake is checked against Qt's client.
class TestFakeCorvane : public QObject
{
    Q_OBJECT

private slots:
    void multipartUploadSplitsIntoParts();
    void repliesAreTakenInTurnOnOneConnection();
};

void TestFakeCorvane::multipartUploadSplitsIntoParts()
{
    FakeCorvane fake;
    QVERIFY(fake.listen());
    QNetworkAccessManager network;

    auto* multipart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart field;
    field.setHeader(QNetworkRequest::ContentDispositionHeader, QByteArray("form-data; name=\"callsign\""));
    field.setBody("Q9XYZ");
    QHttpPart file;
    file.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QByteArray("form-data; name=\"file\"; filename=\"Not Uploaded; 1.adi\""));
    file.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/octet-stream"));
    const QByteArray adif = "header\r\n--not a boundary\r\n<CALL:5>Q9XYZ <EOR>\r\n";
    file.setBody(adif);
    multipart->append(field);
    multipart->append(file);

    QCOMPARE(statusOf(network, fake.baseUrl().resolved(QUrl("/putlogs.php")), multipart), 200);
    QCOMPARE(fake.requests().size(), 1);
    const FakeCorvane::Request& request = fake.requests().first();
    const QList<FakeCorvane::Part> parts = FakeCorvane::multipartParts(request.body, request.header("content-type"));
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[0].name, QByteArray("callsign"));
    QCOMPARE(parts[0].filename, QByteArray());
    QCOMPARE(parts[0].data, QByteArray("Q9XYZ"));
    QCOMPARE(parts[1].name, QByteArray("file"));
    QCOMPARE(parts[1].filename, QByteArray("Not Uploaded; 1.adi"));
    QCOMPARE(parts[1].contentType, QByteArray("application/octet-stream"));
    QCOMPARE(parts[1].data, adif);

    QVERIFY(FakeCorvane::multipartParts(request.body.chopped(10), request.header("content-type")).isEmpty());
    QVERIFY(FakeCorvane::multipartParts(request.body, "text/plain").isEmpty());
}

void TestFakeCorvane::repliesAreTakenInTurnOnOneConnection()
{
    FakeCorvane fake;
    QVERIFY(fake.listen());
    fake.setReplies(QStringLiteral("/realtime.php"), {{503, "busy"}, {200, "OK", 20ms}, {500, "down"}});
    QNetworkAccessManager network;
    const QUrl realtime = fake.baseUrl().resolved(QUrl("/realtime.php?x=1"));

    QList<int> statuses;
    for (int i = 0; i < 4; ++i)
        statuses.append(statusOf(network, realtime));
    statuses.append(statusOf(network, fake.baseUrl().resolved(QUrl("/other.php"))));
    QCOMPARE(statuses, QList<int>({503, 200, 500, 500, 404}));

    QCOMPARE(fake.requests().size(), 5);
    for (const FakeCorvane::Request& request : fake.requests()) {
        QCOMPARE(request.connection, 1);
        QCOMPARE(request.body, QByteArray("a=b"));
    }
    QCOMPARE(fake.requests().first().path, QStringLiteral("/realtime.php"));
    QCOMPARE(fake.maxOpenRequests(), 1);
}

QTEST_GUILESS_MAIN(TestFakeCorvane)
#include "tst_fakecorvane.moc"
