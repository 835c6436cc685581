#include "TempDir.h"
#include "settings/ProfileFile.h"

#include <QDir>
#include <QFile>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif
#include <QTest>

class TestProfileFile : public QObject
{
    Q_OBJECT

private slots:
    void readsNamesWithoutRegardToCaseOrBlanks_data();
    void readsNamesWithoutRegardToCaseOrBlanks();
    void writesOneLineAndKeepsTheRest_data();
    void writesOneLineAndKeepsTheRest();
    void replacesTheFileAtomically();
    void refusesReadOnlyFilesAndDirectories();
    void keepsThePasswordPrivate();
};

void TestProfileFile::readsNamesWithoutRegardToCaseOrBlanks_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    const QString settings = "; a comment\r\n[Settings]\r\nUDPPort=5000\r\n  CorvaneCallsign =  Q9XYZ  \r\n"
                             "Empty=\r\n\r\n[Other]\r\nUDPPort=1\r\n";
    QTest::newRow("exact") << settings << "Settings" << "UDPPort" << "5000";
    QTest::newRow("case of key and section") << settings << "SETTINGS" << "udpport" << "5000";
    QTest::newRow("blanks around name and value") << settings << "Settings" << "CorvaneCallsign" << "Q9XYZ";
    QTest::newRow("empty value") << settings << "Settings" << "Empty" << "";
    QTest::newRow("missing key") << settings << "Settings" << "Debug" << "";
    QTest::newRow("other section") << settings << "Other" << "UDPPort" << "1";
    QTest::newRow("missing section") << settings << "Nope" << "UDPPort" << "";
    QTest::newRow("key of another section not seen") << "[A]\nx=1\n[B]\n" << "B" << "x" << "";
    QTest::newRow("lines ended by LF only") << "[Settings]\nUDPPort=7\n" << "Settings" << "UDPPort" << "7";
    QTest::newRow("section header with blanks") << "[ Settings ]\r\nk=v" << "settings" << "k" << "v";
    QTest::newRow("value holding =") << "[S]\r\nk=a=b\r\n" << "S" << "k" << "a=b";
    QTest::newRow("no section line") << "k=v\r\n" << "S" << "k" << "";
}

void TestProfileFile::readsNamesWithoutRegardToCaseOrBlanks()
{
    QFETCH(QString, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(ProfileFile::value(file, section, key), value);
}

void TestProfileFile::writesOneLineAndKeepsTheRest_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("after");

    QTest::newRow("replace in place, other lines untouched")
        << "; keep me\r\n[Settings]\r\nA=1\r\n  udpport = 12060 \r\nB=2\r\n"
        << "UDPPort" << "5000"
        << "; keep me\r\n[Settings]\r\nA=1\r\nUDPPort=5000\r\nB=2\r\n";
    QTest::newRow("new key after the section's last entry")
        << "[Settings]\r\nA=1\r\n\r\n[Other]\r\nC=3\r\n"
        << "Debug" << "False"
        << "[Settings]\r\nA=1\r\nDebug=False\r\n\r\n[Other]\r\nC=3\r\n";
    QTest::newRow("new section at the end")
        << "[Other]\r\nC=3\r\n" << "Debug" << "True" << "[Other]\r\nC=3\r\n[Settings]\r\nDebug=True\r\n";
    QTest::newRow("empty file") << "" << "Debug" << "False" << "[Settings]\r\nDebug=False\r\n";
    QTest::newRow("LF endings become CR LF")
        << "[Settings]\nA=1" << "A" << "2" << "[Settings]\r\nA=2\r\n";
    QTest::newRow("empty value") << "[Settings]\r\nA=1\r\n" << "A" << "" << "[Settings]\r\nA=\r\n";
    QTest::newRow("line breaks in a value cannot add keys")
        << "[Settings]\r\n" << "A" << "x\r\n[Evil]\r\nB=1" << "[Settings]\r\nA=x[Evil]B=1\r\n";
}

void TestProfileFile::writesOneLineAndKeepsTheRest()
{
    QFETCH(QString, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, after);
    const QString written = ProfileFile::withValue(before, u"Settings", key, value);
    QCOMPARE(written, after);
    QCOMPARE(ProfileFile::value(written, u"Settings", key), value.remove('\r').remove('\n'));
}

void TestProfileFile::replacesTheFileAtomically()
{
    TempDir dir;
    const QString path = dir.file("Tarvex.ini");
    dir.write("Tarvex.ini", "[Settings]\r\nA=1\r\n");
#ifndef Q_OS_UNIX
    QSKIP("needs hard links");
#else
    // A second name for the old file: an in-place rewrite would change what it
    // shows, a replacement by rename leaves it as it was.
    QCOMPARE(::link(qPrintable(path), qPrintable(dir.file("old"))), 0);

    QVERIFY(ProfileFile::write(path, u"Settings", u"A", u"2"));
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray("[Settings]\r\nA=2\r\n"));
    QCOMPARE(dir.read("old"), QByteArray("[Settings]\r\nA=1\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind
#endif
}

void TestProfileFile::refusesReadOnlyFilesAndDirectories()
{
    TempDir dir;
    const QString path = dir.file("Tarvex.ini");
    dir.write("Tarvex.ini", "[Settings]\r\nA=1\r\n");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadUser);
    QVERIFY(!ProfileFile::write(path, u"Settings", u"A", u"2"));
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray("[Settings]\r\nA=1\r\n"));
    QCOMPARE(ProfileFile::read(path, u"Settings", u"A"), QStringLiteral("1"));

    QDir(dir.path()).mkdir("Folder.ini");
    QVERIFY(!ProfileFile::write(dir.file("Folder.ini"), u"Settings", u"A", u"2"));
    QCOMPARE(ProfileFile::read(dir.file("Folder.ini"), u"Settings", u"A"), QString());
}

void TestProfileFile::keepsThePasswordPrivate()
{
    TempDir dir;
    const QString path = dir.file("Tarvex.ini");
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    const auto mask = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther
                      | QFileDevice::WriteOther | QFileDevice::ReadOwner | QFileDevice::WriteOwner;

    QVERIFY(ProfileFile::write(path, u"Settings", u"CorvanePassword", u"secret"));
    QCOMPARE(QFile::permissions(path) & mask, ownerOnly);
    QVERIFY(ProfileFile::write(path, u"Settings", u"CorvanePassword", u"other"));
    QCOMPARE(QFile::permissions(path) & mask, ownerOnly);
}

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
