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
    void writersReportWhatDidNotReachTheDisk();
    void debugEntriesSpanTheLinesOfTheirSetting();
    void timestampFollowsTheUsersLocale();
};

void TestLogs::errorBlocksFollowEachOther()
{
    TempDir dir;
    const ErrorLog log(dir.file("ErrorLog.txt"));
    QVERIFY(log.write("Corvane Error Message Returned", "reply\r\nSent Data= body"));
    QVERIFY(log.write("", "second"));

    const QRegularExpression expected(QStringLiteral(
        "^----------\r\n[^\r\n]+ - Corvane Error Message Returned\r\n =Error Report= \r\nreply\r\nSent Data= body\r\n"
        " =Error Report End= \r\n\r\n"
        "----------\r\n[^\r\n]+ - \r\n =Error Report= \r\nsecond\r\n =Error Report End= \r\n\r\n$"));
    const QString text = QString::fromUtf8(dir.read("ErrorLog.txt"));
    QVERIFY2(expected.match(text).hasMatch(), qPrintable(text));
}

void TestLogs::nonUploadedHeaderOnlyForANewFile()
{
    TempDir dir;
    const NonUploadedQsosLog log(dir.file("NotUploadedQsosLog.adi"));
    const QByteArray header = "'The qso's listed below were not uploaded to Corvane due to an error occuring.\r\n"
                              "'You should manually upload this file to Corvane.\r\n\r\n";

    QVERIFY(log.append("<CALL:1>A <EOR>"));
    QVERIFY(log.append("<CALL:1>B <EOR>"));
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), header + "<CALL:1>A <EOR>\r\n<CALL:1>B <EOR>\r\n");

    QFile::remove(log.path());
    QVERIFY(log.append("<CALL:1>C <EOR>"));
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), header + "<CALL:1>C <EOR>\r\n");

    dir.write("NotUploadedQsosLog.adi", "");
    QVERIFY(log.append("<CALL:1>D <EOR>"));
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), QByteArray("<CALL:1>D <EOR>\r\n"));
}

void TestLogs::writersReportWhatDidNotReachTheDisk()
{
    TempDir dir;
    QVERIFY(!NonUploadedQsosLog(dir.file("no/such/dir/x.adi")).append("<EOR>"));
    QVERIFY(!ErrorLog(dir.file("no/such/dir/ErrorLog.txt")).write("t", "s"));
    QVERIFY(!DebugTrace(dir.file("no/such/dir/DebugLog.txt")).write("k", "s"));
#ifdef Q_OS_LINUX
    // A full disk: the open succeeds, the write does not.
    QVERIFY(!NonUploadedQsosLog("/dev/full").append("<CALL:5>Q9XYZ <EOR>"));
#endif
}

void TestLogs::debugEntriesSpanTheLinesOfTheirSetting()
{
    TempDir dir;
    const DebugTrace trace(dir.file("DebugLog.txt"));
    QVERIFY(trace.write(TraceKey::DatagramArrival, "<contactinfo>\r\n<call>Q9XYZ</call>\r\n</contactinfo>"));
    QVERIFY(trace.write(TraceKey::LogRecord, "<EOR>"));

    const QList<QByteArray> lines = dir.read("DebugLog.txt").split('\n');
    QCOMPARE(lines.size(), 5);
    QVERIFY(lines[0].endsWith(" - Socket Date Arrival  ->  = <contactinfo>\r"));
    QCOMPARE(lines[1], QByteArray("<call>Q9XYZ</call>\r"));
    QCOMPARE(lines[2], QByteArray("</contactinfo>\r"));
    QVERIFY(lines[3].endsWith(" - Log Record  ->  = <EOR>\r"));
    QCOMPARE(lines[4], QByteArray());

    QFile::remove(trace.path());
    QVERIFY(trace.write(TraceKey::LogRecord, "again"));
    QVERIFY(dir.read("DebugLog.txt").endsWith("again\r\n"));
}

void TestLogs::timestampFollowsTheUsersLocale()
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QString us = logTimestamp(QDateTime(QDate(2011, 11, 26), QTime(14, 5, 33)));
    const QString usMidnight = logTimestamp(QDateTime(QDate(2011, 11, 26), QTime(0, 0)));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString de = logTimestamp(QDateTime(QDate(2011, 11, 26), QTime(14, 5, 33)));
    QLocale::setDefault(previous);

    QCOMPARE(us, QStringLiteral("11/26/11 2:05:33 PM"));
    QCOMPARE(usMidnight, QStringLiteral("11/26/11"));
    QCOMPARE(de, QStringLiteral("26.11.11 14:05:33"));
}

QTEST_GUILESS_MAIN(TestLogs)
#include "tst_logs.moc"
