#include "upload/ReplyVerdict.h"

#include <QTest>

class TestReplyVerdict : public QObject
{
    Q_OBJECT

private slots:
    void judgesTheJudgedPartOnly_data();
    void judgesTheJudgedPartOnly();
};

void TestReplyVerdict::judgesTheJudgedPartOnly_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("accepted");

    const QByteArray filler(ReplyReadLimit, 'x');
    QTest::newRow("OK") << QByteArray("OK") << true;
    QTest::newRow("Modified") << QByteArray("Record Modified") << true;
    QTest::newRow("Duplicate") << QByteArray("Duplicate") << true;
    QTest::newRow("inside a longer word") << QByteArray("BOOKING CONFIRMED") << true;
    QTest::newRow("lower case ok") << QByteArray("ok") << false;
    QTest::newRow("lower case words") << QByteArray("modified duplicate") << false;
    QTest::newRow("refusal") << QByteArray("Error: invalid login") << false;
    QTest::newRow("empty") << QByteArray() << false;
    QTest::newRow("OK ends at the limit") << filler.left(ReplyReadLimit - 2) + "OK" << true;
    QTest::newRow("OK straddles the limit") << filler.left(ReplyReadLimit - 1) + "OK" << false;
    QTest::newRow("OK beyond the limit") << filler + "OK Modified Duplicate" << false;
}

void TestReplyVerdict::judgesTheJudgedPartOnly()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, accepted);
    QCOMPARE(isAcceptedReply(reply), accepted);
}

QTEST_GUILESS_MAIN(TestReplyVerdict)
#include "tst_replyverdict.moc"
