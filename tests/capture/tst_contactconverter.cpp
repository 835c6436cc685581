#include "TempDir.h"
#include "capture/AdifRecord.h"
#include "capture/ContactConverter.h"
#include "logs/DebugTrace.h"

#include <QLocale>
#include <QTest>

namespace {

using Elements = QList<std::pair<QString, QString>>;

const Elements WorkedExample = {
    {"timestamp", "2011-11-26 14:05:33"},
    {"txfreq", "1420012"},
    {"rxfreq", "1420012"},
    {"mode", "CW"},
    {"call", "Q9XYZ"},
    {"snt", "599"},
    {"rcv", "579"},
    {"sntnr", "12"},
    {"rcvnr", "345"},
    {"exchange1", "14"},
    {"wpxprefix", "Q9"},
    {"extra", "1"},
};

const QString WorkedRecord = QStringLiteral(
    "<CALL:5>Q9XYZ <RST_RCVD:3>579 <RST_SENT:3>599 <FREQ:8>14.20012 <BAND:3>20M <MODE:2>CW "
    "<QSO_DATE:8>20111126 <TIME_ON:6>140533 <STX:2>12 <SRX:3>345 <SRX_STRING:2>14 <PFX:2>Q9 "
    "<TX_PWR:2>-1 <FREQ_RX:8>14.20012 <EOR>");

QString datagram(const Elements& elements)
{
    QString text = QStringLiteral("<contactinfo>");
    for (const auto& [name, value] : elements)
        text += QStringLiteral("<%1>%2</%1>").arg(name, value);
    return text + QStringLiteral("</contactinfo>");
}

Elements withValue(Elements elements, const QString& name, const QString& value)
{
    for (auto& element : elements) {
        if (element.first == name)
            element.second = value;
    }
    return elements;
}

Elements without(Elements elements, const QString& name)
{
    elements.removeIf([&](const auto& element) { return element.first == name; });
    return elements;
}

QString convert(const QString& text)
{
    AdifRecord record;
    ContactConverter::convert(text, record);
    return record.text();
}

} // namespace

class TestContactConverter : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { DebugTrace::setEnabled(false); }

    void workedExampleIsByteExact();
    void fieldsFollowTheFixedOrder_data();
    void fieldsFollowTheFixedOrder();
    void gateAndRoot();
    void frequencies_data();
    void frequencies();
    void numbersIgnoreTheUsersLocale();
    void timestamps_data();
    void timestamps();
    void datagramBytesBecomeTextWithoutLoss();
    void nonAsciiCallSignKeepsRecordValid();
    void parseFailureIsTracedOnlyWithDebugFlag();
    void hostileXmlIsHarmless_data();
    void hostileXmlIsHarmless();
};

void TestContactConverter::workedExampleIsByteExact()
{
    AdifRecord record;
    QVERIFY(ContactConverter::convert(datagram(WorkedExample), record));
    QCOMPARE(record.text(), WorkedRecord);
    QCOMPARE(record.text().size(), 211);
}

void TestContactConverter::fieldsFollowTheFixedOrder_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QString noRcv = WorkedRecord;
    noRcv.remove(QStringLiteral("<RST_RCVD:3>579 "));
    QTest::newRow("rcv missing") << datagram(without(WorkedExample, "rcv")) << noRcv;

    Elements reversed = WorkedExample;
    std::reverse(reversed.begin(), reversed.end());
    QTest::newRow("reordered") << datagram(reversed) << WorkedRecord;

    QString emptyMode = WorkedRecord;
    emptyMode.replace(QStringLiteral("<MODE:2>CW "), QStringLiteral("<MODE:0> "));
    QTest::newRow("empty mode kept") << datagram(withValue(WorkedExample, "mode", "")) << emptyMode;

    Elements twoCalls = WorkedExample;
    twoCalls.append(std::pair<QString, QString>("call", "Q8ZZZ"));
    QTest::newRow("first of two calls") << datagram(twoCalls) << WorkedRecord;

    Elements nested = without(WorkedExample, "call");
    nested.append(std::pair<QString, QString>("qso", "<call>Q9XYZ</call>"));
    QTest::newRow("element found at any depth") << datagram(nested) << WorkedRecord;

    QString padded = WorkedRecord;
    padded.replace(QStringLiteral("<CALL:5>Q9XYZ "), QStringLiteral("<CALL:7> Q9XYZ  "));
    QTest::newRow("text taken as it stands") << datagram(withValue(WorkedExample, "call", " Q9XYZ ")) << padded;

    QTest::newRow("power in datagram ignored")
        << datagram(WorkedExample + Elements{{"power", "100"}, {"txpwr", "100"}}) << WorkedRecord;

    QTest::newRow("only the root")
        << QStringLiteral("<contactinfo/>")
        << QStringLiteral("<FREQ:0> <BAND:0> <QSO_DATE:0> <TIME_ON:0> <TX_PWR:2>-1 <FREQ_RX:0> <EOR>");
}

void TestContactConverter::fieldsFollowTheFixedOrder()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(convert(text), expected);
}

void TestContactConverter::gateAndRoot()
{
    const QString reduced =
        QStringLiteral("<FREQ:0> <BAND:0> <QSO_DATE:0> <TIME_ON:0> <TX_PWR:2>-1 <FREQ_RX:0> <EOR>");

    AdifRecord record;
    record.AppendField(u"KEEP", u"me");
    const QString before = record.text();
    QVERIFY(!ContactConverter::convert(datagram(WorkedExample).replace("contactinfo", "CONTACTINFO"), record));
    QCOMPARE(record.text(), before);
    QVERIFY(!ContactConverter::convert(QStringLiteral("hello from the logger"), record));
    QCOMPARE(record.text(), before);

    QString otherRoot = datagram(WorkedExample);
    otherRoot.replace(QStringLiteral("contactinfo>"), QStringLiteral("radioinfo>"));
    otherRoot.append(QStringLiteral("<!-- contactinfo -->"));
    QCOMPARE(convert(otherRoot), reduced);

    QCOMPARE(convert(datagram(WorkedExample).chopped(3)), reduced);
    QCOMPARE(convert(QStringLiteral("contactinfo is not XML")), reduced);
    QCOMPARE(convert(QStringLiteral("<contactinfo xmlns=\"urn:x\"><call>Q9XYZ</call></contactinfo>")), reduced);
}

void TestContactConverter::frequencies_data()
{
    QTest::addColumn<QString>("txfreq");
    QTest::addColumn<QString>("freq");
    QTest::addColumn<QString>("band");
    QTest::newRow("14.20012") << "1420012" << "14.20012" << "20M";
    QTest::newRow("2 m") << "14420012" << "144.20012" << "2M";
    QTest::newRow("trailing 1") << "1400001" << "14.00001" << "20M";
    QTest::newRow("40 m") << "700512" << "7.00512" << "40M";
    QTest::newRow("60 m is no band") << "535712" << "5.35712" << "";
    QTest::newRow("three decimals kept") << "1420000" << "14.200" << "20M";
    QTest::newRow("zeros after the third dropped") << "1420010" << "14.2001" << "20M";
    QTest::newRow("below 1 MHz no leading zero") << "50000" << ".500" << "";
    QTest::newRow("rounded to five decimals") << "1420012.6" << "14.20013" << "20M";
    QTest::newRow("band edge") << "1435000" << "14.350" << "20M";
    QTest::newRow("letters") << "abc" << "" << "";
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("infinity is no frequency") << "inf" << "" << "";
    QTest::newRow("huge") << "1e20" << "1000000000000000.000" << "";
}

void TestContactConverter::frequencies()
{
    QFETCH(QString, txfreq);
    QFETCH(QString, freq);
    QFETCH(QString, band);
    const QString record = convert(datagram(withValue(withValue(WorkedExample, "txfreq", txfreq), "rxfreq", txfreq)));
    const QString freqField = QStringLiteral("<FREQ:%1>%2 ").arg(freq.size()).arg(freq);
    QVERIFY2(record.contains(freqField), qPrintable(record));
    QVERIFY2(record.contains(QStringLiteral("<BAND:%1>%2 ").arg(band.size()).arg(band)), qPrintable(record));
    QVERIFY2(record.contains(QStringLiteral("<FREQ_RX:%1>%2 <EOR>").arg(freq.size()).arg(freq)), qPrintable(record));
}

void TestContactConverter::numbersIgnoreTheUsersLocale()
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString record = convert(datagram(WorkedExample));
    const QString comma = convert(datagram(withValue(WorkedExample, "txfreq", "1420012,5")));
    QLocale::setDefault(previous);

    QCOMPARE(record, WorkedRecord);
    QVERIFY2(comma.contains(QStringLiteral("<FREQ:0> <BAND:0> ")), qPrintable(comma));
}

void TestContactConverter::timestamps_data()
{
    QTest::addColumn<QString>("timestamp");
    QTest::addColumn<QString>("date");
    QTest::addColumn<QString>("time");
    QTest::newRow("logger form") << "2011-11-26 14:05:33" << "20111126" << "140533";
    QTest::newRow("slashes") << "2011/11/26 14:05:33" << "20111126" << "140533";
    QTest::newRow("T separator") << "2011-11-26T14:05:33" << "20111126" << "140533";
    QTest::newRow("fraction") << "2011-11-26 14:05:33.250" << "20111126" << "140533";
    QTest::newRow("single digits") << "2011-1-6 4:05:33" << "20110106" << "040533";
    QTest::newRow("midnight") << "2011-11-26 00:00:00" << "20111126" << "000000";
    QTest::newRow("date only") << "2011-11-26" << "20111126" << "000000";
    QTest::newRow("leap day") << "2012-02-29 23:59:59" << "20120229" << "235959";
    QTest::newRow("no such day") << "2011-02-29 12:00:00" << "" << "";
    QTest::newRow("hour 24") << "2011-11-26 24:00:00" << "" << "";
    QTest::newRow("words") << "yesterday" << "" << "";
    QTest::newRow("trailing junk") << "2011-11-26 14:05:33 xyz" << "" << "";
    QTest::newRow("empty") << "" << "" << "";
}

void TestContactConverter::timestamps()
{
    QFETCH(QString, timestamp);
    QFETCH(QString, date);
    QFETCH(QString, time);
    const QString record = convert(datagram(withValue(WorkedExample, "timestamp", timestamp)));
    QVERIFY2(record.contains(QStringLiteral("<QSO_DATE:%1>%2 <TIME_ON:%3>%4 <STX:2>12 ")
                                 .arg(date.size())
                                 .arg(date)
                                 .arg(time.size())
                                 .arg(time)),
             qPrintable(record));
}

void TestContactConverter::datagramBytesBecomeTextWithoutLoss()
{
    QCOMPARE(ContactConverter::datagramText(QByteArray("<call>D\xC3\x84" "A</call>")),
             QString::fromUtf8("<call>DÄA</call>"));
    // Not UTF-8: every byte becomes its Latin-1 character.
    const QByteArray latin1("<call>D\xC4" "A\xFF</call>");
    const QString text = ContactConverter::datagramText(latin1);
    QCOMPARE(text, QString::fromLatin1(latin1));
    QCOMPARE(text.toLatin1(), latin1);
}

void TestContactConverter::nonAsciiCallSignKeepsRecordValid()
{
    const QByteArray bytes = datagram(withValue(WorkedExample, "call", QString::fromUtf8("OZ/DÄ1ØÆ"))).toUtf8();
    const QString record = convert(ContactConverter::datagramText(bytes));
    QVERIFY2(record.startsWith(QString::fromUtf8("<CALL:8>OZ/DÄ1ØÆ <RST_RCVD:3>579 ")), qPrintable(record));
}

void TestContactConverter::parseFailureIsTracedOnlyWithDebugFlag()
{
    TempDir dir;
    DebugTrace trace(dir.file("DebugLog.txt"));
    AdifRecord record;

    ContactConverter::convert(QStringLiteral("<contactinfo><call>"), record, &trace);
    QVERIFY(!dir.exists("DebugLog.txt"));

    DebugTrace::setEnabled(true);
    record.clear();
    ContactConverter::convert(QStringLiteral("<contactinfo><call>"), record, &trace);
    ContactConverter::convert(datagram(WorkedExample), record, &trace); // well-formed: nothing to trace
    ContactConverter::convert(QStringLiteral("<plain>no gate word"), record, &trace);
    const QList<QByteArray> lines = dir.read("DebugLog.txt").split('\n');
    QCOMPARE(lines.size(), 3); // two entries, each ending in CR LF
    QVERIFY(lines[0].contains(" - XML Error  ->  = "));
    QVERIFY(lines[1].contains(" - XML Error  ->  = "));
    QVERIFY(lines[0].endsWith('\r'));
}

void TestContactConverter::hostileXmlIsHarmless_data()
{
    QTest::addColumn<QString>("text");

    QString laughs = QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY l0 \"lol\">");
    for (int i = 1; i < 10; ++i)
        laughs += QStringLiteral("<!ENTITY l%1 \"&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;\">").arg(i).arg(i - 1);
    laughs += QStringLiteral("]><contactinfo><call>&l9;</call></contactinfo>");
    QTest::newRow("billion laughs") << laughs;

    QTest::newRow("external entity")
        << QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                          "<contactinfo><call>&x;</call></contactinfo>");

    QString deep;
    for (int i = 0; i < 8000; ++i)
        deep += QStringLiteral("<a>");
    QTest::newRow("deep nesting") << QStringLiteral("<contactinfo>") + deep;

    QTest::newRow("64 KiB of one element")
        << QStringLiteral("<contactinfo><call>%1</call></contactinfo>").arg(QString(65000, QLatin1Char('X')));
}

void TestContactConverter::hostileXmlIsHarmless()
{
    QFETCH(QString, text);
    const QString record = convert(text);
    QVERIFY(record.endsWith(QStringLiteral("<FREQ_RX:0> <EOR>")));
    QVERIFY(!record.contains(QStringLiteral("root:")));
    QVERIFY(record.size() < 70000);
}

QTEST_GUILESS_MAIN(TestContactConverter)
#include "tst_contactconverter.moc"
