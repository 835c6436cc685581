#include "FakeCorvane.h"
#include "upload/RealtimeRequest.h"

#include <QTest>

namespace {

const QString WorkedRecord = QStringLiteral(
    "<CALL:5>Q9XYZ <RST_RCVD:3>579 <RST_SENT:3>599 <FREQ:8>14.20012 <BAND:3>20M <MODE:2>CW "
    "<QSO_DATE:8>20111126 <TIME_ON:6>140533 <STX:2>12 <SRX:3>345 <SRX_STRING:2>14 <PFX:2>Q9 "
    "<TX_PWR:2>-1 <FREQ_RX:8>14.20012 <EOR>");

} // namespace

class TestRealtimeRequest : public QObject
{
    Q_OBJECT

private slots:
    void formEncoding_data();
    void formEncoding();
    void bodyHoldsTheFiveFieldsInOrder();
    void everyValueArrivesUnchanged_data();
    void everyValueArrivesUnchanged();
};

void TestRealtimeRequest::formEncoding_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("encoded");

    QTest::newRow("unreserved kept") << "AZaz09-._*" << QByteArray("AZaz09-._*");
    QTest::newRow("blank as plus") << "Not Set" << QByteArray("Not+Set");
    QTest::newRow("separators") << "&=+%" << QByteArray("%26%3D%2B%25");
    QTest::newRow("tilde and at") << "~a@b" << QByteArray("%7Ea%40b");
    QTest::newRow("ADIF field") << "<CALL:5>Q9XYZ <EOR>" << QByteArray("%3CCALL%3A5%3EQ9XYZ+%3CEOR%3E");
    QTest::newRow("UTF-8 first") << QString::fromUtf8("ä€") << QByteArray("%C3%A4%E2%82%AC");
    QTest::newRow("line break") << "a\r\n" << QByteArray("a%0D%0A");
    QTest::newRow("empty") << "" << QByteArray();
}

void TestRealtimeRequest::formEncoding()
{
    QFETCH(QString, value);
    QFETCH(QByteArray, encoded);
    QCOMPARE(formEncode(value), encoded);
}

void TestRealtimeRequest::bodyHoldsTheFiveFieldsInOrder()
{
    const RealtimeRequest request =
        RealtimeRequest::make({"op@example.org", "s3cret", "Q9XYZ"}, WorkedRecord);
    const QByteArray adif = "%3CCALL%3A5%3EQ9XYZ+%3CRST_RCVD%3A3%3E579+%3CRST_SENT%3A3%3E599+"
                            "%3CFREQ%3A8%3E14.20012+%3CBAND%3A3%3E20M+%3CMODE%3A2%3ECW+"
                            "%3CQSO_DATE%3A8%3E20111126+%3CTIME_ON%3A6%3E140533+%3CSTX%3A2%3E12+"
                            "%3CSRX%3A3%3E345+%3CSRX_STRING%3A2%3E14+%3CPFX%3A2%3EQ9+"
                            "%3CTX_PWR%3A2%3E-1+%3CFREQ_RX%3A8%3E14.20012+%3CEOR%3E";
    const QByteArray api = "&api=7d41c9a0be3358f2a6e0d17c4b92f85e306aa1cd&adif=";
    QCOMPARE(request.record, WorkedRecord);
    QCOMPARE(request.body, "email=op%40example.org&password=s3cret&callsign=Q9XYZ" + api + adif);
    QCOMPARE(request.reportBody, "email=op%40example.org&password=********&callsign=Q9XYZ" + api + adif);
}

void TestRealtimeRequest::everyValueArrivesUnchanged_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("callsign");

    QTest::newRow("form separators") << "a&b=c+d" << "Q9XYZ";
    QTest::newRow("field name inside") << "x&password=y&api=z" << "Q9XYZ";
    QTest::newRow("blanks and umlaut") << QString::fromUtf8(" pass wört ") << "Not Set";
    QTest::newRow("percent sequence") << "%41%2B" << "Q9/P";
    QTest::newRow("outside the BMP") << QString::fromUtf8("key\xF0\x9F\x93\xBB") << QString::fromUtf8("OZ/DÄ1");
    QTest::newRow("empty") << "" << "";
}

void TestRealtimeRequest::everyValueArrivesUnchanged()
{
    QFETCH(QString, password);
    QFETCH(QString, callsign);
    const Credentials credentials{QString::fromUtf8("ö+op@example.org"), password, callsign};
    const RealtimeRequest request = RealtimeRequest::make(credentials, WorkedRecord);

    const QMap<QString, QString> fields = FakeCorvane::formFields(request.body);
    QCOMPARE(fields.keys(), QStringList({"adif", "api", "callsign", "email", "password"}));
    QCOMPARE(fields["email"], credentials.email);
    QCOMPARE(fields["password"], password);
    QCOMPARE(fields["callsign"], callsign);
    QCOMPARE(fields["api"], QString::fromLatin1(ApplicationKey));
    QCOMPARE(fields["adif"], WorkedRecord);

    QMap<QString, QString> reported = FakeCorvane::formFields(request.reportBody);
    QCOMPARE(reported["password"], QStringLiteral("********"));
    reported["password"] = password;
    QCOMPARE(reported, fields);
}

QTEST_GUILESS_MAIN(TestRealtimeRequest)
#include "tst_realtimerequest.moc"
