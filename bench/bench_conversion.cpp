#include "BenchSupport.h"
#include "capture/AdifRecord.h"
#include "capture/ContactConverter.h"

#include <QCoreApplication>
#include <QXmlStreamReader>

#include <chrono>
#include <cstdio>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Rounds = 7;
constexpr auto RoundTime = std::chrono::milliseconds(400);

const QByteArray WorkedExample =
    "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq><rxfreq>1420012</rxfreq>"
    "<mode>CW</mode><call>Q9XYZ</call><snt>599</snt><rcv>579</rcv><sntnr>12</sntnr><rcvnr>345</rcvnr>"
    "<exchange1>14</exchange1><wpxprefix>Q9</wpxprefix><extra>1</extra></contactinfo>";

// The same contact among unknown elements (as a newer logger might add), 4 KiB in all.
QByteArray paddedExample()
{
    QByteArray padded = WorkedExample;
    padded.chop(int(sizeof("</contactinfo>")) - 1);
    const QByteArray tail = "</contactinfo>";
    for (int i = 0; padded.size() < 4096 - 100; ++i)
        padded += "<unknown" + QByteArray::number(i) + ">some value</unknown" + QByteArray::number(i) + ">";
    padded += "<pad>" + QByteArray(4096 - padded.size() - 11 - tail.size(), 'x') + "</pad>" + tail;
    return padded;
}

volatile qsizetype sink = 0;

qsizetype convertOnce(const QByteArray& datagram)
{
    AdifRecord record;
    ContactConverter::convert(ContactConverter::datagramText(datagram), record);
    return record.text().size();
}

qsizetype parseOnce(const QByteArray& datagram)
{
    QXmlStreamReader reader(datagram);
    qsizetype tokens = 0;
    while (!reader.atEnd()) {
        reader.readNext();
        ++tokens;
    }
    return tokens;
}

struct Timing
{
    double median; // ns per call
    double best;   // the least disturbed round, on a machine shared with others
};

// Several timed rounds of the time one call takes.
template <typename Work> Timing nanosecondsPerCall(const QByteArray& datagram, Work work)
{
    qint64 calls = 0;
    const Clock::time_point calibrateUntil = Clock::now() + std::chrono::milliseconds(50);
    while (Clock::now() < calibrateUntil) {
        sink = sink + work(datagram);
        ++calls;
    }
    const qint64 perRound = std::max<qint64>(1, calls * (RoundTime / std::chrono::milliseconds(50)));

    QList<double> rounds;
    for (int round = 0; round < Rounds; ++round) {
        const Clock::time_point start = Clock::now();
        for (qint64 i = 0; i < perRound; ++i)
            sink = sink + work(datagram);
        const auto elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        rounds.append(elapsed / static_cast<double>(perRound));
    }
    return {Bench::median(rounds), Bench::percentile(rounds, 0)};
}

} // namespace

// How long turning one datagram into a record takes, beside the time a bare
// XML parse of the same bytes takes, so the ratio shows our own share. The
// best round is shown too: on a shared machine the median carries the others' load.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QByteArray padded = paddedExample();
    AdifRecord check;
    AdifRecord paddedCheck;
    ContactConverter::convert(ContactConverter::datagramText(WorkedExample), check);
    ContactConverter::convert(ContactConverter::datagramText(padded), paddedCheck);
    if (check.text().size() != 211 || paddedCheck.text() != check.text() || padded.size() != 4096) {
        std::fprintf(stderr, "bench_conversion: the inputs do not convert as expected (%lld bytes)\n",
                     static_cast<long long>(padded.size()));
        return 1;
    }

    Bench::Table table(QStringLiteral("Conversion (one thread, %1 rounds of %2 ms each; target: under 10 us)")
                           .arg(Rounds)
                           .arg(RoundTime.count()),
                       {"datagram", "bytes", "conversion ns (median / best)", "conversions/s (median)",
                        "bare parse ns (median / best)", "ratio (median)", "target (median)"});
    const QList<std::pair<QString, QByteArray>> cases{{"worked example", WorkedExample},
                                                      {"4 KiB of unknown elements", padded}};
    for (const auto& [name, datagram] : cases) {
        const Timing convert = nanosecondsPerCall(datagram, convertOnce);
        const Timing parse = nanosecondsPerCall(datagram, parseOnce);
        table.addRow({name, QString::number(datagram.size()),
                      Bench::fixed(convert.median, 0) + " / " + Bench::fixed(convert.best, 0),
                      Bench::fixed(1e9 / convert.median, 0),
                      Bench::fixed(parse.median, 0) + " / " + Bench::fixed(parse.best, 0),
                      Bench::fixed(convert.median / parse.median, 2),
                      convert.median < 10000 ? "met" : "MISSED"});
    }
    table.print();
    return 0;
}
