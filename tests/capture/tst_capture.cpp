#include "TempDir.h"
#include "TestMain.h"
#include "WorkedContact.h"
#include "capture/AdifRecord.h"
#include "capture/ContactCapture.h"
#include "capture/ContactConverter.h"
#include "outbox/Outbox.h"

#include <QLocale>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <initializer_list>
#include <utility>

namespace {

using WorkedContact::Datagram;
using WorkedContact::Record;

// Converted, but none of the contact's elements was there.
const QString Reduced =
    QStringLiteral("<FREQ:0> <BAND:0> <QSO_DATE:0> <TIME_ON:0> <TX_PWR:2>-1 <FREQ_RX:0> <EOR>");
// No record: the kind of datagram it was instead.
const QString NoContact = QStringLiteral("no contact");
const QString Unreadable = QStringLiteral("unreadable");
const QString OtherDocument = QStringLiteral("other document");

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

// The worked datagram with one piece of text replaced.
QByteArray edited(const QByteArray& from, const QByteArray& to)
{
    return QByteArray(Datagram).replace(from, to);
}

// The worked record with some fields holding other values (in the BMP).
QString recordWith(std::initializer_list<std::pair<QString, QString>> fields)
{
    QString text = Record;
    for (const auto& [name, value] : fields) {
        text.replace(QRegularExpression(QStringLiteral("<%1:\\d+>\\S* ").arg(name)),
                     QStringLiteral("<%1:%2>%3 ").arg(name).arg(value.size()).arg(value));
    }
    return text;
}

} // namespace

// What the capture makes of texts: datagrams, records and its settings.
class TestCaptureTexts : public QObject
{
    Q_OBJECT

private slots:
    // Datagram numbers use a point whatever the user's locale; every row runs
    // where the locale writes a decimal comma and groups with points.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void datagramBecomesRecord_data();
    void datagramBecomesRecord();
    void unreadableDatagramIsCopiedUpTo4KiB();
    void everyBandEdgeBelongsToItsBand();
    void adifFieldsReadBack();
    void allowedSendersAreAdmitted_data();
    void allowedSendersAreAdmitted();
    void relayDestinationsAreRead_data();
    void relayDestinationsAreRead();
};

void TestCaptureTexts::datagramBecomesRecord_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("record"); // or what the datagram was instead

    QTest::newRow("worked example") << Datagram << Record;
    QTest::newRow("rcv missing") << edited("<rcv>579</rcv>", "")
                                 << QString(Record).remove("<RST_RCVD:3>579 ");
    QTest::newRow("empty mode kept") << with({{"mode", ""}}) << recordWith({{"MODE", ""}});
    QTest::newRow("first of two calls")
        << edited("</contactinfo>", "<call>Q8ZZZ</call></contactinfo>") << Record;
    QTest::newRow("found at any depth")
        << edited("<call>Q9XYZ</call>", "<qso><call>Q9XYZ</call></qso>") << Record;
    QTest::newRow("text taken as it stands")
        << with({{"call", " Q9XYZ "}}) << recordWith({{"CALL", " Q9XYZ "}});
    QTest::newRow("only the root") << QByteArray("<contactinfo/>") << Reduced;

    QTest::newRow("capitalised gate word") << edited("contactinfo", "CONTACTINFO") << NoContact;
    QTest::newRow("cut short") << Datagram.chopped(3) << Unreadable;
    QTest::newRow("gate word outside the root")
        << edited("contactinfo>", "radioinfo>") + "<!-- contactinfo -->" << OtherDocument;
    QTest::newRow("namespaced") << QByteArray("<contactinfo xmlns=\"urn:x\"><call>Q9XYZ</call></contactinfo>")
                                << OtherDocument;
    QTest::newRow("bare ampersand escaped")
        << with({{"exchange1", "R&D"}}) << recordWith({{"SRX_STRING", "R&D"}});
    QTest::newRow("references kept beside bare ones")
        << with({{"exchange1", "&amp;&#65;&#x42;&lt;&apos;R&D&#x;"}})
        << recordWith({{"SRX_STRING", "&AB<'R&D&#x;"}});
    QTest::newRow("still broken after escaping") << edited("</call>", "</cal>") + "R&D" << Unreadable;

    const auto frequency = [](const char* name, const char* tenHertz, const QString& mhz, const char* band) {
        QTest::newRow(name) << with({{"txfreq", tenHertz}, {"rxfreq", tenHertz}})
                            << recordWith({{"FREQ", mhz}, {"BAND", band}, {"FREQ_RX", mhz}});
    };
    frequency("2 m", "14420012", "144.20012", "2M");
    frequency("three decimals kept", "1420000", "14.200", "20M");
    frequency("zeros after the third dropped", "1420010", "14.2001", "20M");
    frequency("below 1 MHz no leading zero", "50000", ".500", "");
    frequency("rounded to five decimals", "1420012.6", "14.20013", "20M");
    frequency("letters", "abc", "", "");
    frequency("decimal comma", "1420012,5", "", "");
    frequency("infinity", "inf", "", "");
    frequency("huge", "1e20", "1000000000000000.000", "");

    const auto timestamp = [](const char* name, const char* text, const char* date, const char* time) {
        QTest::newRow(name) << with({{"timestamp", text}})
                            << recordWith({{"QSO_DATE", date}, {"TIME_ON", time}});
    };
    timestamp("slashes", "2011/11/26 14:05:33", "20111126", "140533");
    timestamp("T separator", "2011-11-26T14:05:33", "20111126", "140533");
    timestamp("fraction", "2011-11-26 14:05:33.250", "20111126", "140533");
    timestamp("single digits", "2011-1-6 4:05:33", "20110106", "040533");
    timestamp("date only", "2011-11-26", "20111126", "000000");
    timestamp("leap day", "2012-02-29 23:59:59", "20120229", "235959");
    timestamp("no such day", "2011-02-29 12:00:00", "", "");
    timestamp("hour 24", "2011-11-26 24:00:00", "", "");
    timestamp("minute 60", "2011-11-26 14:60:00", "", "");
    timestamp("second 60", "2011-11-26 14:05:60", "", "");
    timestamp("trailing junk", "2011-11-26 14:05:33 xyz", "", "");

    QTest::newRow("non-ASCII call sign")
        << with({{"call", "OZ/D\xC3\x84" "1\xC3\x98\xC3\x86"}})
        << recordWith({{"CALL", QString::fromUtf8("OZ/D\xC3\x84" "1\xC3\x98\xC3\x86")}});
    QTest::newRow("Latin-1 datagram")
        << with({{"call", "D\xC4" "A\xFF"}}) << recordWith({{"CALL", QString::fromLatin1("D\xC4" "A\xFF")}});
    QTest::newRow("letter outside the BMP counts once")
        << with({{"exchange1", "\xF0\x9F\x93\xBB"}})
        << QString(Record).replace("<SRX_STRING:2>14", QString::fromUtf8("<SRX_STRING:1>\xF0\x9F\x93\xBB"));

    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        const QByteArray tenOfTheLast = ("&l" + QByteArray::number(i - 1) + ";").repeated(10);
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" + tenOfTheLast + "\">";
    }
    // Too many expansions fail the reading, and escaping would upload the references as text.
    QTest::newRow("billion laughs") << laughs + "]><contactinfo><call>&l9;</call></contactinfo>" << Unreadable;
    QTest::newRow("bare ampersand beside a DOCTYPE")
        << "<!DOCTYPE contactinfo>" + with({{"exchange1", "R&D"}}) << Unreadable;
    QTest::newRow("external entity never read")
        << QByteArray("<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY x SYSTEM "
                      "\"file:///etc/passwd\">]><contactinfo><call>&x;</call></contactinfo>")
        << "<CALL:0> " + Reduced;
    QTest::newRow("longest field") << with({{"exchange1", QByteArray(1024, 'X')}})
                                   << recordWith({{"SRX_STRING", QString(1024, QLatin1Char('X'))}});
    QTest::newRow("field too long") << with({{"call", QByteArray(1025, 'X')}}) << Unreadable;
    // clang-format on
}

void TestCaptureTexts::datagramBecomesRecord()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, record);
    AdifRecord built;
    const Conversion conversion = ContactConverter::convert(ContactConverter::datagramText(datagram), built);
    const QString kinds[] = {NoContact, OtherDocument, Unreadable, built.text()};
    QCOMPARE(kinds[int(conversion.kind)], record);
    QCOMPARE(built.isEmpty(), conversion.kind != DatagramKind::Contact);
    QCOMPARE(conversion.problem.isEmpty(), record != Unreadable && record != OtherDocument);
}

void TestCaptureTexts::unreadableDatagramIsCopiedUpTo4KiB()
{
    const QString full(4096, QLatin1Char('x'));
    const auto report = [](const QString& datagram) {
        return ContactConverter::unreadableReport(datagram, "Why");
    };
    QCOMPARE(report(full), "Why\r\n" + full);
    QCOMPARE(report(full + "yz"),
             "Why\r\n" + full + "\r\n[The datagram is 4098 bytes long; the first 4096 are copied here]");
    // Never half a character.
    QCOMPARE(report(full.chopped(1) + QChar(0xE9)),
             "Why\r\n" + full.chopped(1) +
                 "\r\n[The datagram is 4097 bytes long; the first 4095 are copied here]");
}

void TestCaptureTexts::everyBandEdgeBelongsToItsBand()
{
    const std::tuple<const char*, double, double> bands[] = {
        {"160M", 1800, 2000},  {"80M", 3500, 4000},   {"40M", 7000, 7300},   {"30M", 10100, 10150},
        {"20M", 14000, 14350}, {"17M", 18068, 18168}, {"15M", 21000, 21450}, {"12M", 24890, 24990},
        {"10M", 28000, 29700}, {"6M", 50000, 54000},  {"2M", 144000, 148000}};
    for (const auto& [name, lower, upper] : bands) {
        QCOMPARE(GetBandForFrequency(QString::number(lower)), QString::fromLatin1(name));
        QCOMPARE(GetBandForFrequency(QString::number(upper)), QString::fromLatin1(name));
        QCOMPARE(GetBandForFrequency(QString::number(lower - 0.01, 'f', 2)), QString());
        QCOMPARE(GetBandForFrequency(QString::number(upper + 0.01, 'f', 2)), QString());
    }
    QCOMPARE(GetBandForFrequency(QStringLiteral("14200,12")), QString()); // a point, whatever the locale
}

void TestCaptureTexts::adifFieldsReadBack()
{
    QCOMPARE(adifField(Record, u"CALL"), QStringLiteral("Q9XYZ"));
    QCOMPARE(adifField(Record, u"freq_rx"), QStringLiteral("14.20012"));
    QCOMPARE(adifField(QString::fromUtf8("<SRX_STRING:1>\xF0\x9F\x93\xBB <MODE:2>CW <EOR>"), u"MODE"),
             QStringLiteral("CW"));
    QCOMPARE(adifField(Record, u"GRIDSQUARE"), QString());
}

void TestCaptureTexts::allowedSendersAreAdmitted_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<bool>("admitted");
    QTest::addColumn<int>("problems");

    const auto rows = [](const char* setting, int problems,
                         std::initializer_list<std::pair<const char*, bool>> senders) {
        for (const auto& [sender, admitted] : senders)
            QTest::addRow("%s: %s", setting, sender) << setting << sender << admitted << problems;
    };
    // clang-format off
    rows("", 0, {{"127.0.0.1", true}, {"127.200.0.1", true}, {"::1", true}, {"10.1.2.3", true},
                 {"172.31.255.255", true}, {"172.15.255.255", false}, {"192.168.5.5", true},
                 {"169.254.1.1", true}, {"fd12::1", true}, {"fe80::1%1", true}, {"100.127.0.1", true},
                 {"100.128.0.1", false}, {"44.1.2.3", true}, {"203.0.113.9", true}, {"203.0.114.1", false},
                 {"2001:db8::1", false}, {"::ffff:10.1.2.3", true}, {"::ffff:8.8.8.8", false}});
    rows("192.0.2.7", 0, {{"192.0.2.7", true}, {"::ffff:192.0.2.7", true}, {"192.0.2.8", false},
                          {"127.0.0.1", false}});
    rows(" 198.51.100.0/24 ,2001:db8::/32", 0, {{"198.51.100.200", true}, {"2001:db8:1::5", true},
                                                {"2001:db9::1", false}});
    rows("Any", 0, {{"8.8.8.8", true}, {"2001:db8::1", true}});
    rows("bogus, 192.0.2.7/33, 192.0.2.7", 2, {{"192.0.2.7", true}, {"10.0.0.1", false}});
    // A cut or partial address names no network, and with nothing usable the defaults hold.
    rows("192.0.2, 192.0.2.", 3, {{"192.0.2.9", false}, {"10.0.0.1", true}});
    // clang-format on
}

void TestCaptureTexts::allowedSendersAreAdmitted()
{
    QFETCH(QString, setting);
    QFETCH(QString, sender);
    QStringList said;
    const SenderFilter filter =
        SenderFilter::fromSetting(setting, {QHostAddress::parseSubnet("203.0.113.0/24")}, &said);
    QTEST(filter.admits(QHostAddress(sender)), "admitted");
    QTEST(int(said.size()), "problems");
}

void TestCaptureTexts::relayDestinationsAreRead_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QStringList>("destinations");
    QTest::addColumn<int>("problems");

    QTest::newRow("none") << "" << QStringList() << 0;
    QTest::newRow("name") << "mapper.local:12061" << QStringList{"mapper.local:12061"} << 0;
    QTest::newRow("addresses") << " 127.0.0.1:1 , [::1]:65535,," << QStringList{"127.0.0.1:1", "[::1]:65535"}
                               << 0;
    QTest::newRow("listed twice") << "a:1,a:1" << QStringList{"a:1"} << 0;
    for (const char* bad : {"::1:12061", "[mapper]:1", "mapper", "mapper:", ":12061", "mapper:0",
                            "mapper:65536", "mapper:12x", "my mapper:1"})
        QTest::addRow("skipped: %s", bad) << QString("%1,b:2").arg(bad) << QStringList{"b:2"} << 1;
}

void TestCaptureTexts::relayDestinationsAreRead()
{
    QFETCH(QString, setting);
    QStringList said;
    QStringList found;
    for (const RelayDestination& destination : parseRelayTo(setting, &said))
        found << destination.text();
    QTEST(found, "destinations");
    QTEST(int(said.size()), "problems");
}

namespace {

// A capture on this thread (nothing is read while the test itself runs)
// with its outbox in a throw-away folder.
struct Capture
{
    Capture() : outbox(dir.file("Outbox.txt")), capture(outbox, nullptr, DebugTrace(dir.file("DebugLog.txt")))
    {
        outbox.open();
        QObject::connect(&capture, &ContactCapture::captured,
                         [this](const CaptureBatch& batch) { contacts += batch.contacts; });
        QObject::connect(&capture, &ContactCapture::counted,
                         [this](const CaptureCounts& now) { counts = now; });
    }

    quint16 listen()
    {
        QSignalSpy listening(&capture, &ContactCapture::listening);
        capture.bind(0);
        return listening.first().first().value<quint16>();
    }

    TempDir dir;
    Outbox outbox;
    ContactCapture capture;
    QList<CapturedContact> contacts;
    CaptureCounts counts;
};

// Another program on the station, taking what is relayed to it.
struct Listener
{
    explicit Listener(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost), quint16 port = 0)
    {
        socket.bind(address, port);
        QObject::connect(&socket, &QUdpSocket::readyRead, [this] {
            while (socket.hasPendingDatagrams())
                received << socket.receiveDatagram().data();
        });
    }

    QUdpSocket socket;
    QList<QByteArray> received;
};

QStringList shown(const QSignalSpy& relayChanged)
{
    return relayChanged.isEmpty() ? QStringList() : relayChanged.last().first().toStringList();
}

} // namespace

class TestContactCapture : public QObject
{
    Q_OBJECT

private slots:
    void everyContactIsStoredBeforeItIsHandedOn();
    void kernelDropsAreCounted();
    void onlyAllowedSendersAreReadAndRelayed();
    void relayedCopiesArriveWholeOnceAndInOrder();
};

void TestContactCapture::everyContactIsStoredBeforeItIsHandedOn()
{
    Capture rig;
    const quint16 port = rig.listen();
    QUdpSocket sender;
    const auto send = [&](const QByteArray& datagram) {
        sender.writeDatagram(datagram, QHostAddress::LocalHost, port);
    };

    // Other stations' computers send to this one's network addresses, IPv4
    // and IPv6, not to loopback; the subnets they share are allowed. With
    // automatic upload off their contacts are shown, not added.
    rig.capture.setAutoUpload(false);
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : addresses)
        sender.writeDatagram(Datagram, address, port);
    QTRY_COMPARE(rig.contacts.size(), addresses.size());
    QCOMPARE(rig.contacts.last().record, Record);
    QCOMPARE(rig.contacts.last().key, 0u);
    rig.contacts.clear();

    rig.capture.setAutoUpload(true);
    constexpr int Burst = 600; // several batches, arriving while batches are handed on
    for (int i = 0; i < Burst; ++i)
        send(WorkedContact::datagramWithCall('Q' + QByteArray::number(1000 + i)));
    send("just text");
    QTRY_COMPARE(rig.contacts.size(), Burst + 1);
    // In arrival order, with the keys they have in the outbox.
    const QList<Outbox::Entry> stored = Outbox::parse(rig.dir.read("Outbox.txt"));
    QCOMPARE(stored.size(), Burst);
    for (int i = 0; i < Burst; ++i) {
        QCOMPARE(rig.contacts[i].key, stored[i].key);
        QCOMPARE(stored[i].record, WorkedContact::recordWithCall('Q' + QString::number(1000 + i)));
    }

    // Closing before the event loop has seen these: they are on the socket only.
    for (int i = 0; i < 50; ++i)
        send(Datagram);
    rig.capture.drain();
    QCOMPARE(rig.outbox.waitingCount(), Burst + 50);
}

void TestContactCapture::kernelDropsAreCounted()
{
    Capture rig;
    rig.capture.setReceiveBufferSize(4096);
    const quint16 port = rig.listen();
    QUdpSocket sender;
    constexpr quint64 Sent = 200; // far more than the buffer holds while this thread sends
    for (quint64 i = 0; i < Sent; ++i)
        sender.writeDatagram(Datagram, QHostAddress::LocalHost, port);
    QTRY_VERIFY(!rig.contacts.isEmpty());
    // The system's count comes with the next datagram read.
    sender.writeDatagram(Datagram, QHostAddress::LocalHost, port);
    QTRY_COMPARE(rig.contacts.size() + rig.counts.kernelDrops, Sent + 1);
    QVERIFY(rig.counts.kernelDrops > 0);
}

void TestContactCapture::onlyAllowedSendersAreReadAndRelayed()
{
    Capture rig;
    Listener relayed;
    QSignalSpy relaying(&rig.capture, &ContactCapture::relayChanged);
    QSignalSpy problems(&rig.capture, &ContactCapture::relayProblem);
    QSignalSpy refused(&rig.capture, &ContactCapture::senderRefused);
    rig.capture.setSenders(SenderFilter::fromSetting("127.0.0.2", {}));
    rig.capture.setRelay({{"127.0.0.1", relayed.socket.localPort()}, {"mapper..local", 1}});
    const quint16 port = rig.listen();
    QTRY_COMPARE(shown(relaying).size(), 1);
    QTRY_COMPARE(problems.size(), 1);

    QUdpSocket stranger;
    QUdpSocket logger;
    stranger.bind(QHostAddress("127.0.0.1"), 0);
    logger.bind(QHostAddress("127.0.0.2"), 0);
    stranger.writeDatagram(Datagram, QHostAddress::LocalHost, port);
    stranger.writeDatagram(Datagram, QHostAddress::LocalHost, port);
    logger.writeDatagram("just text", QHostAddress::LocalHost, port);
    QTRY_COMPARE(relayed.received, QList<QByteArray>{"just text"});
    // The same again at once went round a loop: neither read nor relayed.
    logger.writeDatagram("just text", QHostAddress::LocalHost, port);
    QTRY_COMPARE(rig.counts.looped, 1u);
    QCOMPARE(rig.contacts.size(), 1);
    QCOMPARE(rig.counts.refused, 2u);
    QCOMPARE(refused.size(), 1);
    QCOMPARE(refused.first(), (QVariantList{"127.0.0.1", stranger.localPort(), "127.0.0.1"}));
}

void TestContactCapture::relayedCopiesArriveWholeOnceAndInOrder()
{
    Listener byName;
    Listener byAddress(QHostAddress::LocalHostIPv6);
    if (byAddress.socket.state() != QAbstractSocket::BoundState)
        QSKIP("this machine has no IPv6 loopback");
    DatagramRelay relay;
    QSignalSpy relaying(&relay, &DatagramRelay::destinationsChanged);
    QSignalSpy problems(&relay, &DatagramRelay::problem);
    const quint16 ownPort = freeUdpPort();
    relay.setOwnPort(ownPort);
    const RelayDestination unreachable{"127.0.0.1", freeUdpPort()};
    QList<RelayDestination> destinations{{"localhost", byName.socket.localPort()},
                                         unreachable,
                                         {"::1", byAddress.socket.localPort()},
                                         {"mapper..local", 12061},
                                         {"::", ownPort}};
    // Our own port at every address of this machine is refused, as is a name that does not resolve.
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (!destinations.contains(RelayDestination{address.toString(), ownPort}))
            destinations.append({address.toString(), ownPort});
    }
    relay.setDestinations(destinations);
    QTRY_COMPARE(problems.size(), destinations.size() - 3);
    QTRY_COMPARE(shown(relaying).size(), 3);

    const QList<QByteArray> sent{Datagram, "just text", QByteArray("\xFF\0<contactinfo", 14)};
    for (const QByteArray& datagram : sent)
        QVERIFY(relay.relay(datagram));
    // What comes straight back (a second Tarvex relaying to us, a broadcast) is not relayed again.
    QVERIFY(!relay.relay(Datagram));
    QCOMPARE(relay.looped(), 1u);
    QTRY_COMPARE(byName.received, sent);
    QTRY_COMPARE(byAddress.received, sent);
    // The refusals have come back by now; they are counted, and once a
    // program listens there the next copy reaches it all the same.
    Listener late(QHostAddress::LocalHost, unreachable.port);
    QVERIFY(relay.relay("last"));
    QTRY_COMPARE(late.received, QList<QByteArray>{"last"});
    QVERIFY(relay.failures() > 0);
    // Once for each destination, however many copies failed.
    QCOMPARE(problems.size(), destinations.size() - 2);
    QVERIFY(problems.last().first().toString().contains(unreachable.text()));
}

TARVEX_TEST(TestCaptureTexts)
TARVEX_TEST(TestContactCapture)
#include "tst_capture.moc"
