#include "FileSizeLimit.h"
#include "TempDir.h"
#include "TestMain.h"
#include "logs/DebugTrace.h"
#include "logs/ErrorLog.h"
#include "logs/LogFile.h"
#include "logs/LogText.h"
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
    void aFailedAppendLeavesTheFileAsItWas();
    void newFilesArePrivateAndNeverMadeThroughALink_data();
    void newFilesArePrivateAndNeverMadeThroughALink();
    void repliesAreSafeInTheLogs_data();
    void repliesAreSafeInTheLogs();
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
        "'You should manually upload this file to Corvane.\r\n<EOH>\r\n\r\n";
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

void TestLogs::aFailedAppendLeavesTheFileAsItWas()
{
    TempDir dir;
    const NonUploadedQsosLog log(dir.file("NotUploadedQsosLog.adi"));
    {
        FileSizeLimit full(10);
        QVERIFY(!log.append("<CALL:1>A <EOR>"));
    }
    QVERIFY(!dir.exists("NotUploadedQsosLog.adi")); // so the next write starts with the header
    QVERIFY(log.append("<CALL:1>A <EOR>"));
    QVERIFY(dir.read("NotUploadedQsosLog.adi").startsWith(NonUploadedQsosLog::header().toUtf8()));
    const QByteArray before = dir.read("NotUploadedQsosLog.adi");
    {
        FileSizeLimit full(before.size() + 5);
        QString error;
        QVERIFY(!log.append("<CALL:1>B <EOR>", &error));
        QCOMPARE(error, QStringLiteral("File too large")); // the system's words, not "Unknown error"
        QVERIFY(!ErrorLog(dir.file("NotUploadedQsosLog.adi")).write("t", "s"));
    }
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), before); // not a byte of the cut record
    QVERIFY(log.append("<CALL:1>C <EOR>"));
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), before + "<CALL:1>C <EOR>\r\n");
}

void TestLogs::newFilesArePrivateAndNeverMadeThroughALink_data()
{
    QTest::addColumn<QString>("linkTo"); // what ErrorLog.txt is a link to, if anything
    QTest::addColumn<bool>("written");
    QTest::newRow("a new file") << QString() << true;
    QTest::newRow("a link the user placed to a file") << "synced.txt" << true;
    QTest::newRow("a link to where no file is") << "planted.txt" << false;
}

void TestLogs::newFilesArePrivateAndNeverMadeThroughALink()
{
    QFETCH(QString, linkTo);
    QFETCH(bool, written);
    TempDir dir;
    dir.write("synced.txt", "old\n");
    if (!linkTo.isEmpty())
        QVERIFY(QFile::link(dir.file(linkTo), dir.file("ErrorLog.txt")));
    QCOMPARE(appendToFile(dir.file("ErrorLog.txt"), "new\n"), written);
    const QString target = dir.file(linkTo.isEmpty() ? QStringLiteral("ErrorLog.txt") : linkTo);
    QCOMPARE(QFileInfo::exists(target), written);
    if (linkTo.isEmpty())
        QCOMPARE(QFile::permissions(target) & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);
    if (linkTo == QLatin1String("synced.txt"))
        QCOMPARE(dir.read(linkTo), QByteArray("old\nnew\n"));
}

void TestLogs::repliesAreSafeInTheLogs_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("logged");
    QTest::newRow("plain words") << QByteArray("Invalid login\r\ntry again") << "secret"
                                 << "Invalid login\r\ntry again";
    QTest::newRow("control characters")
        << QByteArray("a\x07\x1b[2Jb\tc") << "secret" << QString::fromUtf8("a\uFFFD\uFFFD[2Jb\tc");
    QTest::newRow("block markers") << QByteArray("x\n----------\n =Error Report End= \ny") << "secret"
                                   << "x\n  ----------\n   =Error Report End= \ny";
    QTest::newRow("password echoed plain and encoded")
        << QByteArray("got password=p%26ss+w or p&ss w") << "p&ss w"
        << "got password=******** or ********";
    QTest::newRow("short password left alone") << QByteArray("OK abc") << "abc"
                                               << "OK abc";
    QTest::newRow("Latin-1") << QByteArray("Fehler \xE4") << "secret" << QString::fromUtf8("Fehler ä");
}

void TestLogs::repliesAreSafeInTheLogs()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, password);
    QTEST(LogText::safeReply(reply, password), "logged");

    // 10 MiB of junk is cut to a stated length.
    const QString junk = LogText::safeReply(QByteArray(10 << 20, 'x'), password);
    QVERIFY(junk.size() < LogText::ReplyLimit + 100);
    QVERIFY(junk.endsWith(QStringLiteral("[cut: the first 2000 of 10485760 characters are shown]")));
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

TARVEX_TEST(TestLogs)
#include "tst_logs.moc"
