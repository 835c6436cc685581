#include "TestMain.h"
#include "WorkedContact.h"
#include "status/EventReport.h"
#include "status/Notifications.h"
#include "status/RecentContacts.h"
#include "status/StationStatus.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Health = StationStatus::Health;
Q_DECLARE_METATYPE(UploadHold)

class TestStationStatus : public QObject
{
    Q_OBJECT

private slots:
    void textsAndHealthFollowTheState_data();
    void textsAndHealthFollowTheState();
    void notificationsAreFewAndGathered();
    void headlessLinesSumUpABurst();
    void recentContactsFollowEachContact();
};

void TestStationStatus::textsAndHealthFollowTheState_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<UploadHold>("hold");
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("attention");
    QTest::addColumn<QString>("listeningText");
    QTest::addColumn<QString>("waitingText");
    QTest::addColumn<int>("health");

    const QString listening = "Listening on UDP port 12060";
    QTest::newRow("fine") << true << UploadHold::None << 0 << false << listening << "" << int(Health::Fine);
    QTest::newRow("outage") << true << UploadHold::Retrying << 0 << false << listening
                            << "3 contacts waiting for Corvane: connection refused; next try at 14:05:41"
                            << int(Health::Waiting);
    QTest::newRow("login missing") << true << UploadHold::LoginMissing << 0 << false << listening
                                   << "3 contacts waiting for Corvane: connection refused"
                                   << int(Health::Waiting);
    QTest::newRow("held on a full disk")
        << true << UploadHold::None << 2 << false << listening
        << "2 contacts could not be written (Outbox.txt: full); trying again every 10 s"
        << int(Health::Errors);
    QTest::newRow("error reported") << true << UploadHold::None << 0 << true << listening << ""
                                    << int(Health::Errors);
    QTest::newRow("not listening") << false << UploadHold::None << 0 << false
                                   << "Not listening: UDP port 12060 - address in use"
                                   << "" << int(Health::NotListening);
}

void TestStationStatus::textsAndHealthFollowTheState()
{
    QFETCH(bool, listening);
    QFETCH(UploadHold, hold);
    QFETCH(int, held);
    QFETCH(bool, attention);
    StationStatus status;
    if (listening)
        status.setListening(12060);
    else
        status.setNotListening(12060, "address in use");
    status.setHold(hold, 3, "connection refused", QDateTime(QDate(2026, 12, 7), QTime(14, 5, 41)));
    status.setHeld(held, "Outbox.txt: full");
    status.setAttention(attention);
    status.countAccepted();
    status.countRefused("Invalid Login - check e-mail and password");
    status.countKept();

    QTEST(status.listeningText(), "listeningText");
    QTEST(status.waitingText(), "waitingText");
    QTEST(int(status.health()), "health");
    QCOMPARE(status.countsText(), QStringLiteral("Accepted 1 · Waiting 3 · Refused 1 · In file 1"));
    QCOMPARE(status.failureText(), QStringLiteral("Refused: Invalid Login - check e-mail and password"));
    QVERIFY(status.toolTip().contains(status.countsText()));
}

void TestStationStatus::notificationsAreFewAndGathered()
{
    Notifications notifications;
    notifications.setRefusalWindow(100ms);
    QSignalSpy notified(&notifications, &Notifications::notify);
    notifications.holdChanged(UploadHold::Retrying, 3, "3 contacts waiting");
    notifications.holdChanged(UploadHold::Retrying, 4, "4 contacts waiting"); // still the same outage
    QCOMPARE(notified.size(), 1);
    QCOMPARE(notified[0][0].toString(), QStringLiteral("Contacts are waiting for Corvane"));
    notifications.serviceBack(4);
    notifications.holdChanged(UploadHold::None, 4, "");
    notifications.holdChanged(UploadHold::Paused, 5, "paused"); // the operator's own choice
    QCOMPARE(notified.size(), 2);
    QCOMPARE(notified[1][0].toString(), QStringLiteral("Corvane answers again"));

    // A wrong password refuses every contact: one notice at once, the rest in one.
    for (int i = 0; i < 50; ++i)
        notifications.refused("Invalid login");
    QCOMPARE(notified.size(), 3);
    QTRY_COMPARE(notified.size(), 4);
    QCOMPARE(notified[3][0].toString(), QStringLiteral("Corvane refused 49 more contact(s)"));
    QTest::qWait(250);
    QCOMPARE(notified.size(), 4);
}

void TestStationStatus::headlessLinesSumUpABurst()
{
    QStringList lines;
    EventReport report([&lines](const QString& line) { lines << line; });
    report.state("listening", "Listening on UDP port 12060");
    report.accepted("Q9XYZ");
    QTRY_COMPARE(lines.size(), 1);
    QVERIFY(lines[0].endsWith(" Listening on UDP port 12060; Accepted Q9XYZ"));
    QVERIFY(QDateTime::fromString(lines[0].left(19), "yyyy-MM-dd HH:mm:ss").isValid());
    for (int i = 0; i < 1000; ++i)
        report.accepted("Q9" + QString::number(i));
    report.refused("Q9BAD", "Invalid login");
    report.state("listening", "Listening on UDP port 12060"); // no change, no news
    QTRY_COMPARE(lines.size(), 2);
    QVERIFY2(lines[1].endsWith("Accepted 1000 contacts (Q90, Q91, Q92 ...); Refused Q9BAD: Invalid login"),
             qPrintable(lines[1]));
    QTest::qWait(2 * int(EventReport::Interval.count()));
    QCOMPARE(lines.size(), 2);
}

void TestStationStatus::recentContactsFollowEachContact()
{
    RecentContacts recent;
    QSignalSpy inserted(&recent, &QAbstractItemModel::rowsInserted);
    for (quint64 key = 1; key <= RecentContacts::Capacity + 20; ++key)
        recent.add(key, WorkedContact::recordWithCall("Q" + QString::number(key).rightJustified(4, '0')),
                   true, QTime(14, 5, 33));
    recent.add(0, WorkedContact::Record, false, QTime(14, 5, 34));
    recent.setState(21, RecentContacts::State::Refused, "Invalid login");
    recent.setState(21, RecentContacts::State::Kept);
    recent.setState(22, RecentContacts::State::Accepted);
    recent.setState(1, RecentContacts::State::Accepted); // gone from the list already
    recent.setWaitingReason("connection refused");
    recent.publish();
    QCOMPARE(recent.rowCount(), 0); // nobody looks: nothing published
    QVERIFY(inserted.isEmpty());

    recent.setLive(true);
    QCOMPARE(recent.rowCount(), RecentContacts::Capacity);
    const auto cell = [&recent](int row, int column) { return recent.index(row, column).data().toString(); };
    QCOMPARE(cell(0, RecentContacts::CallColumn), QStringLiteral("Q0022"));
    QCOMPARE(cell(0, RecentContacts::StateColumn), QStringLiteral("accepted"));
    QCOMPARE(cell(1, RecentContacts::StateColumn), QStringLiteral("waiting: connection refused"));
    QCOMPARE(cell(0, RecentContacts::TimeColumn) + ' ' + cell(0, RecentContacts::BandColumn) + ' ' +
                 cell(0, RecentContacts::ModeColumn),
             QStringLiteral("14:05:33 20M CW"));
    QCOMPARE(cell(499, RecentContacts::StateColumn), QStringLiteral("not sent: automatic upload is off"));
    recent.add(600, WorkedContact::Record, true);
    recent.setState(600, RecentContacts::State::Refused, "Invalid login");
    recent.setState(600, RecentContacts::State::Kept);
    recent.publish();
    QCOMPARE(recent.rowCount(), RecentContacts::Capacity);
    QCOMPARE(cell(499, RecentContacts::StateColumn),
             QStringLiteral("kept in the not-uploaded file: Invalid login"));
}

TARVEX_TEST(TestStationStatus)
#include "tst_status.moc"
