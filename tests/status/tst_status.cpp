#include "TestMain.h"
#include "WorkedContact.h"
#include "status/EventReport.h"
#include "status/Notifications.h"
#include "status/RecentContacts.h"
#include "status/StatusModel.h"

#include <QSignalSpy>
#include <QTest>

using namespace std::chrono_literals;
using Health = StatusModel::Health;
Q_DECLARE_METATYPE(UploadHold)

class TestStatusModel : public QObject
{
    Q_OBJECT

private slots:
    void textsAndHealthFollowTheState_data();
    void textsAndHealthFollowTheState();
    void theFirstPanelSaysWhatIsTrueNow_data();
    void theFirstPanelSaysWhatIsTrueNow();
    void notificationsOncePerEpisode();
    void headlessLinesSumUpABurst();
    void recentContactsFollowEachContact();
};

void TestStatusModel::textsAndHealthFollowTheState_data()
{
    QTest::addColumn<bool>("listening");
    QTest::addColumn<UploadHold>("hold");
    QTest::addColumn<int>("waiting");
    QTest::addColumn<int>("held");
    QTest::addColumn<bool>("attention");
    QTest::addColumn<QString>("listeningText");
    QTest::addColumn<QString>("waitingText");
    QTest::addColumn<int>("health");

    const QString listening = "Listening on UDP port 12060";
    QTest::newRow("fine") << true << UploadHold::None << 3 << 0 << false << listening << "" << int(Health::Fine);
    QTest::newRow("outage") << true << UploadHold::Retrying << 3 << 0 << false << listening
                            << "3 contacts waiting for Corvane: connection refused; next try at 14:05:41"
                            << int(Health::Waiting);
    QTest::newRow("login missing") << true << UploadHold::LoginMissing << 1 << 0 << false << listening
                                   << "1 contact waiting for Corvane: connection refused"
                                   << int(Health::Waiting);
    QTest::newRow("held on a full disk")
        << true << UploadHold::None << 3 << 2 << false << listening
        << "2 contacts could not be written (Outbox.txt: full); trying again every 10 s"
        << int(Health::Errors);
    QTest::newRow("error reported") << true << UploadHold::None << 3 << 0 << true << listening << ""
                                    << int(Health::Errors);
    QTest::newRow("not listening") << false << UploadHold::None << 3 << 0 << false
                                   << "Not listening: UDP port 12060 - address in use"
                                   << "" << int(Health::NotListening);
}

void TestStatusModel::textsAndHealthFollowTheState()
{
    QFETCH(bool, listening);
    QFETCH(UploadHold, hold);
    QFETCH(int, waiting);
    QFETCH(int, held);
    QFETCH(bool, attention);
    StatusModel status;
    status.change([&](StationState& s) {
        s.listening = listening;
        s.port = 12060;
        s.notListening = listening ? QString() : QStringLiteral("address in use");
        s.hold = hold;
        s.waiting = waiting;
        s.holdReason = "connection refused";
        s.nextTry = QDateTime(QDate(2026, 12, 7), QTime(14, 5, 41));
        s.held = held;
        s.heldReason = "Outbox.txt: full";
        s.attention = attention;
        s.accepted = 4;
        s.refused = 2;
        s.kept = 1;
        s.lastAccepted = {QDateTime(QDate(2026, 12, 7), QTime(14, 7)), "Q9XYZ"};
        s.lastFailure = {QDateTime(QDate(2026, 12, 7), QTime(14, 5)), "Refused Q9XYZ: Invalid Callsign"};
    });

    QTEST(status.listeningText(), "listeningText");
    QTEST(status.waitingText(), "waitingText");
    QTEST(int(status.health()), "health");
    QCOMPARE(status.countsText(), QStringLiteral("Accepted 4 · Waiting %1 · Refused 2 · In file 1").arg(waiting));
    QCOMPARE(status.acceptedText(), QStringLiteral("Last accepted 14:07 Q9XYZ"));
    QCOMPARE(status.failureText(), QStringLiteral("14:05 Refused Q9XYZ: Invalid Callsign"));
    QVERIFY(status.toolTip().contains(status.countsText()) && status.toolTip().contains(status.failureText()));
}

void TestStatusModel::theFirstPanelSaysWhatIsTrueNow_data()
{
    QTest::addColumn<int>("inFlight");
    QTest::addColumn<UploadHold>("hold");
    QTest::addColumn<QString>("catchUp");
    QTest::addColumn<QString>("job");
    QTest::addColumn<QString>("activity");
    const QString uploading = "Uploading Data to Corvane";
    QTest::newRow("sending") << 2 << UploadHold::None << "" << "" << uploading;
    QTest::newRow("outage: the waiting line says why") << 1 << UploadHold::Retrying << "" << "" << "";
    QTest::newRow("idle: the last outcome") << 0 << UploadHold::None << "" << "" << "Uploading Data Complete.";
    QTest::newRow("catching up") << 1 << UploadHold::None << "3 contacts from the last run are being sent" << ""
                                 << "3 contacts from the last run are being sent";
    QTest::newRow("the operator's job first") << 1 << UploadHold::Retrying << "" << "File Uploading!"
                                              << "File Uploading!";
}

void TestStatusModel::theFirstPanelSaysWhatIsTrueNow()
{
    QFETCH(int, inFlight);
    QFETCH(UploadHold, hold);
    QFETCH(QString, catchUp);
    QFETCH(QString, job);
    StatusModel status;
    QSignalSpy changed(&status, &StatusModel::changed);
    status.change([&](StationState& s) {
        s.waiting = 3;
        s.inFlight = inFlight;
        s.hold = hold;
        s.catchUp = catchUp;
        s.job = job;
        s.verdict = "Uploading Data Complete.";
    });
    status.change([&](StationState& s) { s.inFlight = inFlight; }); // no difference, no signal
    QCOMPARE(changed.size(), 1);
    QTEST(status.activity(), "activity");
}

void TestStatusModel::notificationsOncePerEpisode()
{
    StatusModel status;
    Notifications notifications(status);
    notifications.setRefusalWindow(100ms);
    QSignalSpy notified(&notifications, &Notifications::notify);
    const auto hold = [&status](UploadHold reason, int waiting) {
        status.change([&](StationState& s) {
            s.hold = reason;
            s.waiting = waiting;
        });
    };
    hold(UploadHold::LoginMissing, 3);
    // Every keystroke of a login used to start the episode anew.
    for (const UploadHold h : {UploadHold::None, UploadHold::LoginRefused, UploadHold::None, UploadHold::Retrying})
        hold(h, 3);
    QCOMPARE(notified.size(), 1);
    QCOMPARE(notified[0][0].toString(), QStringLiteral("Contacts are waiting for Corvane"));
    emit status.contactAccepted(1, WorkedContact::Record); // the service answers: the episode ends
    emit status.serviceBack(2);
    QCOMPARE(notified[1][1].toString(), QStringLiteral("2 contacts waiting are being sent"));
    hold(UploadHold::Retrying, 2);
    QCOMPARE(notified.size(), 3);
    hold(UploadHold::None, 0);
    hold(UploadHold::Paused, 5); // the operator's own choice
    QCOMPARE(notified.size(), 3);

    // A wrong password refuses every contact: one notice at once, the rest in one.
    for (int i = 0; i < 50; ++i)
        emit status.contactRefused(quint64(i), WorkedContact::Record, "Invalid login");
    QCOMPARE(notified.size(), 4);
    QTRY_COMPARE(notified.size(), 5);
    QCOMPARE(notified[4][0].toString(), QStringLiteral("Corvane refused 49 more contacts"));
    QTest::qWait(250);
    QCOMPARE(notified.size(), 5);
}

void TestStatusModel::headlessLinesSumUpABurst()
{
    StatusModel status;
    QStringList lines;
    EventReport report(status, [&lines](const QString& line) { lines << line; });
    status.change([](StationState& s) {
        s.listening = true;
        s.port = 12060;
    });
    emit status.contactAccepted(1, WorkedContact::Record);
    QTRY_COMPARE(lines.size(), 1);
    QVERIFY2(lines[0].endsWith(" Listening on UDP port 12060; Accepted Q9XYZ"), qPrintable(lines[0]));
    QVERIFY(QDateTime::fromString(lines[0].left(19), "yyyy-MM-dd HH:mm:ss").isValid());
    for (int i = 0; i < 3; ++i)
        emit status.contactAccepted(1, WorkedContact::recordWithCall("Q900" + QString::number(i)));
    QTRY_COMPARE(lines.size(), 2);
    QVERIFY2(lines[1].endsWith("Accepted 3 contacts (Q9000, Q9001, Q9002)"), qPrintable(lines[1]));
    for (int i = 0; i < 1000; ++i)
        emit status.contactAccepted(1, WorkedContact::recordWithCall("Q9" + QString::number(i).rightJustified(3, '0')));
    // Nothing a sender or the service writes starts a line of its own.
    emit status.contactRefused(2, WorkedContact::recordWithCall("Q9BAD"), "Invalid\r\nlogin\x1b[2J");
    status.fail("Contact datagram could not be read: bad\n2026-12-07 14:00:00 Accepted FAKE");
    QTRY_COMPARE(lines.size(), 3);
    QVERIFY2(lines[2].endsWith("Contact datagram could not be read: bad\\n2026-12-07 14:00:00 Accepted FAKE; "
                               "Accepted 1000 contacts (Q9000, Q9001, Q9002 ...); Refused Q9BAD: Invalid\\r\\nlogin\uFFFD[2J"),
             qPrintable(lines[2]));
    // A hold-up is said when it begins and when it ends.
    status.change([](StationState& s) {
        s.waiting = 1;
        s.hold = UploadHold::Retrying;
        s.holdReason = "timed out";
    });
    QTRY_COMPARE(lines.size(), 4);
    QVERIFY2(lines[3].endsWith(" 1 contact waiting for Corvane: timed out"), qPrintable(lines[3]));
    status.change([](StationState& s) { s.waiting = 0; });
    QTRY_COMPARE(lines.size(), 5);
    QVERIFY2(lines[4].endsWith(" No contacts are held up any more"), qPrintable(lines[4]));
    QTest::qWait(2 * int(EventReport::Interval.count()));
    QCOMPARE(lines.size(), 5);
}

void TestStatusModel::recentContactsFollowEachContact()
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

TARVEX_TEST(TestStatusModel)
#include "tst_status.moc"
