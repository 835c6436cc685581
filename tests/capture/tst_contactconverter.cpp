#include "WorkedContact.h"
#include "capture/AdifRecord.h"
#include "capture/ContactConverter.h"

#include <QLocale>
#include <QRegularExpression>
#include <QTest>

#include <initializer_list>
#include <utility>

namespace {

using WorkedContact::Datagram;
using WorkedContact::Record;

// What is left of a record when none of the contact's elements could be read.
const QString Reduced =
    QStringLiteral("<FREQ:0> <BAND:0> <QSO_DATE:0> <TIME_ON:0> <TX_PWR:2>-1 <FREQ_RX:0> <EOR>");

// The worked datagram with the text of some of its elements replaced.
QByteArray with(std::initializer_list<std::pair<const char*, QByteArray>> values)
{
    QByteArray text = Datagram;
    for (const auto& [element, value] : values) {
        const qsizetype from = text.indexOf(QByteArray("<") + element + '>') + qstrlen(element) + 2;
        text.replace(from, text.indexOf('<', from) - from, value);
    }
    return text;
}

// The worked record with some fields holding other (ASCII) values.
QString recordWith(std::initializer_list<std::pair<QString, QString>> fields)
{
    QString text = Record;
    for (const auto& [name, value] : fields) {
        text.replace(QRegularExpression(QStringLiteral("<%1:\\d+>\\S* ").arg(name)),
                     QStringLiteral("<%1:%2>%3 ").arg(name).arg(value.size()).arg(value));
    }
    return text;
}

QByteArray edited(QByteArray text, const QByteArray& from, const QByteArray& to)
{
    return text.replace(from, to);
}

} // namespace

class TestContactConverter : public QObject
{
    Q_OBJECT

private slots:
    // Datagram numbers use a point whatever the user's locale; every row runs
    // where the locale writes a decimal comma and groups with points.
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(Record.size(), 211);
    }

    void datagramBecomesRecord_data();
    void datagramBecomesRecord();
};

void TestContactConverter::datagramBecomesRecord_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("record"); // empty: not converted

    QTest::newRow("worked example") << Datagram << Record;
    QTest::newRow("rcv missing") << edited(Datagram, "<rcv>579</rcv>", "")
                                 << QString(Record).remove(QStringLiteral("<RST_RCVD:3>579 "));
    QTest::newRow("empty mode kept") << with({{"mode", ""}}) << recordWith({{"MODE", ""}});
    QTest::newRow("first of two calls")
        << edited(Datagram, "</contactinfo>", "<call>Q8ZZZ</call></contactinfo>") << Record;
    const qsizetype snt = Datagram.indexOf("<snt>");
    const QByteArray head = Datagram.mid(13, snt - 13); // timestamp ... call, moved to the end
    QTest::newRow("reordered")
        << "<contactinfo>" + edited(Datagram.mid(snt), "</contactinfo>", head + "</contactinfo>") << Record;
    QTest::newRow("found at any depth")
        << edited(Datagram, "<call>Q9XYZ</call>", "<qso><call>Q9XYZ</call></qso>") << Record;
    QTest::newRow("text taken as it stands")
        << with({{"call", " Q9XYZ "}}) << QString(Record).replace("<CALL:5>Q9XYZ ", "<CALL:7> Q9XYZ  ");
    QTest::newRow("power in datagram ignored")
        << edited(Datagram, "<extra>", "<power>100</power><txpwr>5</txpwr><extra>") << Record;
    QTest::newRow("only the root") << QByteArray("<contactinfo/>") << Reduced;

    QTest::newRow("capitalised gate word") << edited(Datagram, "contactinfo", "CONTACTINFO") << QString();
    QTest::newRow("no gate word") << QByteArray("hello from the logger") << QString();
    QTest::newRow("gate word in non-XML text") << QByteArray("contactinfo is not XML") << Reduced;
    QTest::newRow("gate word outside the root")
        << edited(Datagram, "contactinfo>", "radioinfo>") + "<!-- contactinfo -->" << Reduced;
    QTest::newRow("cut short") << Datagram.chopped(3) << Reduced;
    QTest::newRow("namespaced") << QByteArray("<contactinfo xmlns=\"urn:x\"><call>Q9XYZ</call></contactinfo>")
                                << Reduced;

    const auto frequency = [](const char* name, const char* tenHertz, const QString& mhz, const char* band) {
        QTest::newRow(name) << with({{"txfreq", tenHertz}, {"rxfreq", tenHertz}})
                            << recordWith({{"FREQ", mhz}, {"BAND", band}, {"FREQ_RX", mhz}});
    };
    frequency("2 m", "14420012", "144.20012", "2M");
    frequency("trailing 1", "1400001", "14.00001", "20M");
    frequency("three decimals kept", "1420000", "14.200", "20M");
    frequency("zeros after the third dropped", "1420010", "14.2001", "20M");
    frequency("below 1 MHz no leading zero", "50000", ".500", "");
    frequency("rounded to five decimals", "1420012.6", "14.20013", "20M");
    frequency("60 m is no band", "535712", "5.35712", "");
    frequency("letters", "abc", "", "");
    frequency("empty", "", "", "");
    frequency("decimal comma", "1420012,5", "", "");
    frequency("infinity", "inf", "", "");
    frequency("huge", "1e20", "1000000000000000.000", "");
    frequency("160 m lower edge", "180000", "1.800", "160M");
    frequency("160 m upper edge", "200000", "2.000", "160M");
    frequency("40 m upper edge", "730000", "7.300", "40M");
    frequency("20 m lower edge", "1400000", "14.000", "20M");
    frequency("20 m upper edge", "1435000", "14.350", "20M");
    frequency("below 20 m", "1399999", "13.99999", "");
    frequency("above 20 m", "1435001", "14.35001", "");
    frequency("15 m upper edge", "2145000", "21.450", "15M");
    frequency("12 m lower edge", "2489000", "24.890", "12M");
    frequency("10 m upper edge", "2970000", "29.700", "10M");
    frequency("6 m lower edge", "5000000", "50.000", "6M");
    frequency("2 m upper edge", "14800000", "148.000", "2M");

    const auto timestamp = [](const char* name, const char* text, const char* date, const char* time) {
        QTest::newRow(name) << with({{"timestamp", text}})
                            << recordWith({{"QSO_DATE", date}, {"TIME_ON", time}});
    };
    timestamp("slashes", "2011/11/26 14:05:33", "20111126", "140533");
    timestamp("T separator", "2011-11-26T14:05:33", "20111126", "140533");
    timestamp("fraction", "2011-11-26 14:05:33.250", "20111126", "140533");
    timestamp("single digits", "2011-1-6 4:05:33", "20110106", "040533");
    timestamp("midnight", "2011-11-26 00:00:00", "20111126", "000000");
    timestamp("date only", "2011-11-26", "20111126", "000000");
    timestamp("leap day", "2012-02-29 23:59:59", "20120229", "235959");
    timestamp("no such day", "2011-02-29 12:00:00", "", "");
    timestamp("hour 24", "2011-11-26 24:00:00", "", "");
    timestamp("words", "yesterday", "", "");
    timestamp("empty", "", "", "");
    timestamp("trailing junk", "2011-11-26 14:05:33 xyz", "", "");

    QTest::newRow("non-ASCII call sign")
        << with({{"call", "OZ/D\xC3\x84" "1\xC3\x98\xC3\x86"}})
        << QString(Record).replace("<CALL:5>Q9XYZ", QString::fromUtf8("<CALL:8>OZ/DÄ1ØÆ"));
    QTest::newRow("Latin-1 datagram")
        << with({{"call", "D\xC4" "A\xFF"}})
        << QString(Record).replace("<CALL:5>Q9XYZ", QString::fromLatin1("<CALL:4>D\xC4" "A\xFF"));
    QTest::newRow("letter outside the BMP counts once")
        << with({{"exchange1", "\xF0\x9F\x93\xBB"}})
        << QString(Record).replace("<SRX_STRING:2>14", QString::fromUtf8("<SRX_STRING:1>\xF0\x9F\x93\xBB"));

    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        const QByteArray tenOfTheLast = ("&l" + QByteArray::number(i - 1) + ";").repeated(10);
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" + tenOfTheLast + "\">";
    }
    QTest::newRow("billion laughs") << laughs + "]><contactinfo><call>&l9;</call></contactinfo>" << Reduced;
    QTest::newRow("external entity")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY x SYSTEM "
                      "\"file:///etc/passwd\">]><contactinfo><call>&x;</call></contactinfo>")
        << "<CALL:0> " + Reduced; // never read
    QTest::newRow("deep nesting") << "<contactinfo>" + QByteArray("<a>").repeated(8000) << Reduced;
    QTest::newRow("64 KiB in one element")
        << "<contactinfo><call>" + QByteArray(65000, 'X') + "</call></contactinfo>"
        << "<CALL:65000>" + QString(65000, QLatin1Char('X')) + " " + Reduced;
    // clang-format on
}

void TestContactConverter::datagramBecomesRecord()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, record);
    AdifRecord built;
    QCOMPARE(ContactConverter::convert(ContactConverter::datagramText(datagram), built), !record.isEmpty());
    QCOMPARE(built.text(), record);
}

QTEST_GUILESS_MAIN(TestContactConverter)
#include "tst_contactconverter.moc"
