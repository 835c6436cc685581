#include "capture/UdpListener.h"
#include "settings/SettingConversions.h"

#include <QTest>

using namespace SettingConversions;

class TestSettingConversions : public QObject
{
    Q_OBJECT

private slots:
    void ports_data();
    void ports();
    void booleans_data();
    void booleans();
    void counts_data();
    void counts();
};

void TestSettingConversions::ports_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("port"); // 0: not a valid port

    QTest::newRow("default") << "12060" << 12060;
    QTest::newRow("lowest") << "1" << 1;
    QTest::newRow("highest") << "65534" << 65534;
    QTest::newRow("65535 rejected") << "65535" << 0;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("negative") << "-1" << 0;
    QTest::newRow("empty") << "" << 0;
    QTest::newRow("letters") << "abc" << 0;
    QTest::newRow("blanks around") << " 5000 " << 5000;
    QTest::newRow("fraction rounds") << "12060.6" << 12061;
    QTest::newRow("half to even, down") << "12060.5" << 12060;
    QTest::newRow("half to even, up") << "12061.5" << 12062;
    QTest::newRow("written as decimal") << "12060.0" << 12060;
    QTest::newRow("rounds to zero") << "0.4" << 0;
    QTest::newRow("rounds to 65535") << "65534.6" << 0;
    QTest::newRow("beyond 32 bits") << "99999999999" << 0;
}

void TestSettingConversions::ports()
{
    QFETCH(QString, text);
    QFETCH(int, port);
    QCOMPARE(IsValidPort(text), port != 0);
    QCOMPARE(toPort(text).value_or(0), port);
    if (port != 0)
        QCOMPARE(portFromText(text), port);
}

void TestSettingConversions::booleans_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("value"); // -1: does not convert

    QTest::newRow("True") << "True" << 1;
    QTest::newRow("false lower case") << "false" << 0;
    QTest::newRow("TRUE") << "TRUE" << 1;
    QTest::newRow("one") << "1" << 1;
    QTest::newRow("zero") << "0" << 0;
    QTest::newRow("minus one") << "-1" << 1;
    QTest::newRow("Yes") << "Yes" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestSettingConversions::booleans()
{
    QFETCH(QString, text);
    QFETCH(int, value);
    const std::optional<bool> converted = toBoolean(text);
    QCOMPARE(converted.has_value(), value != -1);
    if (converted)
        QCOMPARE(int(*converted), value);
}

void TestSettingConversions::counts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("count"); // -99: does not fit

    QTest::newRow("plain") << "41" << qint64(41);
    QTest::newRow("trailing letters") << "12abc" << qint64(12);
    QTest::newRow("half down to even") << "8.5" << qint64(8);
    QTest::newRow("half up to even") << "9.5" << qint64(10);
    QTest::newRow("blanks inside") << " 1 2\t3\n" << qint64(123);
    QTest::newRow("no number") << "abc" << qint64(0);
    QTest::newRow("empty") << "" << qint64(0);
    QTest::newRow("hex") << "&H1F" << qint64(31);
    QTest::newRow("octal") << "&o17" << qint64(15);
    QTest::newRow("exponent") << "1e3" << qint64(1000);
    QTest::newRow("negative") << "-5" << qint64(-5);
    QTest::newRow("largest") << "2147483647" << qint64(2147483647);
    QTest::newRow("beyond 32 bits") << "2147483648" << qint64(-99);
    QTest::newRow("far beyond") << "1e300" << qint64(-99);
}

void TestSettingConversions::counts()
{
    QFETCH(QString, text);
    QFETCH(qint64, count);
    const std::optional<qint32> converted = toCount(text);
    QCOMPARE(converted.has_value(), count != -99);
    if (converted)
        QCOMPARE(qint64(*converted), count);
}

QTEST_APPLESS_MAIN(TestSettingConversions)
#include "tst_settingconversions.moc"
