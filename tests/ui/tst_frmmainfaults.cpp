#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "capture/ContactConverter.h"
#include "capture/UdpListener.h"
#include "ui/frmMain.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeUploader.h"
#include "upload/ServiceAddress.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

#include <memory>

using namespace std::chrono_literals;

namespace {

const QByteArray WorkedExample =
    "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq><rxfreq>1420012</rxfreq>"
    "<mode>CW</mode><call>Q9XYZ</call><snt>599</snt><rcv>579</rcv><sntnr>12</sntnr><rcvnr>345</rcvnr>"
    "<exchange1>14</exchange1><wpxprefix>Q9</wpxprefix><extra>1</extra></contactinfo>";

const QString WorkedRecord =
    QStringLiteral("<CALL:5>Q9XYZ <RST_RCVD:3>579 <RST_SENT:3>599 <FREQ:8>14.20012 <BAND:3>20M <MODE:2>CW "
                   "<QSO_DATE:8>20111126 <TIME_ON:6>140533 <STX:2>12 <SRX:3>345 <SRX_STRING:2>14 <PFX:2>Q9 "
                   "<TX_PWR:2>-1 <FREQ_RX:8>14.20012 <EOR>");

// What is left of a record when none of the contact's elements could be read.
const QString EmptyRecord =
    QStringLiteral("<FREQ:0> <BAND:0> <QSO_DATE:0> <TIME_ON:0> <TX_PWR:2>-1 <FREQ_RX:0> <EOR>");

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

QByteArray billionLaughs()
{
    QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE contactinfo [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; ++i) {
        const QByteArray previous = "&l" + QByteArray::number(i - 1) + ';';
        laughs += "<!ENTITY l" + QByteArray::number(i) + " \"" + previous.repeated(10) + "\">";
    }
    return laughs + "]><contactinfo><call>&l9;</call></contactinfo>";
}

// A started window on a free port whose uploads go to the fake service.
struct Station
{
    Station()
    {
        service.listen();
        dir.write("Tarvex.ini", "[Settings]\r\nUDPPort=" + QByteArray::number(freeUdpPort()) +
                                    "\r\nCorvaneHost=" + service.baseUrl().toString().toUtf8() + "\r\n");
        window = std::make_unique<frmMain>(AppPaths(dir.path()), prompter);
        window->uploader().setTimeout(2s);
        window->Form_Load();
    }

    void send(const QByteArray& datagram) const
    {
        QUdpSocket sender;
        sender.writeDatagram(datagram, QHostAddress::LocalHost, window->socket().boundPort());
    }

    TempDir dir;
    FakeCorvane service;
    ScriptedPrompter prompter;
    std::unique_ptr<frmMain> window;
};

} // namespace

// Hostile or broken input from outside the program, at the window: the
// settings file and the datagrams. Start-up completes and the window keeps
// handling contacts.
class TestFrmMainFaults : public QObject
{
    Q_OBJECT

private slots:
    void brokenSettingsFileStartsWithDefaults_data();
    void brokenSettingsFileStartsWithDefaults();
    void hostileDatagramsLeaveTheWindowWorking_data();
    void hostileDatagramsLeaveTheWindowWorking();
    void floodWithoutTheGateWordIsOnlyShown();
};

void TestFrmMainFaults::brokenSettingsFileStartsWithDefaults_data()
{
    QTest::addColumn<QByteArray>("garbage"); // the file's bytes; empty: a directory instead
    QTest::addColumn<bool>("writable");      // whether later changes still reach the file

    QByteArray noise;
    for (int i = 0; i < 64 * 1024; ++i)
        noise += static_cast<char>((i * 7919 + i / 251) % 256);
    QTest::newRow("binary garbage") << noise << true;
    QTest::newRow("garbage too large to be a settings file") << noise.repeated(80) << false;
    QTest::newRow("directory") << QByteArray() << false;
}

void TestFrmMainFaults::brokenSettingsFileStartsWithDefaults()
{
    QFETCH(QByteArray, garbage);
    QFETCH(bool, writable);

    TempDir dir;
    if (garbage.isEmpty())
        QVERIFY(QDir(dir.path()).mkdir("Tarvex.ini"));
    else
        dir.write("Tarvex.ini", garbage);
    FakeCorvane service;
    QVERIFY(service.listen());
    ScriptedPrompter prompter;
    frmMain w(AppPaths(dir.path()), prompter);
    w.Form_Load();
    w.uploader().setEndpoint(serviceUrl(service.baseUrl(), QStringLiteral("/realtime.php")));

    for (QLineEdit* box : {w.txtCorvaneEmailAddress, w.txtCorvaneCallsign, w.txtCorvanePassword})
        QCOMPARE(box->text(), QStringLiteral("Not Set"));
    QVERIFY(w.chkEnableAuto->isChecked());
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));
    QCOMPARE(w.txtPort->text(), QStringLiteral("12060"));
    QVERIFY(w.mnuDebug1->isChecked());
    QVERIFY(!w.mnuError->menuAction()->isVisible());
    // 12060 may be held by another program; then only that failure is reported.
    for (const ScriptedPrompter::Message& message : std::as_const(prompter.messages))
        QCOMPARE(message.title, QStringLiteral("Failure"));

    w.pipeline().handleDatagram(WorkedExample);
    QTRY_COMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("1"));
    QCOMPARE(FakeCorvane::formFields(service.requests().first().body).value("adif"), WorkedRecord);

    w.chkEnableAuto->setChecked(false);
    QCOMPARE(w.settings().GetSettings("AutoUploadEnabled", "unreadable"),
             writable ? QStringLiteral("False") : QStringLiteral("unreadable"));
    if (garbage.isEmpty())
        QVERIFY(QFileInfo(dir.file("Tarvex.ini")).isDir());
}

void TestFrmMainFaults::hostileDatagramsLeaveTheWindowWorking_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<QString>("uploaded"); // the record the service receives

    // The largest payload a UDP datagram over IPv4 carries.
    QByteArray largest = WorkedExample;
    const QByteArray end = "</contactinfo>";
    largest.chop(end.size());
    largest += "<pad>" + QByteArray(65507 - largest.size() - 11 - end.size(), 'x') + "</pad>" + end;
    QTest::newRow("65,507 bytes") << largest << WorkedRecord;

    QByteArray latin1 = WorkedExample;
    latin1.replace("Q9XYZ", "D\xC4\xD6");
    QString latin1Record = WorkedRecord;
    latin1Record.replace(QStringLiteral("<CALL:5>Q9XYZ"), QString::fromUtf8("<CALL:3>DÄÖ"));
    QTest::newRow("Latin-1, not UTF-8") << latin1 << latin1Record;

    static const char cutOff[] = "<contactinfo><call>\xC3</call>\x01\x00\xFF<mode>CW</mode></contactinfo>";
    QTest::newRow("cut-off UTF-8 and control bytes") << QByteArray(cutOff, sizeof(cutOff) - 1) << EmptyRecord;
    QTest::newRow("billion laughs") << billionLaughs() << EmptyRecord;
}

void TestFrmMainFaults::hostileDatagramsLeaveTheWindowWorking()
{
    QFETCH(QByteArray, datagram);
    QFETCH(QString, uploaded);

    Station station;
    frmMain& w = *station.window;
    QVERIFY(w.socket().isBound());

    station.send(datagram);
    QTRY_COMPARE(station.service.requests().size(), 1);
    QCOMPARE(FakeCorvane::formFields(station.service.requests()[0].body).value("adif"), uploaded);
    QTRY_COMPARE(w.txtResult->toPlainText().size(), ContactConverter::datagramText(datagram).size());

    station.send(WorkedExample);
    QTRY_COMPARE(station.service.requests().size(), 2);
    QCOMPARE(FakeCorvane::formFields(station.service.requests()[1].body).value("adif"), WorkedRecord);
    QTRY_COMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("2"));
}

void TestFrmMainFaults::floodWithoutTheGateWordIsOnlyShown()
{
    constexpr int Flood = 10000;
    constexpr int Batch = 250;
    Station station;
    frmMain& w = *station.window;
    QVERIFY(w.socket().isBound());
    QSignalSpy shown(&w.pipeline(), &ContactPipeline::datagramShown);

    // In batches the kernel's buffer surely holds, so what is measured is the
    // window, not the loopback.
    QUdpSocket sender;
    for (int sent = 0; sent < Flood; sent += Batch) {
        for (int i = sent; i < sent + Batch; ++i) {
            sender.writeDatagram("<contact><call>Q9" + QByteArray::number(i) + "</call></contact>",
                                 QHostAddress::LocalHost, w.socket().boundPort());
        }
        QTRY_COMPARE(shown.size(), sent + Batch);
    }
    QTRY_COMPARE(w.txtResult->toPlainText(),
                 QStringLiteral("<contact><call>Q9%1</call></contact>").arg(Flood - 1));
    QCOMPARE(station.service.requests().size(), 0);
    QCOMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("0"));

    station.send(WorkedExample);
    QTRY_COMPARE(station.service.requests().size(), 1);
    QTRY_COMPARE(w.txtTotalQSOUploaded->text(), QStringLiteral("1"));
    QVERIFY(!station.dir.exists("ErrorLog.txt"));
    QVERIFY(!station.dir.exists("NotUploadedQsosLog.adi"));
}

QTEST_MAIN(TestFrmMainFaults)
#include "tst_frmmainfaults.moc"
