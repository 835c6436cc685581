#include "BenchSupport.h"
#include "FakeCorvane.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

namespace {

struct Run
{
    QString name;
    QList<double> latenciesMs;
    int sent = 0;
};

} // namespace

// Send-to-POST latency of the built program against a fake service on
// loopback, beside the same path without Tarvex (a bare socket and a POST).
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"tarvex", "Built program.", "PATH"},
                       {"floor", "The bare receive-and-post program.", "PATH"},
                       {"count", "Datagrams per run.", "N", "1000"},
                       {"gap", "Milliseconds between datagrams.", "MS", "20"}});
    parser.process(app);
    const int count = parser.value("count").toInt();
    const int gap = parser.value("gap").toInt();

    FakeCorvane service;
    if (!service.listen()) {
        std::fprintf(stderr, "bench_latency: the fake service did not start\n");
        return 1;
    }
    const QUrl endpoint(service.baseUrl().toString() + QStringLiteral("/realtime.php"));

    QElapsedTimer clock;
    clock.start();
    // Both paths run side by side, their datagrams interleaved, so whatever
    // else the machine does falls on both alike. Serials tell them apart.
    constexpr int TarvexSerials = 500000;
    QHash<int, qint64> sentAt;
    QHash<int, qint64> receivedAt;
    QObject::connect(&service, &FakeCorvane::requestReceived, &app, [&](const FakeCorvane::Request& request) {
        const int serial =
            Bench::serialIn(FakeCorvane::formFields(request.body).value(QStringLiteral("adif")));
        if (serial >= 0 && !receivedAt.contains(serial))
            receivedAt.insert(serial, clock.nsecsElapsed());
    });

    const quint16 floorPort = Bench::freeUdpPort();
    QProcess floorProcess;
    floorProcess.setProcessChannelMode(QProcess::ForwardedChannels);
    floorProcess.start(parser.value("floor"), {QString::number(floorPort), endpoint.toString()});

    QTemporaryDir directory;
    const quint16 tarvexPort = Bench::freeUdpPort();
    QProcess tarvexProcess;
    const bool started = Bench::startTarvex(
        tarvexProcess, parser.value("tarvex"), directory.path(),
        "[Settings]\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\n"
        "CorvanePassword=secret\r\nAutoUploadEnabled=True\r\nCorvaneHost=" +
            service.baseUrl().toString().toUtf8() + "\r\nUDPPort=" + QByteArray::number(tarvexPort) + "\r\n");
    if (!started || !floorProcess.waitForStarted() ||
        !Bench::waitFor([&] { return Bench::udpPortBound(floorPort) && Bench::udpPortBound(tarvexPort); },
                        10000)) {
        std::fprintf(stderr, "bench_latency: the programs did not start\n");
        return 1;
    }
    Bench::waitFor([] { return false; }, 500); // let start-up settle

    QUdpSocket sender;
    QTimer pacer;
    pacer.setTimerType(Qt::PreciseTimer);
    pacer.setInterval(gap / 2);
    int ticks = 0;
    QObject::connect(&pacer, &QTimer::timeout, &app, [&] {
        const bool toTarvex = ticks % 2 == 1;
        const int serial = ticks / 2 + (toTarvex ? TarvexSerials : 0);
        sentAt.insert(serial, clock.nsecsElapsed());
        sender.writeDatagram(Bench::contactDatagram(serial), QHostAddress::LocalHost,
                             toTarvex ? tarvexPort : floorPort);
        if (++ticks == 2 * count)
            pacer.stop();
    });
    pacer.start();
    Bench::waitFor([&] { return ticks == 2 * count && receivedAt.size() == 2 * count; }, count * gap + 10000);
    Bench::stopTarvex(tarvexProcess);
    Bench::stopTarvex(floorProcess);

    Run floor{QStringLiteral("floor: bare socket + same POST"), {}, count};
    Run tarvex{QStringLiteral("tarvex (offscreen)"), {}, count};
    for (auto it = receivedAt.cbegin(); it != receivedAt.cend(); ++it) {
        Run& run = it.key() >= TarvexSerials ? tarvex : floor;
        run.latenciesMs.append(static_cast<double>(it.value() - sentAt.value(it.key())) / 1e6);
    }

    Bench::Table table(
        QStringLiteral(
            "Latency (%1 datagrams to each, %2 ms apart, interleaved; send -> POST received by the fake; "
            "target: p99 within 2 ms of the floor)")
            .arg(count)
            .arg(gap),
        {"path", "received", "p50 ms", "p99 ms", "max ms"});
    for (const Run& run : {floor, tarvex}) {
        table.addRow({run.name, QStringLiteral("%1/%2").arg(run.latenciesMs.size()).arg(run.sent),
                      Bench::fixed(Bench::percentile(run.latenciesMs, 50), 3),
                      Bench::fixed(Bench::percentile(run.latenciesMs, 99), 3),
                      Bench::fixed(Bench::percentile(run.latenciesMs, 100), 3)});
    }
    const double p50 = Bench::percentile(tarvex.latenciesMs, 50) - Bench::percentile(floor.latenciesMs, 50);
    const double p99 = Bench::percentile(tarvex.latenciesMs, 99) - Bench::percentile(floor.latenciesMs, 99);
    const bool complete = tarvex.latenciesMs.size() == count && floor.latenciesMs.size() == count;
    table.addRow({QStringLiteral("tarvex - floor (target %1)").arg(complete && p99 <= 2.0 ? "met" : "MISSED"),
                  "", Bench::fixed(p50, 3), Bench::fixed(p99, 3), ""});
    table.print();
    return complete ? 0 : 1;
}
