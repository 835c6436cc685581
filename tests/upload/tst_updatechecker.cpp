#include "FakeCorvane.h"
#include "upload/UpdateChecker.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Fault = FakeCorvane::Fault;

namespace {

const QString Running = QStringLiteral("1.0.0");

QString orderName(std::partial_ordering order)
{
    if (order == std::partial_ordering::unordered)
        return QStringLiteral("not a version");
    return order > 0 ? QStringLiteral("newer") : order < 0 ? QStringLiteral("older") : QStringLiteral("same");
}

QString verdictName(UpdateVerdict verdict)
{
    switch (verdict) {
    case UpdateVerdict::Newer:
        return QStringLiteral("newer");
    case UpdateVerdict::NotNewer:
        return QStringLiteral("not newer");
    case UpdateVerdict::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

} // namespace

class TestUpdateChecker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void compareVersions_data();
    void compareVersions();
    void checkEndsInOneVerdict_data();
    void checkEndsInOneVerdict();
    void oneCheckAtATime();

private:
    std::unique_ptr<FakeCorvane> m_fake;
    std::unique_ptr<QNetworkAccessManager> m_network;
};

void TestUpdateChecker::init()
{
    m_fake = std::make_unique<FakeCorvane>();
    QVERIFY(m_fake->listen());
    m_network = std::make_unique<QNetworkAccessManager>();
}

void TestUpdateChecker::cleanup()
{
    m_network.reset();
    m_fake.reset();
}

void TestUpdateChecker::compareVersions_data()
{
    QTest::addColumn<QString>("available");
    QTest::addColumn<QString>("running");
    QTest::addColumn<QString>("order");

    QTest::newRow("revision up") << "1.0.1" << Running << "newer";
    QTest::newRow("same") << "1.0.0" << Running << "same";
    QTest::newRow("older") << "0.9.9" << Running << "older";
    QTest::newRow("major up beats minor") << "2.0.0"
                                          << "1.9.9"
                                          << "newer";
    QTest::newRow("ten after nine") << "1.0.10"
                                    << "1.0.9"
                                    << "newer";
    QTest::newRow("nine before ten") << "1.0.9"
                                     << "1.0.10"
                                     << "older";
    QTest::newRow("CR LF after") << "1.0.0\r\n" << Running << "same";
    QTest::newRow("LF after a newer one") << "1.0.1\n" << Running << "newer";
    QTest::newRow("blanks and tabs") << " \t1.0.1 " << Running << "newer";
    QTest::newRow("missing field is zero") << "1.0" << Running << "same";
    QTest::newRow("leading zeros") << "1.0.010"
                                   << "1.0.9"
                                   << "newer";
    QTest::newRow("HTML page") << "<html><body>Not Found</body></html>" << Running << "not a version";
    QTest::newRow("empty") << "" << Running << "not a version";
    QTest::newRow("white space only") << "\r\n" << Running << "not a version";
    QTest::newRow("prefix") << "v1.0.1" << Running << "not a version";
    QTest::newRow("suffix") << "1.0.1-beta" << Running << "not a version";
    QTest::newRow("empty field") << "1..1" << Running << "not a version";
    QTest::newRow("two lines") << "1.0.1\r\n1.0.2" << Running << "not a version";
    QTest::newRow("other digits") << QStringLiteral("\u0661.\u0660.\u0661") << Running << "not a version";
    QTest::newRow("too many digits") << "10000000000.0.0" << Running << "not a version";
    QTest::newRow("running not a version") << "1.0.1"
                                           << ""
                                           << "not a version";
}

void TestUpdateChecker::compareVersions()
{
    QFETCH(QString, available);
    QFETCH(QString, running);
    QFETCH(QString, order);
    QCOMPARE(orderName(::compareVersions(available, running)), order);
}

void TestUpdateChecker::checkEndsInOneVerdict_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QString>("verdict");
    QTest::addColumn<QString>("available");

    const auto none = static_cast<int>(Fault::None);
    QTest::newRow("newer") << 200 << QByteArray("1.0.1") << none << "newer"
                           << "1.0.1";
    QTest::newRow("equal") << 200 << QByteArray("1.0.0") << none << "not newer"
                           << "1.0.0";
    QTest::newRow("older") << 200 << QByteArray("0.9.9") << none << "not newer"
                           << "0.9.9";
    QTest::newRow("equal with a line break") << 200 << QByteArray("1.0.0\r\n") << none << "not newer"
                                             << "1.0.0";
    QTest::newRow("newer behind a byte-order mark") << 200
                                                    << QByteArray("\xEF\xBB\xBF"
                                                                  "1.0.1\r\n")
                                                    << none << "newer"
                                                    << "1.0.1";
    QTest::newRow("HTML page") << 200 << QByteArray("<html><body>Moved</body></html>") << none << "failed"
                               << "";
    QTest::newRow("not found") << 404 << QByteArray("1.0.1") << none << "failed"
                               << "";
    QTest::newRow("server error") << 500 << QByteArray("1.0.1") << none << "failed"
                                  << "";
    QTest::newRow("long reply") << 200 << QByteArray() << static_cast<int>(Fault::Garbage) << "failed"
                                << "";
    QTest::newRow("cut off") << 200 << QByteArray("1.0.10") << static_cast<int>(Fault::CloseHalfway)
                             << "failed"
                             << "";
    QTest::newRow("no answer") << 200 << QByteArray("1.0.1") << static_cast<int>(Fault::NeverAnswer)
                               << "failed"
                               << "";
    QTest::newRow("nobody listening") << 0 << QByteArray() << none << "failed"
                                      << "";
}

void TestUpdateChecker::checkEndsInOneVerdict()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, fault);
    QFETCH(QString, verdict);
    QFETCH(QString, available);

    m_fake->setReply(QStringLiteral("/files/TarvexVer.txt"),
                     {status, body, 0ms, static_cast<Fault>(fault), 64 * 1024});
    if (status == 0)
        m_fake->stopListening();

    UpdateChecker checker(m_network.get());
    checker.setTimeout(200ms);
    QList<UpdateCheckResult> results;
    connect(&checker, &UpdateChecker::finished, this,
            [&results](const UpdateCheckResult& result) { results.append(result); });
    QVERIFY(checker.check(m_fake->baseUrl(), Running));
    QVERIFY(checker.isRunning());
    QCOMPARE(results.size(), 0);
    QTRY_COMPARE(results.size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(results.size(), 1);

    QVERIFY(!checker.isRunning());
    QCOMPARE(verdictName(results.first().verdict), verdict);
    QCOMPARE(results.first().available, available);
    QCOMPARE(results.first().failure.isEmpty(), verdict != QLatin1String("failed"));
    QTRY_COMPARE(m_fake->openRequests(), 0);
}

void TestUpdateChecker::oneCheckAtATime()
{
    m_fake->setReply(QStringLiteral("/files/TarvexVer.txt"), {200, "1.0.1", 100ms});
    UpdateChecker checker(m_network.get());
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    QVERIFY(checker.check(m_fake->baseUrl(), Running));
    QVERIFY(!checker.check(m_fake->baseUrl(), Running));
    QVERIFY(finished.wait());
    QCOMPARE(m_fake->requests().size(), 1);

    // Once over, the next check may start.
    QVERIFY(checker.check(m_fake->baseUrl(), Running));
    QVERIFY(finished.wait());
    QCOMPARE(finished.count(), 2);
}

QTEST_GUILESS_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
