#include "BenchSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
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
            const bool figure = r > 0 && i > 0;
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

bool startTarvex(QProcess& process, const QString& program, const QString& directory,
                 const QByteArray& settings)
{
    const QString copy = QDir(directory).filePath(QStringLiteral("tarvex"));
    if (!QFile::exists(copy) && !QFile::copy(program, copy))
        return false;
    QFile ini(QDir(directory).filePath(QStringLiteral("Tarvex.ini")));
    if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate) || ini.write(settings) != settings.size())
        return false;
    ini.close();

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(copy, {});
    return process.waitForStarted();
}

void stopTarvex(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
    }
}

} // namespace Bench
