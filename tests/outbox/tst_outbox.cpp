#include "FileSizeLimit.h"
#include "TempDir.h"
#include "TestMain.h"
#include "logs/ErrorLog.h"
#include "logs/LogFile.h"
#include "logs/NonUploadedQsosLog.h"
#include "outbox/DiskKeeper.h"
#include "outbox/Outbox.h"
#include "settings/AppPaths.h"
#include "settings/Settings.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

#include <pwd.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const QString A = QStringLiteral("<CALL:3>Q9A <EOR>");
const QString B = QStringLiteral("<CALL:3>Q9B <EOR>");
const QString C = QStringLiteral("<CALL:3>Q9C <EOR>");

QString calls(const QList<Outbox::Entry>& entries)
{
    QStringList result;
    for (const Outbox::Entry& entry : entries)
        result << QString::number(entry.key) + ':' + entry.record.mid(8, 3);
    return result.join(' ');
}

QString waiting(const Outbox& outbox)
{
    return calls(outbox.waitingAfter(0, 100));
}

// Root reads through any permission bit, so under root the test runs as
// "nobody" for a while, in a folder handed to it.
struct Unprivileged
{
    explicit Unprivileged(const QString& folder)
    {
        const passwd* nobody = ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
        if (nobody && ::chown(QFile::encodeName(folder).constData(), nobody->pw_uid, nobody->pw_gid) == 0)
            dropped = ::setegid(nobody->pw_gid) == 0 && ::seteuid(nobody->pw_uid) == 0;
    }
    ~Unprivileged()
    {
        if (dropped && (::seteuid(0) != 0 || ::setegid(0) != 0))
            qFatal("cannot become root again");
    }
    bool usable() const { return ::geteuid() != 0; }
    bool dropped = false;
};

// A keeper on its own outbox in a throw-away folder, on this thread.
struct Keeping
{
    Keeping()
    {
        outbox.open();
        outbox.replay();
    }

    TempDir dir;
    Outbox outbox{dir.file("Outbox.txt")};
    Settings settings{dir.file("Tarvex.ini"), dir.file("DebugLog.txt")};
    DiskKeeper keeper{outbox, AppPaths(dir.path()), settings};
};

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("XDG_STATE_HOME", QFile::encodeName(m_state.path())); }
    void parseReadsWhatWaits_data();
    void parseReadsWhatWaits();
    void contactsOutliveTheRunInTheirOrder();
    void damagedEntriesAreMovedAsideOnce();
    void aFullDiskHoldsContactsInMemoryUntilSpaceReturns();
    void anOutboxThatCannotBeReadIsLeftAndImportedLater();
    void aRefusedContactLeavesWithItsReasonOnceBothAreWritten();
    void aFullDiskHoldsContactsWithTheirBlocks_data();
    void aFullDiskHoldsContactsWithTheirBlocks();
    void aSettingsFileThatCannotBeWrittenIsSaidOnce();
    void closingLeavesNothingOnlyInMemory_data();
    void closingLeavesNothingOnlyInMemory();

private:
    TempDir m_state;
};

void TestOutbox::parseReadsWhatWaits_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("waiting");
    QTest::addColumn<int>("damaged");
    const QByteArray a = Outbox::encodeAdd(1, A);
    const QByteArray b = Outbox::encodeAdd(2, B);
    const QByteArray c = Outbox::encodeAdd(3, C);
    // Text that reads like an entry once a tear makes the reader look for the next line.
    const QString lookalike =
        "<CALL:3>Q9D x\n" + QString::fromUtf8(Outbox::encodeAdd(9, "<CALL:3>Q9F")) + "<EOR>";
    const QByteArray raw = "+ 4 " + QByteArray::number(lookalike.toUtf8().size()) + ' ' +
                           Outbox::encodeAdd(4, lookalike).split(' ').at(3).split('\t').first() + '\t' +
                           lookalike.toUtf8() + '\n';
    // clang-format off
    QTest::newRow("nothing") << QByteArray() << "" << 0;
    QTest::newRow("two added") << Outbox::Header + a + b << "1:Q9A 2:Q9B" << 0;
    QTest::newRow("one done") << Outbox::Header + a + b + Outbox::encodeRemove(1) << "2:Q9B" << 0;
    QTest::newRow("torn last line") << Outbox::Header + a + b.chopped(5) << "1:Q9A" << 1;
    QTest::newRow("torn removal") << Outbox::Header + a + "- " << "1:Q9A" << 1;
    QTest::newRow("record damaged") << Outbox::Header + QByteArray(a).replace("Q9A", "Q9X") + b << "2:Q9B" << 1;
    QTest::newRow("order by key, not by line") << Outbox::Header + b + a << "1:Q9A 2:Q9B" << 0;
    QTest::newRow("header torn away") << a << "1:Q9A" << 0;
    QTest::newRow("a record with a line break, torn")
        << Outbox::Header + Outbox::encodeAdd(4, lookalike).chopped(3) + "\n" + c << "3:Q9C" << 1;
    QTest::newRow("non-ASCII text") << Outbox::encodeAdd(6, QString::fromUtf8("<CALL:3>Ä9Ö <NAME:4>Jörg <EOR>"))
                                    << QString::fromUtf8("6:Ä9Ö") << 0;
    QTest::newRow("escapes kept apart") << Outbox::encodeAdd(5, "<CALL:3>\\n\r <EOR>") << "5:\\n\r" << 0;
    QTest::newRow("written raw by an earlier version") << Outbox::Header + raw + a << "1:Q9A 4:Q9D" << 0;
    // clang-format on
}

void TestOutbox::parseReadsWhatWaits()
{
    QFETCH(QByteArray, bytes);
    int damaged = -1;
    QTEST(calls(Outbox::parse(bytes, &damaged)), "waiting");
    QTEST(damaged, "damaged");
}

void TestOutbox::contactsOutliveTheRunInTheirOrder()
{
    TempDir dir;
    {
        Outbox outbox(dir.file("Outbox.txt"));
        outbox.open();
        QCOMPARE(outbox.append({A, B, C}), (QList<quint64>{1, 2, 3}));
        outbox.remove(2);
        QCOMPARE(outbox.waitingCount(), 2);
        QVERIFY(dir.read("Outbox.txt").contains("\t" + A.toUtf8() + "\n")); // readable by hand
        QCOMPARE(QFile::permissions(dir.file("Outbox.txt")) & 0x0FFF,
                 QFileDevice::ReadUser | QFileDevice::WriteUser);
    } // a crash: nothing more is written
    const QByteArray before = dir.read("Outbox.txt");

    Outbox next(dir.file("Outbox.txt"));
    next.open();
    QCOMPARE(next.append({B}), QList<quint64>{4}); // keys go on from the file's tail, before any replay
    QCOMPARE(next.replay().earlier, 2); // 4 is this run's own
    QCOMPARE(waiting(next), QStringLiteral("1:Q9A 3:Q9C 4:Q9B"));
    QCOMPARE(calls(next.waitingAfter(1, 1)), QStringLiteral("3:Q9C"));
    QVERIFY(dir.read("Outbox.txt").startsWith(before)); // never rewritten at start
    for (const quint64 key : {1, 3, 4})
        next.remove(key);
    QVERIFY(dir.read("Outbox.txt").size() > Outbox::Header.size()); // small: not worth cutting back
    next.remove(next.append({"<NOTES:70000>" + QString(70000, 'x') + " <EOR>"}).first());
    QCOMPARE(dir.read("Outbox.txt"), Outbox::Header); // cut back once nothing waits

    // Removals of older contacts may fill the tail; the one still waiting keeps its key.
    QByteArray many = Outbox::Header;
    for (int key = 1; key <= 20000; ++key)
        many += Outbox::encodeAdd(key, A);
    for (int key = 1; key < 20000; ++key)
        many += Outbox::encodeRemove(key);
    dir.write("Outbox.txt", many);
    Outbox third(dir.file("Outbox.txt"));
    third.open();
    QCOMPARE(third.append({B}), QList<quint64>{20001});
}

void TestOutbox::damagedEntriesAreMovedAsideOnce()
{
    TempDir dir;
    const QByteArray torn = Outbox::encodeAdd(3, C).chopped(4);
    dir.write("Outbox.txt",
              Outbox::Header + Outbox::encodeAdd(1, A) + "garbage\n" + Outbox::encodeAdd(2, B) + torn);
    for (const auto& [moved, left] : {std::pair{2, "1:Q9A 2:Q9B 3:Q9C"}, {0, "1:Q9A 2:Q9B 3:Q9C 4:Q9C"}}) {
        Outbox outbox(dir.file("Outbox.txt"));
        outbox.open();
        outbox.append({C}); // lands on a line of its own, not glued to the torn one
        QCOMPARE(outbox.replay().damaged, moved);
        QCOMPARE(waiting(outbox), QString::fromLatin1(left));
    }
    QCOMPARE(dir.read("Outbox.damaged.txt"), "garbage\n" + torn + "\n");
}

void TestOutbox::aFullDiskHoldsContactsInMemoryUntilSpaceReturns()
{
    TempDir dir;
    Outbox outbox(dir.file("Outbox.txt"));
    outbox.open();
    outbox.append({A});
    bool written = true;
    QString error;
    {
        FileSizeLimit full(dir.read("Outbox.txt").size() + 10);
        QCOMPARE(outbox.append({B}, &written, &error), QList<quint64>{2});
        QCOMPARE(error, QStringLiteral("File too large"));
        QVERIFY(!written && !outbox.retry());
    }
    QCOMPARE(outbox.heldInMemory(), 1);
    QCOMPARE(waiting(outbox), QStringLiteral("1:Q9A 2:Q9B"));
    QCOMPARE(calls(Outbox::parse(dir.read("Outbox.txt"))), QStringLiteral("1:Q9A")); // cut back whole
    outbox.append({C}, &written);
    QVERIFY(written); // the held one went first
    QCOMPARE(outbox.heldInMemory(), 0);
    QCOMPARE(calls(Outbox::parse(dir.read("Outbox.txt"))), QStringLiteral("1:Q9A 2:Q9B 3:Q9C"));
}

void TestOutbox::anOutboxThatCannotBeReadIsLeftAndImportedLater()
{
    TempDir dir;
    Unprivileged user(dir.path());
    if (!user.usable())
        QSKIP("running as root without a 'nobody' user");
    const QString path = dir.file("Outbox.txt");
    {
        Outbox earlier(path);
        earlier.open();
        earlier.append({A, B});
    }
    const QByteArray before = dir.read("Outbox.txt");
    QVERIFY(QFile::setPermissions(path, {})); // as one "sudo tarvex" leaves it, to this user

    Outbox outbox(path);
    outbox.open();
    QCOMPARE(outbox.path(), dir.file("Outbox-2.txt"));
    outbox.append({C});
    const Outbox::Replay replay = outbox.replay();
    QCOMPARE(replay.earlier, 0); // C is this run's own
    QVERIFY2(replay.problem.startsWith("Outbox.txt cannot be used (Permission denied)") &&
                 replay.problem.contains("Outbox-2.txt") && replay.problem.contains(path),
             qPrintable(replay.problem));
    QVERIFY(!outbox.retry()); // still unreadable: tried again later

    QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    QCOMPARE(dir.read("Outbox.txt"), before); // left exactly as it was
    int imported = 0;
    QVERIFY(outbox.retry(nullptr, &imported));
    QCOMPARE(imported, 2);
    QCOMPARE(waiting(outbox), QStringLiteral("1:Q9C 2:Q9A 3:Q9B"));
    QVERIFY(!dir.exists("Outbox.txt") && outbox.problem().isEmpty());

    Outbox next(path); // a start that finds a sibling imports it the same way
    next.open();
    QCOMPARE(next.path(), path);
    QCOMPARE(next.replay().imported, 3);
    QVERIFY(!dir.exists("Outbox-2.txt"));
}

void TestOutbox::aRefusedContactLeavesWithItsReasonOnceBothAreWritten()
{
    Keeping rig;
    auto& [dir, outbox, settings, keeper] = rig;
    QSignalSpy kept(&keeper, &DiskKeeper::kept);
    const QList<quint64> keys = outbox.append({A, B});
    keeper.keep(keys[0], A, "Refused", "bad call");
    keeper.done(keys[1]);
    QTRY_COMPARE(kept.size(), 1);
    QCOMPARE(kept.first().first().value<quint64>(), keys[0]);
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), (NonUploadedQsosLog::header() + A + "\r\n").toUtf8());
    QVERIFY(dir.read("ErrorLog.txt").contains(" - Refused\r\n =Error Report= \r\nbad call\r\n"));
    QCOMPARE(outbox.waitingCount(), 0);
}

void TestOutbox::aFullDiskHoldsContactsWithTheirBlocks_data()
{
    QTest::addColumn<qsizetype>("limit");
    QTest::addColumn<QString>("reason");
    const qsizetype block = ErrorLog::blockText(logTimestamp(), "Refused", "0").toUtf8().size();
    QTest::newRow("nothing fits") << qsizetype(10) << "ErrorLog.txt: File too large";
    QTest::newRow("the first block fits") << block + 8 << "NotUploadedQsosLog.adi: File too large";
}

void TestOutbox::aFullDiskHoldsContactsWithTheirBlocks()
{
    QFETCH(qsizetype, limit);
    Keeping rig;
    auto& [dir, outbox, settings, keeper] = rig;
    keeper.setIntervals(10ms, 50ms);
    QSignalSpy held(&keeper, &DiskKeeper::heldChanged);
    const QList<quint64> keys = outbox.append({A, B, C});
    auto full = std::make_unique<FileSizeLimit>(limit);
    for (int i = 0; i < 3; ++i)
        keeper.keep(keys[i], QStringList{A, B, C}[i], "Refused", QString::number(i));
    keeper.report("Alone", "no contact");
    QTRY_VERIFY(!held.isEmpty() && held.last().at(0).toInt() == 4);
    QTEST(held.last().at(1).toString(), "reason");
    QCOMPARE(outbox.waitingCount(), 3); // kept nowhere else yet, so still in the outbox

    full.reset(); // space returns
    QTRY_COMPARE(held.last().at(0).toInt(), 0);
    QCOMPARE(dir.read("ErrorLog.txt").count(" =Error Report= "), 4); // each reason with its contact
    QVERIFY(dir.read("NotUploadedQsosLog.adi").endsWith((A + "\r\n" + B + "\r\n" + C + "\r\n").toUtf8()));
    QCOMPARE(outbox.waitingCount(), 0);
}

void TestOutbox::aSettingsFileThatCannotBeWrittenIsSaidOnce()
{
    Keeping rig;
    auto& [dir, outbox, settings, keeper] = rig;
    settings.CheckforInIfile();
    keeper.setIntervals(10ms, 50ms);
    settings.setWriteRequest([&keeper] { keeper.settingsChanged(); });
    QSignalSpy saved(&keeper, &DiskKeeper::settingsSaved);
    {
        FileSizeLimit full(20);
        for (const char* typed : {"Q", "Q9", "Q9X"})
            settings.SaveSettings("CorvaneCallsign", typed, false);
        QTRY_COMPARE(saved.size(), 1); // said once, not once per keystroke
        QCOMPARE(saved.first().at(0).toBool(), false);
    }
    QTRY_COMPARE(saved.size(), 2);
    QVERIFY(dir.read("Tarvex.ini").contains("CorvaneCallsign=Q9X\r\n"));
}

void TestOutbox::closingLeavesNothingOnlyInMemory_data()
{
    // Each file fits under the limit only as far as the row says.
    QTest::addColumn<qsizetype>("limit");
    QTest::addColumn<int>("inNotUploaded");
    QTest::addColumn<int>("rescued");
    const qsizetype rescue = Outbox::Header.size() + Outbox::encodeAdd(2, B).size();
    const qsizetype nonUploaded = (NonUploadedQsosLog::header() + B + "\r\n").toUtf8().size();
    QTest::newRow("into the not-uploaded file") << nonUploaded << 1 << 0;
    QTest::newRow("into the rescue file") << rescue << 0 << 1;
    QTest::newRow("nowhere: named") << qsizetype(10) << 0 << 0;
}

void TestOutbox::closingLeavesNothingOnlyInMemory()
{
    QFETCH(qsizetype, limit);
    QFETCH(int, rescued);
    Keeping rig;
    auto& [dir, outbox, settings, keeper] = rig;
    outbox.append({"<NOTES:300>" + QString(300, 'x') + " <EOR>"}); // the outbox is past every limit
    ExitSummary summary;
    {
        FileSizeLimit full(limit);
        outbox.append({B});
        summary = keeper.finish();
    }
    QCOMPARE(summary.waiting, 1);
    QTEST(summary.inNotUploaded, "inNotUploaded");
    QCOMPARE(summary.rescued, rescued);
    QCOMPARE(summary.lost, summary.inNotUploaded + rescued == 0 ? QStringList{B} : QStringList{});

    Outbox next(dir.file("Outbox.txt"));
    next.open();
    DiskKeeper nextKeeper(next, AppPaths(dir.path()), settings);
    QSignalSpy replayed(&nextKeeper, &DiskKeeper::replayed);
    nextKeeper.replay();
    QTRY_COMPARE(replayed.size(), 1);
    QCOMPARE(replayed.first().first().value<Outbox::Replay>().imported, rescued);
    QCOMPARE(next.waitingCount(), 1 + rescued);
}

TARVEX_TEST(TestOutbox)
#include "tst_outbox.moc"
