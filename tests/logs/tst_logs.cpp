#include "TempDir.h"
#include "logs/DebugTrace.h"
#include "logs/ErrorLog.h"
#include "logs/LogFile.h"
#include "logs/NonUploadedQsosLog.h"

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QTest>

class TestLogs : public QObject
{
    Q_OBJECT

private slots:
    void errorBlocksFollowEachOther();
    void nonUploadedHeaderOnlyForANewFile();
    void debugEntriesSpanTheLinesOfTheirSetting();
    void timestampFollowsTheUsersLocale();
};

void TestLogs::errorBlocksFollowEachOther()
{
    TempDir dir;
    const ErrorLog log(dir.file("ErrorLog.txt"));
    QVERIFY(log.write("Corvane Error Message Returned", "reply\r\nSent Data= body"));
    QVERIFY(log.write("", "second"));
    const QRegularExpression twoBlocks(
        QStringLiteral("^----------\r\n[^\r\n]+ - Corvane Error Message Returned\r\n =Error Report= "
                       "\r\nreply\r\nSent Data= body\r\n"
                       " =Error Report End= \r\n\r\n----------\r\n[^\r\n]+ - \r\n =Error Report= "
                       "\r\nsecond\r\n =Error Report End= \r\n\r\n$"));
    const QString text = QString::fromUtf8(dir.read("ErrorLog.txt"));
    QVERIFY2(twoBlocks.match(text).hasMatch(), qPrintable(text));
    QVERIFY(!ErrorLog("/dev/full").write("t", "s")); // a full disk: the open succeeds, the write does not
}

void TestLogs::nonUploadedHeaderOnlyForANewFile()
{
    TempDir dir;
    const NonUploadedQsosLog log(dir.file("NotUploadedQsosLog.adi"));
    const QByteArray header =
        "'The qso's listed below were not uploaded to Corvane due to an error occuring.\r\n"
        "'You should manually upload this file to Corvane.\r\n\r\n";
    QVERIFY(log.append("<CALL:1>A <EOR>"));
    QVERIFY(log.append("<CALL:1>B <EOR>")); // the file exists: no second header
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), header + "<CALL:1>A <EOR>\r\n<CALL:1>B <EOR>\r\n");

    QFile::remove(log.path()); // deleted by the user: a new file, a new header
    QVERIFY(log.append("<CALL:1>C <EOR>"));
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), header + "<CALL:1>C <EOR>\r\n");

    dir.write("NotUploadedQsosLog.adi", ""); // emptied by the user: stays without one
    QVERIFY(log.append("<CALL:1>D <EOR>"));
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), QByteArray("<CALL:1>D <EOR>\r\n"));
    QVERIFY(!NonUploadedQsosLog("/dev/full").append("<CALL:1>E <EOR>"));
}

void TestLogs::debugEntriesSpanTheLinesOfTheirSetting()
{
    TempDir dir;
    const DebugTrace trace(dir.file("DebugLog.txt"));
    QVERIFY(trace.write(TraceKey::DatagramArrival, "<contactinfo>\r\n<call>Q9XYZ</call>"));
    QVERIFY(trace.write(TraceKey::LogRecord, "<EOR>"));
    const QRegularExpression entries(
        QStringLiteral("^[^\r\n]+ - Socket Date Arrival  ->  = <contactinfo>\r\n"
                       "<call>Q9XYZ</call>\r\n[^\r\n]+ - Log Record  ->  = <EOR>\r\n$"));
    QVERIFY(entries.match(QString::fromUtf8(dir.read("DebugLog.txt"))).hasMatch());
    QVERIFY(!DebugTrace("/dev/full").write("k", "s"));
}

void TestLogs::timestampFollowsTheUsersLocale()
{
    const QDateTime afternoon(QDate(2011, 11, 26), QTime(14, 5, 33));
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    QCOMPARE(logTimestamp(afternoon), QStringLiteral("11/26/11 2:05:33 PM"));
    QCOMPARE(logTimestamp(QDateTime(QDate(2011, 11, 26), QTime(0, 0))), QStringLiteral("11/26/11"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(logTimestamp(afternoon), QStringLiteral("26.11.11 14:05:33"));
}

QTEST_GUILESS_MAIN(TestLogs)
#include "tst_logs.moc"
