#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <utility>

class QProcess;

// Small helpers shared by the benchmarks: tables, percentiles, starting the
// bridges in directories of their own, and reading their counters from /proc.
namespace Bench {

// Prints a titled table with aligned columns to standard output.
class Table final
{
public:
    Table(QString title, QStringList header);
    void addRow(const QStringList& cells);
    // A line printed under the table.
    void addNote(const QString& note);
    void print() const;

private:
    QString m_title;
    QList<QStringList> m_rows;
    QStringList m_notes;
};

// Runs the event loop, sleeping between events, until `done` holds (checked
// every millisecond) or the time is up; returns whether it holds.
bool waitFor(const std::function<bool()>& done, qint64 milliseconds);

// Nearest-rank percentile (0..100) of unsorted values.
double percentile(QList<double> values, double p);
double median(QList<double> values);

QString fixed(double value, int decimals);

// A UDP port nobody holds right now.
quint16 freeUdpPort();

// True once some socket is bound to the UDP port (read from /proc/net/udp and
// udp6, so looking does not disturb the program that binds it).
bool udpPortBound(quint16 port);

// "load average x.xx (1 min)": others share the machine, and this says how much.
QString loadNote();

// Resident set size of a process in KiB, or -1.
qint64 residentKiB(qint64 pid);

// The contact datagram the logger sends, with a serial number in the call
// sign (Q9L000001...) so a request can be matched to its datagram.
QByteArray contactDatagram(int serial);
// The serial found in a request body or a record, or -1.
int serialIn(const QString& text);

// Tarvex.ini for a bridge that listens on `port` and posts to `service`,
// with all three login keys set. Tarvex and the peer script read the same keys.
QByteArray bridgeSettings(const QString& service, quint16 port);

// Copies the built program into `directory`, writes Tarvex.ini there and
// starts it headless and offscreen with that directory for its data. The
// caller chooses where its output goes. Returns false when it did not start.
bool startTarvex(QProcess& process, const QString& program, const QString& directory,
                 const QByteArray& settings, const QStringList& extraArguments = {});
// Copies the peer script into `directory` (it reads Tarvex.ini from its own
// directory), writes Tarvex.ini there and starts it with `python`.
bool startPeer(QProcess& process, const QString& python, const QString& script, const QString& directory,
               const QByteArray& settings);
// SIGTERM, then waits for the end (a kill after 10 s).
void stopProcess(QProcess& process);

// One thread of a process: its name, CPU time and context switches so far.
struct ThreadCounters
{
    QString name;
    qint64 cpuNs = 0;    // run time, /proc/PID/task/TID/schedstat
    qint64 switches = 0; // voluntary + nonvoluntary, /proc/PID/task/TID/status
};

// Counts what all threads of a process used since start(). Threads can end
// between two polls, taking their counters with them, so poll() keeps the
// last figures of every thread seen; poll often enough for that to matter little.
class ThreadMeter final
{
public:
    void start(qint64 pid);
    void poll();
    qint64 cpuNs() const;
    qint64 switches() const;
    // Switches per thread name, threads of one name added up.
    QList<std::pair<QString, qint64>> switchesByThread() const;
    // Threads that ended or began since start().
    int threadsEnded() const { return m_ended; }
    int threadsBegun() const;

private:
    qint64 m_pid = 0;
    QHash<qint64, ThreadCounters> m_first;
    QHash<qint64, ThreadCounters> m_last;
    int m_ended = 0;
};

// Datagrams the kernel dropped at the UDP sockets bound to `port` because
// their receive buffer was full (the drops column of /proc/net/udp*), or -1.
qint64 udpDrops(quint16 port);
// The receive buffer the kernel gave the socket bound to `port` (rb in
// `ss -m`), in bytes, or -1 when it cannot be read.
qint64 udpReceiveBuffer(quint16 port);

} // namespace Bench
