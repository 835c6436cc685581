#include "upload/RealtimeRequest.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUdpSocket>

#include <cstdio>

// The least any program could do for a contact: receive the datagram on a
// bare socket and post it with the same HTTP client and request settings as
// Tarvex, without converting, showing or storing anything. The latency
// benchmark's floor.
int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: bench_latency_floor UDP-PORT URL\n");
        return 2;
    }
    const QUrl url(arguments[2]);

    QUdpSocket socket;
    if (!socket.bind(QHostAddress::Any, arguments[1].toUShort(), QAbstractSocket::DontShareAddress))
        return 1;
    QNetworkAccessManager network;
    const Credentials login{QStringLiteral("op@example.org"), QStringLiteral("secret"),
                            QStringLiteral("Q9ABC")};
    QByteArray buffer(65536, Qt::Uninitialized);

    QObject::connect(&socket, &QUdpSocket::readyRead, &app, [&] {
        while (socket.hasPendingDatagrams()) {
            const qint64 size = socket.readDatagram(buffer.data(), buffer.size());
            if (size < 0)
                continue;
            QNetworkRequest request(url);
            request.setHeader(QNetworkRequest::ContentTypeHeader,
                              QByteArrayLiteral("application/x-www-form-urlencoded"));
            request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Tarvex/1.0.0"));
            request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                                 QNetworkRequest::ManualRedirectPolicy);
            const RealtimeRequest body = RealtimeRequest::make(
                login, QString::fromUtf8(buffer.constData(), static_cast<qsizetype>(size)));
            QNetworkReply* reply = network.post(request, body.body);
            QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
        }
    });
    return app.exec();
}
