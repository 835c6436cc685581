#include "capture/UdpListener.h"
#include "settings/SettingConversions.h"

#include <QTest>

namespace {

template <typename T> QString shown(std::optional<T> value)
{
    return value ? QString::number(*value) : QStringLiteral("-");
}

} // namespace

class TestSettingConversions : public QObject
{
    Q_OBJECT

private slots:
    void storedTextBecomesPortSwitchAndCount_data();
    void storedTextBecomesPortSwitchAndCount();
};

void TestSettingConversions::storedTextBecomesPortSwitchAndCount_data()
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

void TestSettingConversions::storedTextBecomesPortSwitchAndCount()
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

QTEST_APPLESS_MAIN(TestSettingConversions)
#include "tst_settingconversions.moc"
