#include "capture/AdifRecord.h"

#include <QTest>

class TestAdifRecord : public QObject
{
    Q_OBJECT

private slots:
    void fieldsAreWrittenAsTaggedValuesWithTrailingBlank_data();
    void fieldsAreWrittenAsTaggedValuesWithTrailingBlank();
    void terminatorFollowsLastBlankWithoutLineEnd();
    void lengthCountsCodePoints();
    void bandEdgesAreInclusive_data();
    void bandEdgesAreInclusive();
};

void TestAdifRecord::fieldsAreWrittenAsTaggedValuesWithTrailingBlank_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << "CALL" << "Q9XYZ" << "<CALL:5>Q9XYZ ";
    QTest::newRow("empty value") << "TIME_ON" << "" << "<TIME_ON:0> ";
    QTest::newRow("inner blank counted") << "RST_RCVD" << "59 9" << "<RST_RCVD:4>59 9 ";
    QTest::newRow("no escaping") << "SRX_STRING" << "<a:b>" << "<SRX_STRING:5><a:b> ";
    QTest::newRow("ten or more characters") << "PFX" << "ABCDEFGHIJKL" << "<PFX:12>ABCDEFGHIJKL ";
}

void TestAdifRecord::fieldsAreWrittenAsTaggedValuesWithTrailingBlank()
{
    QFETCH(QString, name);
    QFETCH(QString, value);
    QFETCH(QString, expected);
    AdifRecord record;
    record.AppendField(name, value);
    QCOMPARE(record.text(), expected);
}

void TestAdifRecord::terminatorFollowsLastBlankWithoutLineEnd()
{
    AdifRecord record;
    record.terminate();
    QCOMPARE(record.text(), QStringLiteral("<EOR>"));

    record.clear();
    record.AppendField(u"CALL", u"Q9XYZ");
    record.AppendField(u"MODE", u"CW");
    record.terminate();
    QCOMPARE(record.text(), QStringLiteral("<CALL:5>Q9XYZ <MODE:2>CW <EOR>"));
}

void TestAdifRecord::lengthCountsCodePoints()
{
    AdifRecord record;
    record.AppendField(u"NAME", QString::fromUtf8("Jürgen"));
    record.AppendField(u"NOTES", QString::fromUtf8("\xF0\x9F\x93\xBB ok")); // a radio emoji: two UTF-16 units
    QCOMPARE(record.text(), QString::fromUtf8("<NAME:6>Jürgen <NOTES:4>\xF0\x9F\x93\xBB ok "));
}

void TestAdifRecord::bandEdgesAreInclusive_data()
{
    QTest::addColumn<QString>("kilohertz");
    QTest::addColumn<QString>("band");
    QTest::newRow("160M lower") << "1800" << "160M";
    QTest::newRow("160M upper") << "2000" << "160M";
    QTest::newRow("80M") << "3750" << "80M";
    QTest::newRow("40M upper") << "7300" << "40M";
    QTest::newRow("30M") << "10125" << "30M";
    QTest::newRow("20M lower") << "14000" << "20M";
    QTest::newRow("20M upper") << "14350" << "20M";
    QTest::newRow("below 20M") << "13999.99" << "";
    QTest::newRow("above 20M") << "14350.01" << "";
    QTest::newRow("17M") << "18100" << "17M";
    QTest::newRow("15M") << "21450" << "15M";
    QTest::newRow("12M") << "24890" << "12M";
    QTest::newRow("10M") << "29700" << "10M";
    QTest::newRow("6M") << "50000" << "6M";
    QTest::newRow("2M upper") << "148000" << "2M";
    QTest::newRow("60 m has no row") << "5357" << "";
    QTest::newRow("70 cm has no row") << "432100" << "";
    QTest::newRow("letters") << "abc" << "";
    QTest::newRow("empty") << "" << "";
    QTest::newRow("blanks around") << " 14200.12 " << "20M";
}

void TestAdifRecord::bandEdgesAreInclusive()
{
    QFETCH(QString, kilohertz);
    QFETCH(QString, band);
    QCOMPARE(GetBandForFrequency(kilohertz), band);
}

QTEST_APPLESS_MAIN(TestAdifRecord)
#include "tst_adifrecord.moc"
