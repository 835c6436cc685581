#include "BenchSupport.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "ui/frmMain.h"
#include "upload/ContactPipeline.h"
#include "upload/RealtimeUploader.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTimer>

#include <cstdio>

namespace {

// The call sign of the first field of a record, as send-contact numbers them.
QString callIn(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("<CALL:\\d+>(\\S+) "));
    return pattern.match(text).captured(1);
}

} // namespace

// A burst from the logger while the service is slow: the window runs here, in
// this process, so a timer beside it sees every stall of its event loop; the
// service and the sender are the real tools in processes of their own.
int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"fake", "fake-corvane program.", "PATH"},
                       {"sender", "send-contact program.", "PATH"},
                       {"count", "Datagrams in the burst.", "N", "10000"},
                       {"delay", "The service's delay before each answer, ms.", "MS", "50"},
                       {"drain", "Longest wait for the queue to empty, s.", "S", "300"}});
    parser.process(app);
    const int count = parser.value("count").toInt();

    QProcess fake;
    fake.start(parser.value("fake"), {"--port", "0", "--delay", parser.value("delay")});
    if (!fake.waitForStarted() || !fake.waitForReadyRead(10000)) {
        std::fprintf(stderr, "bench_burst: fake-corvane did not start\n");
        return 1;
    }
    const QByteArray firstLine = fake.readLine().trimmed();
    const QByteArray serviceUrl = firstLine.mid(firstLine.indexOf("http"));
    int received = 0;
    QByteArray pending;
    QObject::connect(&fake, &QProcess::readyReadStandardOutput, &app, [&] {
        pending += fake.readAllStandardOutput();
        const qsizetype lastLine = pending.lastIndexOf('\n');
        if (lastLine < 0)
            return;
        received += static_cast<int>(pending.left(lastLine + 1).count("POST /realtime.php"));
        pending.remove(0, lastLine + 1);
    });

    TempDir dir;
    const quint16 port = Bench::freeUdpPort();
    dir.write("Tarvex.ini", "[Settings]\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\n"
                            "CorvanePassword=secret\r\nAutoUploadEnabled=True\r\nUDPPort=" +
                                QByteArray::number(port) + "\r\nCorvaneHost=" + serviceUrl + "\r\n");
    ScriptedPrompter prompter;
    frmMain window(AppPaths(dir.path()), prompter);
    window.Form_Load();
    window.show();

    int handled = 0;
    QSet<QString> accepted;
    QObject::connect(&window.pipeline(), &ContactPipeline::datagramShown, &app, [&] { ++handled; });
    QObject::connect(&window.uploader(), &RealtimeUploader::finished, &app,
                     [&](const RealtimeResult& result) {
                         if (result.accepted)
                             accepted.insert(callIn(result.request.record));
                     });
    Bench::waitFor([] { return false; }, 300);

    // A 1 ms timer: any tick that comes late shows how long the loop was busy.
    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    qint64 longestStallNs = 0;
    qint64 longestStallAtMs = 0;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
        if (sinceTick.nsecsElapsed() > longestStallNs) {
            longestStallNs = sinceTick.nsecsElapsed();
            longestStallAtMs = clock.elapsed();
        }
        sinceTick.restart();
    });
    clock.start();
    sinceTick.start();
    ticker.start();

    QProcess sender;
    sender.start(parser.value("sender"),
                 {"--port", QString::number(port), "--count", QString::number(count)});
    qint64 sendMs = -1;
    QObject::connect(&sender, &QProcess::finished, &app, [&] { sendMs = clock.elapsed(); });

    // Everything handled, or nothing new for three seconds after the sender ended.
    int lastHandled = -1;
    QElapsedTimer quiet;
    quiet.start();
    Bench::waitFor(
        [&] {
            if (handled != lastHandled) {
                lastHandled = handled;
                quiet.restart();
            }
            return handled == count || (sendMs >= 0 && quiet.elapsed() > 3000);
        },
        60000);
    const qint64 handledMs = clock.elapsed();
    const bool drained = Bench::waitFor([&] { return window.uploader().pendingCount() == 0; },
                                        parser.value("drain").toLongLong() * 1000);
    const qint64 drainMs = clock.elapsed();
    ticker.stop();
    const int countedBeforeClose = window.pipeline().uploadedCount();

    window.close(); // keeps whatever is still queued
    Bench::waitFor([] { return false; }, 1000);
    fake.terminate();
    fake.waitForFinished();
    received += static_cast<int>((pending + fake.readAllStandardOutput()).count("POST /realtime.php"));

    QSet<QString> kept;
    int keptRecords = 0;
    for (const QByteArray& line : dir.read("NotUploadedQsosLog.adi").split('\n')) {
        if (!line.contains("<EOR>"))
            continue;
        ++keptRecords;
        kept.insert(callIn(QString::fromUtf8(line)));
    }
    const int accounted = static_cast<int>((accepted | kept).size());

    Bench::Table table(
        QStringLiteral("Burst (%1 datagrams from one sender as fast as it can, service answers OK "
                       "after %2 ms)")
            .arg(count)
            .arg(parser.value("delay")),
        {"measure", "value", "target"});
    table.addRow({"sender finished after", QStringLiteral("%1 ms").arg(sendMs), ""});
    table.addRow({"datagrams handled by the window", QString::number(handled), ""});
    table.addRow({"  all handled after", QStringLiteral("%1 ms").arg(handledMs), ""});
    table.addRow({"requests received by the service", QString::number(received), ""});
    table.addRow({"contacts counted as uploaded", QString::number(countedBeforeClose), ""});
    table.addRow({"records in the not-uploaded file", QString::number(keptRecords), ""});
    table.addRow({"queue empty after",
                  drained ? QStringLiteral("%1 ms").arg(drainMs) : QStringLiteral("not yet"), ""});
    table.addRow({"contacts accounted for (distinct)", QString::number(accounted),
                  accounted == count ? "met" : "MISSED"});
    table.addRow(
        {"contacts lost", QString::number(count - accounted), count == accounted ? "met" : "MISSED"});
    table.addRow({"duplicates in the not-uploaded file", QString::number(keptRecords - kept.size()),
                  keptRecords == kept.size() ? "met" : "MISSED"});
    table.addRow({"longest event-loop stall",
                  QStringLiteral("%1 ms (%2 s in)")
                      .arg(Bench::fixed(static_cast<double>(longestStallNs) / 1e6, 1),
                           Bench::fixed(static_cast<double>(longestStallAtMs) / 1000.0, 1)),
                  longestStallNs < 100'000'000 ? "met" : "MISSED"});
    table.print();
    return accounted == count ? 0 : 1;
}
