#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>

class QProcess;

// Small helpers shared by the benchmarks: tables, percentiles, and starting
// the built program in a directory of its own.
namespace Bench {

// Prints a titled table with aligned columns to standard output.
class Table final
{
public:
    Table(QString title, QStringList header);
    void addRow(const QStringList& cells);
    void print() const;

private:
    QString m_title;
    QList<QStringList> m_rows;
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

// Resident set size of a process in KiB, or -1.
qint64 residentKiB(qint64 pid);

// The contact datagram the logger sends, with a serial number in the call
// sign (Q9L000001...) so a request can be matched to its datagram.
QByteArray contactDatagram(int serial);
// The serial found in a request body or a record, or -1.
int serialIn(const QString& text);

// Copies the built program into `directory`, writes Tarvex.ini there and
// starts it offscreen. Returns false when it did not start.
bool startTarvex(QProcess& process, const QString& program, const QString& directory,
                 const QByteArray& settings);
void stopTarvex(QProcess& process);

} // namespace Bench
