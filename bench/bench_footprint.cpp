#include "BenchSupport.h"
#include "FakeCorvane.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <cstdio>

namespace {

QString mebibytes(qint64 kib)
{
    return Bench::fixed(static_cast<double>(kib) / 1024.0, 1) + " MiB";
}

} // namespace

// Start-up time to the bound socket, and resident memory idle and after a
// long run of contacts that the fake service accepts at once.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"tarvex", "Built program.", "PATH"},
                       {"starts", "Start-ups to time.", "N", "10"},
                       {"count", "Datagrams for the memory run.", "N", "100000"}});
    parser.process(app);
    const QString program = parser.value("tarvex");
    const int count = parser.value("count").toInt();

    FakeCorvane service;
    if (!service.listen())
        return 1;
    const QByteArray settings =
        "[Settings]\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\n"
        "CorvanePassword=secret\r\nAutoUploadEnabled=True\r\nCorvaneHost=" +
        service.baseUrl().toString().toUtf8() + "\r\n";

    // Start-up: from starting the process until its socket is bound, polled
    // every 0.2 ms; each start in the same directory, as a user starts it.
    QTemporaryDir directory;
    QList<double> startMs;
    for (int i = 0; i < parser.value("starts").toInt(); ++i) {
        const quint16 port = Bench::freeUdpPort();
        QProcess process;
        QElapsedTimer clock;
        clock.start();
        if (!Bench::startTarvex(process, program, directory.path(),
                                settings + "UDPPort=" + QByteArray::number(port) + "\r\n"))
            return 1;
        while (!Bench::udpPortBound(port) && clock.elapsed() < 10000)
            QThread::usleep(200);
        startMs.append(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        Bench::stopTarvex(process);
    }

    // Memory: an idle start, then contacts sent no faster than they are
    // uploaded (at most 64 on their way), so a queue does not pass for a leak.
    const quint16 port = Bench::freeUdpPort();
    QProcess tarvex;
    if (!Bench::startTarvex(tarvex, program, directory.path(),
                            settings + "UDPPort=" + QByteArray::number(port) + "\r\n") ||
        !Bench::waitFor([&] { return Bench::udpPortBound(port); }, 10000))
        return 1;
    Bench::waitFor([] { return false; }, 2000);
    const qint64 pid = tarvex.processId();
    QList<std::pair<int, qint64>> samples{{0, Bench::residentKiB(pid)}};

    int answered = 0;
    QObject::connect(&service, &FakeCorvane::requestReceived, &app, [&] { ++answered; });
    QUdpSocket sender;
    QElapsedTimer clock;
    clock.start();
    const QList<int> checkpoints{1000, 10000, count / 2, count};
    int sent = 0;
    for (const int checkpoint : checkpoints) {
        while (sent < checkpoint) {
            if (!Bench::waitFor([&] { return sent - answered < 64; }, 10000)) {
                std::fprintf(stderr, "bench_footprint: no upload for 10 s after %d contacts\n", answered);
                return 1;
            }
            sender.writeDatagram(Bench::contactDatagram(sent), QHostAddress::LocalHost, port);
            ++sent;
        }
        Bench::waitFor([&] { return answered >= sent; }, 10000);
        Bench::waitFor([] { return false; }, 1000);
        samples.append({checkpoint, Bench::residentKiB(pid)});
    }
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    Bench::stopTarvex(tarvex);

    Bench::Table startTable(QStringLiteral("Start-up to the bound socket (%1 starts)").arg(startMs.size()),
                            {"measure", "median ms", "min ms", "max ms"});
    startTable.addRow({"start-up", Bench::fixed(Bench::median(startMs), 1),
                       Bench::fixed(Bench::percentile(startMs, 0), 1),
                       Bench::fixed(Bench::percentile(startMs, 100), 1)});
    startTable.print();

    Bench::Table table(
        QStringLiteral("Resident memory (%1 contacts uploaded in %2 s)").arg(count).arg(seconds, 0, 'f', 0),
        {"after contacts", "RSS", "change since 10,000"});
    qint64 warm = 0;
    for (const auto& [contacts, kib] : samples) {
        if (contacts == 10000)
            warm = kib;
        table.addRow({contacts == 0 ? QStringLiteral("0 (idle)") : QString::number(contacts), mebibytes(kib),
                      contacts > 10000
                          ? QStringLiteral("%1%2 KiB").arg(kib >= warm ? "+" : "").arg(kib - warm)
                          : QString()});
    }
    table.print();
    return 0;
}
