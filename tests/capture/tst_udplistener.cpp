#include "capture/UdpListener.h"

#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

class TestUdpListener : public QObject
{
    Q_OBJECT

private slots:
    void receivesEveryDatagramWhole();
    void keepsListeningAfterEveryBurst();
    void portHeldByAnotherProgramFails();
    void rebindingMovesTheListener();
};

namespace {

void send(const QByteArray& bytes, quint16 port)
{
    QUdpSocket sender;
    QCOMPARE(sender.writeDatagram(bytes, QHostAddress::LocalHost, port), qint64(bytes.size()));
}

} // namespace

void TestUdpListener::receivesEveryDatagramWhole()
{
    UdpListener listener;
    QVERIFY(listener.bind(0).isEmpty());
    QVERIFY(listener.isBound());
    QVERIFY(listener.boundPort() != 0);
    QSignalSpy received(&listener, &UdpListener::datagramReceived);

    // More than one turn's worth, plus the largest datagram IPv4 carries.
    const QByteArray largest(65507, 'x');
    QUdpSocket sender;
    for (int i = 0; i < 200; ++i)
        sender.writeDatagram(QByteArray::number(i), QHostAddress::LocalHost, listener.boundPort());
    sender.writeDatagram(largest, QHostAddress::LocalHost, listener.boundPort());

    QTRY_COMPARE(received.size(), 201);
    for (int i = 0; i < 200; ++i)
        QCOMPARE(received[i][0].toByteArray(), QByteArray::number(i));
    QCOMPARE(received[200][0].toByteArray(), largest);
}

void TestUdpListener::keepsListeningAfterEveryBurst()
{
    // Bursts larger than one turn's worth, each arriving while the last is
    // still being handed on, once left the socket deaf for good.
    UdpListener listener;
    QVERIFY(listener.bind(0).isEmpty());
    QSignalSpy received(&listener, &UdpListener::datagramReceived);
    QUdpSocket sender;
    for (int sent = 0; sent < 2000; sent += 250) {
        for (int i = sent; i < sent + 250; ++i)
            sender.writeDatagram(QByteArray::number(i), QHostAddress::LocalHost, listener.boundPort());
        QTRY_COMPARE(received.size(), sent + 250);
    }
    for (int i = 0; i < received.size(); ++i)
        QCOMPARE(received[i][0].toByteArray(), QByteArray::number(i));
}

void TestUdpListener::portHeldByAnotherProgramFails()
{
    QUdpSocket other;
    QVERIFY(other.bind(QHostAddress::AnyIPv4, 0));

    UdpListener listener;
    const QString error = listener.bind(other.localPort());
    QVERIFY2(!error.isEmpty(), "binding a port another socket holds must fail");
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

    send("old", first);
    send("new", second);
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received[0][0].toByteArray(), QByteArray("new"));
    QTest::qWait(50);
    QCOMPARE(received.size(), 1);
}

QTEST_GUILESS_MAIN(TestUdpListener)
#include "tst_udplistener.moc"
