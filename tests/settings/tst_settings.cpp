#include "FileSizeLimit.h"
#include "TempDir.h"
#include "TestMain.h"
#include "capture/ContactCapture.h"
#include "settings/AppPaths.h"
#include "settings/InstanceLock.h"
#include "settings/ProfileFile.h"
#include "settings/SettingConversions.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTest>

#include <optional>

#include <unistd.h>

namespace {

const auto Private = QFileDevice::ReadUser | QFileDevice::WriteUser;

// What the owner, the group and others may do, as ls shows it.
QFileDevice::Permissions mode(const QString& path)
{
    return QFile::permissions(path) & 0x0FFF;
}

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
    void aFileThatCannotBeWrittenStaysAsItWas_data();
    void aFileThatCannotBeWrittenStaysAsItWas();
    void aLiveHolderAloneKeepsTheFolder_data();
    void aLiveHolderAloneKeepsTheFolder();
    void storedTextBecomesPortSwitchAndCount_data();
    void storedTextBecomesPortSwitchAndCount();
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

    dir.write("Tarvex.ini", "");
    QVERIFY(settingsIn(dir).CheckforInIfile());
    QCOMPARE(dir.read("Tarvex.ini"), QByteArray());
}

void TestSettings::storedValuesReadBack()
{
    TempDir dir;
    const Settings settings = settingsIn(dir);
    const QString longValue(300, QLatin1Char('x'));
    dir.write("Tarvex.ini", "[Settings]\r\n");
    QFile::setPermissions(settings.path(),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    QVERIFY(settings.SaveSettings("CorvanePassword", longValue, false));
    QCOMPARE(mode(settings.path()), Private); // it holds a password
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

void TestSettings::aFileThatCannotBeWrittenStaysAsItWas_data()
{
    QTest::addColumn<bool>("readOnly"); // else the disk is full
    QTest::newRow("read-only") << true;
    QTest::newRow("full disk") << false;
}

void TestSettings::aFileThatCannotBeWrittenStaysAsItWas()
{
    QFETCH(bool, readOnly);
    TempDir dir;
    const Settings settings = settingsIn(dir);
    settings.CheckforInIfile();
    const QByteArray before = dir.read("Tarvex.ini");
    std::optional<FileSizeLimit> full;
    if (readOnly)
        QFile::setPermissions(settings.path(), QFileDevice::ReadOwner);
    else
        full.emplace(20);
    QVERIFY(!settings.SaveSettings("CorvaneCallsign", "Q9XYZ", false));
    full.reset();
    QCOMPARE(dir.read("Tarvex.ini"), before);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"Tarvex.ini"});
}

void TestSettings::aLiveHolderAloneKeepsTheFolder_data()
{
    QTest::addColumn<QByteArray>("left"); // what the lock file holds before the start
    QTest::addColumn<bool>("live");       // another copy holds the lock now
    QTest::addColumn<QString>("said");    // the holder, or the note of a start that went on
    const QString host = QSysInfo::machineHostName();
    QTest::newRow("a copy is running") << QByteArray() << true << "process %1 on " + host;
    QTest::newRow("a crashed copy's lock") << "999999999\nTarvex\n" + host.toUtf8() + "\n"
                                           << false << "was left by process 999999999 on " + host;
    QTest::newRow("empty: a clean exit") << QByteArray() << false << "";
    QTest::newRow("garbage") << QByteArray("\x01\xff garbage") << false << "made no sense";
}

void TestSettings::aLiveHolderAloneKeepsTheFolder()
{
    QFETCH(QByteArray, left);
    QFETCH(bool, live);
    QFETCH(QString, said);
    TempDir dir;
    const AppPaths paths = AppPaths::forRunningProgram(dir.file("data"));
    QCOMPARE(mode(paths.directory()), Private | QFileDevice::ExeUser);
    dir.write("data/Tarvex.lock", left);
    std::optional<InstanceLock> other;
    if (live)
        QVERIFY(other.emplace(paths.lockFile()).acquire());
    InstanceLock lock(paths.lockFile());
    QString holder;
    QString note;
    QCOMPARE(lock.acquire(&holder, &note), !live);
    const QString text = live ? holder : note;
    said.replace("%1", QString::number(QCoreApplication::applicationPid()));
    QVERIFY2(said.isEmpty() ? text.isEmpty() : text.contains(said), qPrintable(text));
    if (!live) {
        QCOMPARE(mode(paths.lockFile()), Private);
        QVERIFY(!InstanceLock(paths.lockFile()).acquire()); // held now, whatever it held before
    }
}

namespace {

template <typename T> QString shown(std::optional<T> value)
{
    return value ? QString::number(*value) : QStringLiteral("-");
}

} // namespace

void TestSettings::storedTextBecomesPortSwitchAndCount_data()
{
    // clang-format off
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("port"); // "-": does not convert
    QTest::addColumn<QString>("boolean");
    QTest::addColumn<QString>("count");

    QTest::newRow("port") << "12060" << "12060" << "1" << "12060";
    QTest::newRow("blanks around") << " 5000 " << "5000" << "1" << "5000";
    QTest::newRow("lowest port") << "1" << "1" << "1" << "1";
    QTest::newRow("highest port") << "65534" << "65534" << "1" << "65534";
    QTest::newRow("65535") << "65535" << "-" << "1" << "65535";
    QTest::newRow("zero") << "0" << "-" << "0" << "0";
    QTest::newRow("negative") << "-1" << "-" << "1" << "-1";
    QTest::newRow("rounds to zero") << "0.4" << "-" << "1" << "0";
    QTest::newRow("rounds to 65535") << "65534.6" << "-" << "1" << "65535";
    QTest::newRow("fraction rounds") << "12060.6" << "12061" << "1" << "12061";
    QTest::newRow("half to even, down") << "8.5" << "8" << "1" << "8";
    QTest::newRow("half to even, up") << "9.5" << "10" << "1" << "10";
    QTest::newRow("exponent") << "1e3" << "1000" << "1" << "1000";
    QTest::newRow("True") << "True" << "-" << "1" << "0";
    QTest::newRow("false in lower case") << "false" << "-" << "0" << "0";
    QTest::newRow("Yes") << "Yes" << "-" << "-" << "0";
    QTest::newRow("empty") << "" << "-" << "-" << "0";
    QTest::newRow("trailing letters") << "12abc" << "-" << "-" << "12";
    QTest::newRow("blanks inside") << " 1 2\t3\n" << "-" << "-" << "123";
    QTest::newRow("hex") << "&H1F" << "-" << "-" << "31";
    QTest::newRow("octal") << "&o17" << "-" << "-" << "15";
    QTest::newRow("largest count") << "2147483647" << "-" << "1" << "2147483647";
    QTest::newRow("beyond 32 bits") << "2147483648" << "-" << "1" << "-";
    QTest::newRow("far beyond") << "1e300" << "-" << "1" << "-";
    // clang-format on
}

void TestSettings::storedTextBecomesPortSwitchAndCount()
{
    QFETCH(QString, text);
    QFETCH(QString, port);
    QFETCH(QString, boolean);
    QFETCH(QString, count);
    QCOMPARE(shown(SettingConversions::toPort(text)), port);
    QCOMPARE(IsValidPort(text), port != QLatin1String("-"));
    if (IsValidPort(text))
        QCOMPARE(QString::number(portFromText(text)), port);
    QCOMPARE(shown(SettingConversions::toBoolean(text)), boolean);
    QCOMPARE(shown(SettingConversions::toCount(text)), count);
}

TARVEX_TEST(TestSettings)
#include "tst_settings.moc"
