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
    const QString serviceUrl = service.baseUrl().toString();

    // Start-up: from starting the process until its socket is bound, polled
    // every 0.2 ms; each start in the same directory, as a user starts it.
    QTemporaryDir directory;
    // The program's own messages go to a file there, out of the tables' way.
    const QString output = directory.filePath(QStringLiteral("output.txt"));
    const auto toFile = [&](QProcess& process) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(output, QIODevice::Append);
    };
    const auto failed = [&](const char* what) {
        QFile file(output);
        file.open(QIODevice::ReadOnly);
        std::fprintf(stderr, "bench_footprint: %s; the program's output:\n%s\n", what,
                     file.readAll().right(2000).constData());
        return 1;
    };
    QList<double> startMs;
    for (int i = 0; i < parser.value("starts").toInt(); ++i) {
        const quint16 port = Bench::freeUdpPort();
        QProcess process;
        toFile(process);
        QElapsedTimer clock;
        clock.start();
        if (!Bench::startTarvex(process, program, directory.path(), Bench::bridgeSettings(serviceUrl, port)))
            return failed("the program did not start");
        while (!Bench::udpPortBound(port) && clock.elapsed() < 10000)
            QThread::usleep(200);
        if (!Bench::udpPortBound(port))
            return failed("the program did not bind its UDP port within 10 s");
        startMs.append(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        Bench::stopProcess(process);
    }

    // Memory: an idle start, then contacts sent no faster than they are
    // uploaded (at most 64 on their way), so a queue does not pass for a leak.
    const quint16 port = Bench::freeUdpPort();
    QProcess tarvex;
    toFile(tarvex);
    if (!Bench::startTarvex(tarvex, program, directory.path(), Bench::bridgeSettings(serviceUrl, port)) ||
        !Bench::waitFor([&] { return Bench::udpPortBound(port); }, 10000))
        return failed("the program did not start listening");
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
    Bench::stopProcess(tarvex);

    Bench::Table startTable(
        QStringLiteral("Start-up to the bound socket (%1 starts; target: under 300 ms)").arg(startMs.size()),
        {"measure", "median ms", "min ms", "max ms", "target (max)"});
    startTable.addRow({"start-up", Bench::fixed(Bench::median(startMs), 1),
                       Bench::fixed(Bench::percentile(startMs, 0), 1),
                       Bench::fixed(Bench::percentile(startMs, 100), 1),
                       Bench::percentile(startMs, 100) < 300 ? "met" : "MISSED"});
    startTable.print();

    // 40 MB read as 40,000,000 bytes, the stricter of the two readings.
    constexpr qint64 IdleLimitKiB = 40'000'000 / 1024;
    Bench::Table table(
        QStringLiteral("Resident memory (%1 contacts uploaded in %2 s; target: idle under 40 MB)")
            .arg(count)
            .arg(seconds, 0, 'f', 0),
        {"after contacts", "RSS", "change since 10,000", "target"});
    qint64 warm = 0;
    for (const auto& [contacts, kib] : samples) {
        if (contacts == 10000)
            warm = kib;
        table.addRow({contacts == 0 ? QStringLiteral("0 (idle)") : QString::number(contacts), mebibytes(kib),
                      contacts > 10000
                          ? QStringLiteral("%1%2 KiB").arg(kib >= warm ? "+" : "").arg(kib - warm)
                          : QString(),
                      contacts == 0 ? (kib >= 0 && kib < IdleLimitKiB ? "met" : "MISSED") : ""});
    }
    table.print();
    return 0;
}
