#include "TempDir.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestSettings : public QObject
{
    Q_OBJECT

private slots:
    void templateIsWrittenByteForByte();
    void existingFileIsNeverRewrittenWhole();
    void emptyAndMissingValuesReadAsDefault();
    void longValuesAreCutOnRead();
    void saveWritesOneKeyOrOneDebugEntry();
    void firstWritesIntoEmptyFileBuildTheSection();
    void readOnlyFileStaysAsItWas();
    void installedCopyKeepsNothingBesideTheProgram();

private:
    static Settings settingsIn(const TempDir& dir)
    {
        const AppPaths paths(dir.path());
        return Settings(paths.settingsFile(), paths.debugLog());
    }
};

void TestSettings::templateIsWrittenByteForByte()
{
    TempDir dir;
    const Settings settings = settingsIn(dir);
    QVERIFY(settings.CheckforInIfile());
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray("[Settings]\r\n"
                                                "CorvaneEmailAddress=Not Set\r\n"
                                                "CorvaneCallsign=Not Set\r\n"
                                                "CorvanePassword=Not Set\r\n"
                                                "TotalRecordsUploaded=0\r\n"
                                                "AutoUploadEnabled=True\r\n"
                                                "UDPPort=12060\r\n"));
    QCOMPARE(settings.GetSettings("UDPPort", "1"), QStringLiteral("12060"));
    QCOMPARE(QFile::permissions(settings.path()) & (QFileDevice::ReadOther | QFileDevice::ReadGroup),
             QFileDevice::Permissions());
}

void TestSettings::existingFileIsNeverRewrittenWhole()
{
    TempDir dir;
    dir.write("Tarvex.ini", "");
    QVERIFY(settingsIn(dir).CheckforInIfile());
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray());

    dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=5000\r\n");
    QVERIFY(settingsIn(dir).CheckforInIfile());
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray("[Settings]\r\nUDPPort=5000\r\n"));
}

void TestSettings::emptyAndMissingValuesReadAsDefault()
{
    TempDir dir;
    dir.write("Tarvex.ini", "[Settings]\r\nCorvaneCallsign=\r\nUDPPort=5000\r\n");
    const Settings settings = settingsIn(dir);
    QCOMPARE(settings.GetSettings("CorvaneCallsign", "Not Set"), QStringLiteral("Not Set"));
    QCOMPARE(settings.GetSettings("Debug", "False"), QStringLiteral("False"));
    QCOMPARE(settings.GetSettings("udpport", "12060"), QStringLiteral("5000"));

    const Settings nowhere(dir.file("missing/Tarvex.ini"), dir.file("missing/DebugLog.txt"));
    QCOMPARE(nowhere.GetSettings("UDPPort", "12060"), QStringLiteral("12060"));
    QVERIFY(!nowhere.SaveSettings("UDPPort", "1", false));
}

void TestSettings::longValuesAreCutOnRead()
{
    TempDir dir;
    const Settings settings = settingsIn(dir);
    const QString longValue = QString(300, QLatin1Char('x'));
    QVERIFY(settings.SaveSettings("CorvanePassword", longValue, false));
    QVERIFY(dir.read("Tarvex.ini").contains(longValue.toLatin1()));
    QCOMPARE(settings.GetSettings("CorvanePassword", "Not Set"), longValue.left(254));
}

void TestSettings::saveWritesOneKeyOrOneDebugEntry()
{
    TempDir dir;
    const Settings settings = settingsIn(dir);
    settings.CheckforInIfile();
    const QByteArray before = dir.read("Tarvex.ini");

    QVERIFY(settings.SaveSettings("UDPPort", "5000", true));
    QCOMPARE(dir.read("Tarvex.ini"), before);
    QVERIFY(dir.read("DebugLog.txt").endsWith(" - UDPPort = 5000\r\n"));

    QVERIFY(settings.SaveSettings("UDPPort", "5000", false));
    QByteArray expected = before;
    expected.replace("UDPPort=12060", "UDPPort=5000");
    QCOMPARE(dir.read("Tarvex.ini"), expected);
}

void TestSettings::firstWritesIntoEmptyFileBuildTheSection()
{
    TempDir dir;
    dir.write("Tarvex.ini", "");
    const Settings settings = settingsIn(dir);
    settings.CheckforInIfile();
    for (const char* key : {"Debug", "Version", "CorvaneEmailAddress", "CorvaneCallsign", "CorvanePassword"})
        settings.SaveSettings(key, key == QByteArray("Debug") ? "False" : key == QByteArray("Version") ? " 1.0.0" : "Not Set", false);
    settings.SaveSettings("AutoUploadEnabled", "True", false);
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray("[Settings]\r\n"
                                                "Debug=False\r\n"
                                                "Version= 1.0.0\r\n"
                                                "CorvaneEmailAddress=Not Set\r\n"
                                                "CorvaneCallsign=Not Set\r\n"
                                                "CorvanePassword=Not Set\r\n"
                                                "AutoUploadEnabled=True\r\n"));
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
    QCOMPARE(settings.GetSettings("CorvaneCallsign", "x"), QStringLiteral("Not Set"));
}

void TestSettings::installedCopyKeepsNothingBesideTheProgram()
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
