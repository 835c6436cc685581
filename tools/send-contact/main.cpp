#include "NumberOption.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QTextStream>
#include <QTimer>
#include <QUdpSocket>

#include <optional>

namespace {

// A contact as the logger announces it. The first one is the well-known
// example; later ones get their own call sign and serial number.
QByteArray contactDatagram(int index)
{
    const QString call = index == 0 ? QStringLiteral("Q9XYZ") : QStringLiteral("Q9X%1").arg(index);
    return QStringLiteral(
               "<contactinfo><timestamp>2011-11-26 14:05:33</timestamp><txfreq>1420012</txfreq>"
               "<rxfreq>1420012</rxfreq><mode>CW</mode><call>%1</call><snt>599</snt><rcv>579</rcv>"
               "<sntnr>%2</sntnr><rcvnr>345</rcvnr><exchange1>14</exchange1><wpxprefix>Q9</wpxprefix>"
               "<extra>1</extra></contactinfo>")
        .arg(call)
        .arg(12 + index)
        .toUtf8();
}

QHostAddress resolve(const QString& host)
{
    QHostAddress address(host);
    if (address.isNull()) {
        const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
        if (!found.isEmpty())
            address = found.first();
    }
    return address;
}

} // namespace

// Sends contact datagrams to a UDP port, as the contest logger does.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("send-contact"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sends contact datagrams to a UDP port."));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("port"), QStringLiteral("UDP port to send to."), QStringLiteral("N"),
         QStringLiteral("12060")},
        {QStringLiteral("host"), QStringLiteral("Host to send to."), QStringLiteral("H"),
         QStringLiteral("127.0.0.1")},
        {QStringLiteral("count"), QStringLiteral("Number of datagrams."), QStringLiteral("N"),
         QStringLiteral("1")},
        {QStringLiteral("gap"), QStringLiteral("Milliseconds between datagrams."), QStringLiteral("MS"),
         QStringLiteral("0")},
        {QStringLiteral("file"), QStringLiteral("Send this file's bytes instead of the built-in contact."),
         QStringLiteral("F")},
    });
    parser.process(app);

    QTextStream err(stderr);
    const std::optional<qint64> port = numberOption(parser, QStringLiteral("port"), 1, 65535);
    const std::optional<qint64> count = numberOption(parser, QStringLiteral("count"), 1, 1000000);
    const std::optional<qint64> gap = numberOption(parser, QStringLiteral("gap"), 0, 3600 * 1000);
    if (!port || !count || !gap) {
        err << "send-contact: --port takes 1 to 65535, --count 1 to 1000000, --gap 0 to 3600000" << Qt::endl;
        return 2;
    }

    std::optional<QByteArray> fileBytes;
    if (parser.isSet(QStringLiteral("file"))) {
        QFile file(parser.value(QStringLiteral("file")));
        if (!file.open(QIODevice::ReadOnly)) {
            err << "send-contact: cannot read " << file.fileName() << ": " << file.errorString() << Qt::endl;
            return 1;
        }
        fileBytes = file.readAll();
    }

    const QHostAddress address = resolve(parser.value(QStringLiteral("host")));
    if (address.isNull()) {
        err << "send-contact: unknown host " << parser.value(QStringLiteral("host")) << Qt::endl;
        return 1;
    }

    QUdpSocket socket;
    int sent = 0;
    int exitCode = 0;
    QTimer pacer;
    pacer.setInterval(std::chrono::milliseconds(*gap));
    const auto sendOne = [&] {
        const QByteArray datagram = fileBytes ? *fileBytes : contactDatagram(sent);
        if (socket.writeDatagram(datagram, address, static_cast<quint16>(*port)) != datagram.size()) {
            err << "send-contact: datagram " << sent + 1 << " not sent: " << socket.errorString() << Qt::endl;
            exitCode = 1;
        }
        if (++sent < *count)
            return;
        pacer.stop();
        QTextStream(stdout) << "sent " << sent << (sent == 1 ? " datagram" : " datagrams") << " to "
                            << address.toString() << ':' << *port << Qt::endl;
        app.exit(exitCode);
    };
    QObject::connect(&pacer, &QTimer::timeout, &app, sendOne);
    // The first datagram goes at once; the gap lies only between them.
    QTimer::singleShot(0, &app, [&] {
        pacer.start();
        sendOne();
    });
    return app.exec();
}
