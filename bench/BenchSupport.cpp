#include "BenchSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <cmath>

namespace Bench {

Table::Table(QString title, QStringList header) : m_title(std::move(title))
{
    m_rows.append(std::move(header));
}

void Table::addRow(const QStringList& cells)
{
    m_rows.append(cells);
}

void Table::addNote(const QString& note)
{
    m_notes.append(note);
}

void Table::print() const
{
    QList<qsizetype> widths;
    for (const QStringList& row : m_rows) {
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    QTextStream out(stdout);
    out << "\n" << m_title << "\n";
    for (qsizetype r = 0; r < m_rows.size(); ++r) {
        QString line = QStringLiteral("|");
        for (qsizetype i = 0; i < widths.size(); ++i) {
            const QString cell = i < m_rows[r].size() ? m_rows[r][i] : QString();
            // Text left, figures right, as a reader scans them.
            static const QRegularExpression number(QStringLiteral("^[-+]?[0-9]"));
            const bool figure = r > 0 && i > 0 && number.match(cell).hasMatch();
            line += QLatin1Char(' ') +
                    (figure ? cell.rightJustified(widths[i]) : cell.leftJustified(widths[i])) +
                    QStringLiteral(" |");
        }
        out << line << "\n";
        if (r == 0) {
            QString rule = QStringLiteral("|");
            for (const qsizetype width : widths)
                rule += QString(width + 2, QLatin1Char('-')) + QLatin1Char('|');
            out << rule << "\n";
        }
    }
    for (const QString& note : m_notes)
        out << "  " << note << "\n";
    out.flush();
}

bool waitFor(const std::function<bool()>& done, qint64 milliseconds)
{
    if (done())
        return true;
    // A spinning wait would take a core from the programs being measured.
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer check;
    check.setInterval(1);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > milliseconds)
            loop.quit();
    });
    check.start();
    loop.exec();
    return done();
}

double percentile(QList<double> values, double p)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<qsizetype>(std::ceil(p / 100.0 * static_cast<double>(values.size())));
    return values[std::clamp<qsizetype>(rank - 1, 0, values.size() - 1)];
}

double median(QList<double> values)
{
    return percentile(std::move(values), 50);
}

QString fixed(double value, int decimals)
{
    return QString::number(value, 'f', decimals);
}

quint16 freeUdpPort()
{
    QUdpSocket probe;
    probe.bind(QHostAddress::AnyIPv4, 0);
    return probe.localPort();
}

bool udpPortBound(quint16 port)
{
    const QByteArray needle = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0') + ' ';
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // The local address is the second column; its port follows the colon.
        const QList<QByteArray> lines = file.readAll().split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> columns = lines[i].simplified().split(' ');
            if (columns.size() > 1 && (columns[1] + ' ').endsWith(needle))
                return true;
        }
    }
    return false;
}

QString loadNote()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    const QByteArray load = file.open(QIODevice::ReadOnly) ? file.readAll().split(' ').first() : "?";
    return QStringLiteral("load average %1 (1 min) at the end").arg(QString::fromLatin1(load));
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

QByteArray contactDatagram(int serial)
{
    return QStringLiteral(
               "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq>"
               "<rxfreq>1420012</rxfreq><mode>CW</mode><call>Q9L%1</call><snt>599</snt><rcv>579</rcv>"
               "<sntnr>12</sntnr><rcvnr>345</rcvnr><exchange1>14</exchange1><wpxprefix>Q9</wpxprefix>"
               "<extra>1</extra></contactinfo>")
        .arg(serial, 6, 10, QLatin1Char('0'))
        .toUtf8();
}

int serialIn(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("Q9L(\\d{6})"));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

QByteArray bridgeSettings(const QString& service, quint16 port)
{
    return "[Settings]\r\nCorvaneEmailAddress=op@example.org\r\nCorvaneCallsign=Q9ABC\r\n"
           "CorvanePassword=secret\r\nAutoUploadEnabled=True\r\nCorvaneHost=" +
           service.toUtf8() + "\r\nUDPPort=" + QByteArray::number(port) + "\r\n";
}

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

bool startTarvex(QProcess& process, const QString& program, const QString& directory,
                 const QByteArray& settings, const QStringList& extraArguments)
{
    // A copy beside its settings, so a program that reads Tarvex.ini beside
    // itself and one that is told the directory find the same file.
    const QString copy = QDir(directory).filePath(QStringLiteral("tarvex"));
    if (!QFile::exists(copy) && !QFile::copy(program, copy))
        return false;
    if (!writeFile(QDir(directory).filePath(QStringLiteral("Tarvex.ini")), settings))
        return false;

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(directory);
    process.start(copy, QStringList{QStringLiteral("--headless"), QStringLiteral("--data-dir"), directory} +
                            extraArguments);
    return process.waitForStarted();
}

bool startPeer(QProcess& process, const QString& python, const QString& script, const QString& directory,
               const QByteArray& settings)
{
    const QString copy = QDir(directory).filePath(QFileInfo(script).fileName());
    if (!QFile::exists(copy) && !QFile::copy(script, copy))
        return false;
    if (!writeFile(QDir(directory).filePath(QStringLiteral("Tarvex.ini")), settings))
        return false;
    process.setWorkingDirectory(directory);
    process.start(python, {copy});
    return process.waitForStarted();
}

void stopProcess(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

namespace {

QByteArray readProcFile(const QString& path)
{
    // /proc files report a size of 0, so read until the end rather than by size.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return {};
    return file.readAll();
}

qint64 statusField(const QByteArray& status, const QByteArray& key)
{
    const qsizetype at = status.indexOf('\n' + key + ':');
    if (at < 0)
        return 0;
    const qsizetype start = at + key.size() + 2;
    const qsizetype end = status.indexOf('\n', start);
    return status.mid(start, end < 0 ? -1 : end - start).trimmed().toLongLong();
}

QHash<qint64, ThreadCounters> readThreads(qint64 pid)
{
    QHash<qint64, ThreadCounters> threads;
    const QString root = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString& entry : QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString task = root + QLatin1Char('/') + entry;
        const QByteArray schedstat = readProcFile(task + QStringLiteral("/schedstat"));
        const QByteArray status = readProcFile(task + QStringLiteral("/status"));
        if (schedstat.isEmpty() || status.isEmpty())
            continue; // ended while being read
        ThreadCounters counters;
        counters.name = QString::fromUtf8(readProcFile(task + QStringLiteral("/comm")).trimmed());
        counters.cpuNs = schedstat.split(' ').first().toLongLong();
        counters.switches = statusField(status, "voluntary_ctxt_switches") +
                            statusField(status, "nonvoluntary_ctxt_switches");
        threads.insert(entry.toLongLong(), counters);
    }
    return threads;
}

} // namespace

void ThreadMeter::start(qint64 pid)
{
    m_pid = pid;
    m_first = readThreads(pid);
    m_last = m_first;
    m_ended = 0;
}

void ThreadMeter::poll()
{
    const QHash<qint64, ThreadCounters> now = readThreads(m_pid);
    for (auto it = m_last.cbegin(); it != m_last.cend(); ++it) {
        if (!now.contains(it.key()))
            ++m_ended;
    }
    // A thread that ended keeps its last figures; it is counted once.
    for (auto it = now.cbegin(); it != now.cend(); ++it)
        m_last.insert(it.key(), it.value());
}

qint64 ThreadMeter::cpuNs() const
{
    qint64 total = 0;
    for (auto it = m_last.cbegin(); it != m_last.cend(); ++it)
        total += it.value().cpuNs - m_first.value(it.key()).cpuNs;
    return total;
}

qint64 ThreadMeter::switches() const
{
    qint64 total = 0;
    for (auto it = m_last.cbegin(); it != m_last.cend(); ++it)
        total += it.value().switches - m_first.value(it.key()).switches;
    return total;
}

QList<std::pair<QString, qint64>> ThreadMeter::switchesByThread() const
{
    QList<std::pair<QString, qint64>> byName;
    QList<qint64> ids = m_last.keys();
    std::sort(ids.begin(), ids.end()); // the main thread first, the rest as they began
    for (const qint64 id : ids) {
        const qint64 count = m_last.value(id).switches - m_first.value(id).switches;
        const QString& name = m_last.value(id).name;
        const auto same =
            std::find_if(byName.begin(), byName.end(),
                         [&](const std::pair<QString, qint64>& seen) { return seen.first == name; });
        if (same == byName.end())
            byName.append({name, count});
        else
            same->second += count;
    }
    return byName;
}

int ThreadMeter::threadsBegun() const
{
    int begun = 0;
    for (auto it = m_last.cbegin(); it != m_last.cend(); ++it) {
        if (!m_first.contains(it.key()))
            ++begun;
    }
    return begun;
}

qint64 udpDrops(quint16 port)
{
    const QByteArray needle = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    qint64 drops = -1;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        const QList<QByteArray> lines = readProcFile(QString::fromLatin1(table)).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            // The local address is the second column, the drops the last.
            const QList<QByteArray> columns = lines[i].simplified().split(' ');
            if (columns.size() > 12 && columns[1].endsWith(needle))
                drops = std::max<qint64>(drops, 0) + columns.last().toLongLong();
        }
    }
    return drops;
}

qint64 udpReceiveBuffer(quint16 port)
{
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("-uamnH"), QStringLiteral("sport = :%1").arg(port)});
    if (!ss.waitForFinished(5000) || ss.exitCode() != 0)
        return -1;
    static const QRegularExpression pattern(QStringLiteral("\\brb(\\d+)"));
    const QRegularExpressionMatch match = pattern.match(QString::fromUtf8(ss.readAllStandardOutput()));
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

} // namespace Bench
