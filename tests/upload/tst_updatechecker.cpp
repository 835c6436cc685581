#include "FakeCorvane.h"
#include "TestMain.h"
#include "upload/HttpClient.h"
#include "upload/UpdateChecker.h"

#include <QTest>

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;
using Reply = FakeCorvane::Reply;
Q_DECLARE_METATYPE(FakeCorvane::Reply)
Q_DECLARE_METATYPE(UpdateVerdict)

class TestUpdateChecker : public QObject
{
    Q_OBJECT

private slots:
    void compareVersions_data();
    void compareVersions();
    void checkEndsInOneVerdict_data();
    void checkEndsInOneVerdict();
};

void TestUpdateChecker::compareVersions_data()
{
    // clang-format off
    QTest::addColumn<QString>("available");
    QTest::addColumn<QString>("running");
    QTest::addColumn<int>("order"); // 2: not a version

    QTest::newRow("revision up") << "1.0.1" << "1.0.0" << 1;
    QTest::newRow("same") << "1.0.0" << "1.0.0" << 0;
    QTest::newRow("older") << "0.9.9" << "1.0.0" << -1;
    QTest::newRow("ten after nine") << "1.0.10" << "1.0.9" << 1;
    QTest::newRow("CR LF after") << "1.0.0\r\n" << "1.0.0" << 0;
    QTest::newRow("missing field is zero") << "1.0" << "1.0.0" << 0;
    QTest::newRow("one more field") << "1.0.0.1" << "1.0.0" << 1;
    QTest::newRow("HTML page") << "<html><body>Not Found</body></html>" << "1.0.0" << 2;
    QTest::newRow("prefix") << "v1.0.1" << "1.0.0" << 2;
    QTest::newRow("suffix") << "1.0.1-beta" << "1.0.0" << 2;
    QTest::newRow("too many digits") << "10000000000.0.0" << "1.0.0" << 2;
    // clang-format on
}

void TestUpdateChecker::compareVersions()
{
    QFETCH(QString, available);
    QFETCH(QString, running);
    QFETCH(int, order);
    const std::partial_ordering found = ::compareVersions(available, running);
    QCOMPARE(found == std::partial_ordering::unordered ? 2 : found < 0 ? -1 : found > 0 ? 1 : 0, order);
}

void TestUpdateChecker::checkEndsInOneVerdict_data()
{
    // clang-format off
    QTest::addColumn<Reply>("reply"); // status 0: nobody listening
    QTest::addColumn<UpdateVerdict>("verdict");
    QTest::addColumn<QString>("available");

    QTest::newRow("newer") << Reply{200, "1.0.1"} << UpdateVerdict::Newer << "1.0.1";
    QTest::newRow("equal, CR LF after") << Reply{200, "1.0.0\r\n"} << UpdateVerdict::NotNewer << "1.0.0";
    QTest::newRow("behind a byte-order mark") << Reply{200, "\xEF\xBB\xBF" "1.0.1"} << UpdateVerdict::Newer << "1.0.1";
    QTest::newRow("HTML page") << Reply{200, "<html><body>Moved</body></html>"} << UpdateVerdict::Failed << "";
    QTest::newRow("not found") << Reply{404, "1.0.1"} << UpdateVerdict::Failed << "";
    QTest::newRow("too long") << Reply{200, {}, 0ms, Fault::Garbage, 64 * 1024} << UpdateVerdict::Failed << "";
    QTest::newRow("nobody listening") << Reply{0, {}} << UpdateVerdict::Failed << "";
    // clang-format on
}

void TestUpdateChecker::checkEndsInOneVerdict()
{
    QFETCH(Reply, reply);
    QFETCH(UpdateVerdict, verdict);
    QFETCH(QString, available);

    FakeCorvane fake;
    QVERIFY(fake.listen());
    fake.setReply(QStringLiteral("/files/TarvexVer.txt"), reply);
    if (reply.status == 0)
        fake.stopListening();
    HttpClient http;
    UpdateChecker checker(http);
    checker.setTimeout(200ms);
    QList<UpdateCheckResult> results;
    connect(&checker, &UpdateChecker::finished, this,
            [&results](const UpdateCheckResult& r) { results << r; });

    QVERIFY(checker.check(fake.baseUrl(), QStringLiteral("1.0.0")));
    QVERIFY(!checker.check(fake.baseUrl(), QStringLiteral("1.0.0"))); // one at a time
    QCOMPARE(results.size(), 0);
    QTRY_COMPARE(results.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(results.size(), 1);
    QVERIFY(!checker.isRunning());
    QCOMPARE(results.first().verdict, verdict);
    QCOMPARE(results.first().available, available);
    QCOMPARE(results.first().failure.isEmpty(), verdict != UpdateVerdict::Failed);
    QCOMPARE(fake.requests().size(), int(reply.status != 0));
    QTRY_COMPARE(fake.openRequests(), 0);
}

TARVEX_TEST(TestUpdateChecker)
#include "tst_updatechecker.moc"
