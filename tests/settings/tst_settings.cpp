#include "TempDir.h"
#include "settings/AppPaths.h"
#include "settings/ProfileFile.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <unistd.h>

namespace {

const auto OwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
const auto UnixBits = OwnerOnly | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                      QFileDevice::WriteOther;

Settings settingsIn(const TempDir& dir)
{
    const AppPaths paths(dir.path());
    return Settings(paths.settingsFile(), paths.debugLog());
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void readsNamesWithoutRegardToCaseOrBlanks();
    void writesOneLineAndKeepsTheRest_data();
    void writesOneLineAndKeepsTheRest();
    void templateOnlyWhereThereIsNoFile();
    void storedValuesReadBack();
    void replacesTheFileAtomically();
    void readOnlyFileStaysAsItWas();
    void installedLayoutIsRecognised();
};

void TestSettings::readsNamesWithoutRegardToCaseOrBlanks()
{
    const QString file =
        "; a comment\r\n[ Settings ]\r\nUDPPort=5000\r\n  CorvaneCallsign =  Q9XYZ  \r\nk=a=b\r\n"
        "\r\n[Other]\r\nUDPPort=1\r\nDebug=True\r\n";
    QCOMPARE(ProfileFile::value(file, u"SETTINGS", u"udpport"), QStringLiteral("5000"));
    QCOMPARE(ProfileFile::value(file, u"Settings", u"CorvaneCallsign"), QStringLiteral("Q9XYZ"));
    QCOMPARE(ProfileFile::value(file, u"Settings", u"k"), QStringLiteral("a=b"));
    QCOMPARE(ProfileFile::value(file, u"Other", u"UDPPort"), QStringLiteral("1"));
    QCOMPARE(ProfileFile::value(file, u"Settings", u"Debug"), QString());
    QCOMPARE(ProfileFile::value(file, u"Missing", u"UDPPort"), QString());
    QCOMPARE(ProfileFile::value(u"[Settings]\nUDPPort=7", u"Settings", u"UDPPort"), QStringLiteral("7"));
}

void TestSettings::writesOneLineAndKeepsTheRest_data()
{
    // clang-format off
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("after");

    QTest::newRow("replaced in place, other lines kept")
        << "; keep me\r\n[Settings]\r\nA=1\r\n  udpport = 12060 \r\nB=2\r\n" << "UDPPort" << "5000"
        << "; keep me\r\n[Settings]\r\nA=1\r\nUDPPort=5000\r\nB=2\r\n";
    QTest::newRow("new key after the section's last entry")
        << "[Settings]\r\nA=1\r\n\r\n[Other]\r\nC=3\r\n" << "Debug" << "False"
        << "[Settings]\r\nA=1\r\nDebug=False\r\n\r\n[Other]\r\nC=3\r\n";
    QTest::newRow("new section at the end") << "[Other]\r\nC=3\r\n" << "Debug" << "True"
                                            << "[Other]\r\nC=3\r\n[Settings]\r\nDebug=True\r\n";
    QTest::newRow("LF endings become CR LF") << "[Settings]\nA=1" << "A" << "2" << "[Settings]\r\nA=2\r\n";
    QTest::newRow("line breaks in a value cannot add keys")
        << "[Settings]\r\n" << "A" << "x\r\n[Evil]\r\nB=1" << "[Settings]\r\nA=x[Evil]B=1\r\n";
    // clang-format on
}

void TestSettings::writesOneLineAndKeepsTheRest()
{
    QFETCH(QString, before);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, after);
    QCOMPARE(ProfileFile::withValue(before, u"Settings", key, value), after);
}

void TestSettings::templateOnlyWhereThereIsNoFile()
{
    TempDir dir;
    QVERIFY(settingsIn(dir).CheckforInIfile());
    QCOMPARE(dir.read("Tarvex.ini"),
             QByteArray("[Settings]\r\nCorvaneEmailAddress=Not Set\r\nCorvaneCallsign=Not Set\r\n"
                        "CorvanePassword=Not Set\r\nTotalRecordsUploaded=0\r\n"
                        "AutoUploadEnabled=True\r\nUDPPort=12060\r\n"));
    QCOMPARE(QFile::permissions(dir.file("Tarvex.ini")) & UnixBits, OwnerOnly);

    dir.write("Tarvex.ini", "");
    QVERIFY(settingsIn(dir).CheckforInIfile());
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray());
}

void TestSettings::storedValuesReadBack()
{
    TempDir dir;
    const Settings settings = settingsIn(dir);
    const QString longValue(300, QLatin1Char('x'));
    QVERIFY(settings.SaveSettings("CorvanePassword", longValue, false));
    QCOMPARE(QFile::permissions(settings.path()) & UnixBits, OwnerOnly); // it holds a password
    QVERIFY(settings.SaveSettings("CorvaneCallsign", "", false));
    QVERIFY(settings.SaveSettings("UDPPort", "5000", false));

    QVERIFY(dir.read("Tarvex.ini").contains(longValue.toLatin1()));
    QCOMPARE(settings.GetSettings("CorvanePassword", "Not Set"), longValue.left(254));
    QCOMPARE(settings.GetSettings("CorvaneCallsign", "Not Set"), QStringLiteral("Not Set"));
    QCOMPARE(settings.GetSettings("Debug", "False"), QStringLiteral("False"));
    QCOMPARE(settings.GetSettings("udpport", "12060"), QStringLiteral("5000"));

    // The debug switch writes an entry instead of the setting.
    const QByteArray before = dir.read("Tarvex.ini");
    QVERIFY(settings.SaveSettings("UDPPort", "6000", true));
    QCOMPARE(dir.read("Tarvex.ini"), before);
    QVERIFY(dir.read("DebugLog.txt").endsWith(" - UDPPort = 6000\r\n"));
}

void TestSettings::replacesTheFileAtomically()
{
    TempDir dir;
    const Settings settings = settingsIn(dir);
    dir.write("Tarvex.ini", "[Settings]\r\nA=1\r\n");
    // A second name for the old file: an in-place rewrite would change what it
    // shows, a replacement by rename leaves it as it was.
    QCOMPARE(::link(qPrintable(settings.path()), qPrintable(dir.file("old"))), 0);

    QVERIFY(settings.SaveSettings("A", "2", false));
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray("[Settings]\r\nA=2\r\n"));
    QCOMPARE(dir.read("old"), QByteArray("[Settings]\r\nA=1\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind
}

void TestSettings::readOnlyFileStaysAsItWas()
{
    TempDir dir;
    const Settings settings = settingsIn(dir);
    settings.CheckforInIfile();
    const QByteArray before = dir.read("Tarvex.ini");
    QFile::setPermissions(settings.path(), QFileDevice::ReadOwner);
    QVERIFY(!settings.SaveSettings("CorvaneCallsign", "Q9XYZ", false));
    QCOMPARE(dir.read("Tarvex.ini"), before);
}

void TestSettings::installedLayoutIsRecognised()
{
    TempDir dir;
    QDir(dir.path()).mkpath("bin");
    QVERIFY(!AppPaths::isInstalledLayout(dir.file("bin")));
    QDir(dir.path()).mkpath("share/applications");
    dir.write("share/applications/tarvex.desktop", "[Desktop Entry]\n");
    QVERIFY(AppPaths::isInstalledLayout(dir.file("bin")));
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
