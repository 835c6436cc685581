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
    void entriesAreWrittenAsReadersExpect();
    void nonUploadedHeaderOnlyForANewFile();
    void aFailedAppendLeavesTheFileAsItWas();
    void newFilesArePrivateAndNeverMadeThroughALink();
    void repliesAreSafeInTheLogs_data();
    void repliesAreSafeInTheLogs();
    void timestampFollowsTheUsersLocale();
};

void TestLogs::entriesAreWrittenAsReadersExpect()
{
    TempDir dir;
    const ErrorLog errors(dir.file("ErrorLog.txt"));
    QVERIFY(errors.write("Corvane Error Message Returned", "reply\r\nSent Data= body"));
    QVERIFY(errors.write("", "second"));
    const QRegularExpression twoBlocks(QStringLiteral(
        "^----------\r\n[^\r\n]+ - Corvane Error Message Returned\r\n =Error Report= "
        "\r\nreply\r\nSent Data= body\r\n =Error Report End= \r\n\r\n"
        "----------\r\n[^\r\n]+ - \r\n =Error Report= \r\nsecond\r\n =Error Report End= \r\n\r\n$"));
    QVERIFY2(twoBlocks.match(QString::fromUtf8(dir.read("ErrorLog.txt"))).hasMatch(),
             dir.read("ErrorLog.txt").constData());
    QVERIFY(!ErrorLog("/dev/full").write("t", "s")); // a full disk: the open succeeds, the write does not

    const DebugTrace trace(dir.file("DebugLog.txt"));
    QVERIFY(trace.write(TraceKey::DatagramArrival, "<contactinfo>\r\n<call>\x1bQ9XYZ</call>"));
    QVERIFY(trace.write(TraceKey::LogRecord, "<EOR>"));
    const QRegularExpression twoEntries(
        QStringLiteral("^[^\r\n]+ - Socket Date Arrival  ->  = <contactinfo>\r\n<call>\uFFFDQ9XYZ</call>\r\n"
                       "[^\r\n]+ - Log Record  ->  = <EOR>\r\n$"));
    QVERIFY2(twoEntries.match(QString::fromUtf8(dir.read("DebugLog.txt"))).hasMatch(),
             dir.read("DebugLog.txt").constData());
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
    const QString path = dir.file("NotUploadedQsosLog.adi");
    {
        FileSizeLimit full(10);
        QVERIFY(!appendToFileSynced(path, "record\r\n", nullptr, "header\r\n"));
    }
    QVERIFY(!dir.exists("NotUploadedQsosLog.adi")); // so the next write starts with the header
    QVERIFY(appendToFileSynced(path, "first\r\n", nullptr, "header\r\n"));
    {
        FileSizeLimit full(20);
        QString error;
        QVERIFY(!appendToFileSynced(path, "second, too long\r\n", &error, "header\r\n"));
        QCOMPARE(error, QStringLiteral("File too large")); // the system's words, not "Unknown error"
    }
    QVERIFY(appendToFile(path, "third\r\n")); // not glued to a cut one
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), QByteArray("header\r\nfirst\r\nthird\r\n"));
}

void TestLogs::newFilesArePrivateAndNeverMadeThroughALink()
{
    TempDir dir;
    QVERIFY(appendToFile(dir.file("ErrorLog.txt"), "new\n"));
    QCOMPARE(QFile::permissions(dir.file("ErrorLog.txt")) & 0x0FFF,
             QFileDevice::ReadUser | QFileDevice::WriteUser);
    // A link the user placed to a file is followed; one to where no file is, never.
    dir.write("synced.txt", "old\n");
    QVERIFY(QFile::link(dir.file("synced.txt"), dir.file("placed.txt")));
    QVERIFY(appendToFile(dir.file("placed.txt"), "new\n"));
    QCOMPARE(dir.read("synced.txt"), QByteArray("old\nnew\n"));
    QVERIFY(QFile::link(dir.file("planted.txt"), dir.file("DebugLog.txt")));
    QVERIFY(!appendToFile(dir.file("DebugLog.txt"), "new\n"));
    QVERIFY(!dir.exists("planted.txt"));
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
    QTest::newRow("shortest masked password") << QByteArray("OK abcd") << "abcd" << "OK ********";
    QTest::newRow("Latin-1") << QByteArray("Fehler \xE4") << "secret" << QString::fromUtf8("Fehler ä");
    QTest::newRow("longest") << QByteArray(2000, 'x') << "secret" << QString(2000, QLatin1Char('x'));
    QTest::newRow("cut") << QByteArray(2001, 'x') << "secret"
                         << QString(2000, QLatin1Char('x')) +
                                "\r\n[cut: the first 2000 of 2001 characters are shown]";
}

void TestLogs::repliesAreSafeInTheLogs()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, password);
    QTEST(LogText::safeReply(reply, password), "logged");
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
