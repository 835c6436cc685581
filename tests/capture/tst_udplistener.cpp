#include "capture/UdpListener.h"

#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

class TestUdpListener : public QObject
{
    Q_OBJECT

private slots:
    void handsOnEveryDatagramWholeBurstAfterBurst();
    void portHeldByAnotherSocketFails();
    void rebindingMovesTheListener();
};

void TestUdpListener::handsOnEveryDatagramWholeBurstAfterBurst()
{
    UdpListener listener;
    QVERIFY(listener.bind(0).isEmpty());
    QSignalSpy received(&listener, &UdpListener::datagramReceived);
    QUdpSocket sender;
    QList<QByteArray> sent;
    const auto send = [&](const QByteArray& datagram) {
        sent << datagram;
        sender.writeDatagram(datagram, QHostAddress::LocalHost, listener.boundPort());
    };
    // Bursts larger than one turn's worth, each arriving while the one before
    // is still being handed on, once left the socket deaf for good.
    const auto burst = [&] {
        for (int i = 0; i < 250; ++i)
            send(QByteArray::number(sent.size()));
    };
    connect(&listener, &UdpListener::datagramReceived, this, [&] {
        if (received.size() % 250 == 100 && sent.size() < 2000)
            burst();
    });
    burst();
    QTRY_COMPARE(received.size(), 2000);
    send(QByteArray(65507, 'x')); // the largest datagram IPv4 carries
    QTRY_COMPARE(received.size(), 2001);
    for (qsizetype i = 0; i < sent.size(); ++i)
        QCOMPARE(received[i][0].toByteArray(), sent[i]);
}

void TestUdpListener::portHeldByAnotherSocketFails()
{
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::AnyIPv4, 0));
    UdpListener listener;
    QVERIFY(!listener.bind(other.localPort()).isEmpty());
    QVERIFY(!listener.isBound());
    QCOMPARE(listener.boundPort(), quint16(0));
    QVERIFY(!listener.bind(70000).isEmpty());
}

void TestUdpListener::rebindingMovesTheListener()
{
    UdpListener listener;
    QVERIFY(listener.bind(0).isEmpty());
    const quint16 first = listener.boundPort();
    QSignalSpy received(&listener, &UdpListener::datagramReceived);

    QUdpSocket probe;
    QVERIFY(probe.bind(QHostAddress::AnyIPv4, 0));
    const quint16 second = probe.localPort();
    probe.close();
    QVERIFY(listener.bind(second).isEmpty());
    QCOMPARE(listener.boundPort(), second);

    QUdpSocket sender;
    sender.writeDatagram("old", QHostAddress::LocalHost, first);
    sender.writeDatagram("new", QHostAddress::LocalHost, second);
    QTRY_COMPARE(received.size(), 1);
    // Anything the old port still took would have come before this one.
    sender.writeDatagram("newer", QHostAddress::LocalHost, second);
    QTRY_COMPARE(received.size(), 2);
    QCOMPARE(received[0][0].toByteArray(), QByteArray("new"));
    QCOMPARE(received[1][0].toByteArray(), QByteArray("newer"));
}

QTEST_GUILESS_MAIN(TestUdpListener)
#include "tst_udplistener.moc"
