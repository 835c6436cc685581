#include "FileSizeLimit.h"
#include "TempDir.h"
#include "TestMain.h"
#include "logs/NonUploadedQsosLog.h"
#include "outbox/DiskKeeper.h"
#include "outbox/Outbox.h"
#include "settings/Settings.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <optional>

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

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

private slots:
    void replaySkipsWhatIsTornOrDamaged_data();
    void replaySkipsWhatIsTornOrDamaged();
    void contactsOutliveTheRunInTheirOrder();
    void aFullDiskHoldsContactsInMemoryUntilSpaceReturns();
};

void TestOutbox::replaySkipsWhatIsTornOrDamaged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("waiting");
    QTest::addColumn<int>("skipped");
    const QByteArray a = Outbox::encodeAdd(1, A);
    const QByteArray b = Outbox::encodeAdd(2, B);
    const QByteArray multiLine = Outbox::encodeAdd(3, QStringLiteral("<CALL:3>Q9C <SRX_STRING:3>a\nb <EOR>"));
    QTest::newRow("nothing") << QByteArray() << "" << 0;
    QTest::newRow("two added") << Outbox::Header + a + b << "1:Q9A 2:Q9B" << 0;
    QTest::newRow("one done") << Outbox::Header + a + b + Outbox::encodeRemove(1) << "2:Q9B" << 0;
    QTest::newRow("torn last line") << Outbox::Header + a + b.chopped(5) << "1:Q9A" << 1;
    QTest::newRow("torn removal") << Outbox::Header + a + "- "
                                  << "1:Q9A" << 1;
    QTest::newRow("record damaged") << Outbox::Header + QByteArray(a).replace("Q9A", "Q9X") + b << "2:Q9B"
                                    << 1;
    QTest::newRow("line break inside a record") << Outbox::Header + multiLine + a << "1:Q9A 3:Q9C" << 0;
    QTest::newRow("order by key, not by line") << Outbox::Header + b + a << "1:Q9A 2:Q9B" << 0;
    QTest::newRow("header torn away") << a.mid(0) << "1:Q9A" << 0;
}

void TestOutbox::replaySkipsWhatIsTornOrDamaged()
{
    QFETCH(QByteArray, bytes);
    int skipped = -1;
    QTEST(calls(Outbox::replay(bytes, &skipped)), "waiting");
    QTEST(skipped, "skipped");
}

void TestOutbox::contactsOutliveTheRunInTheirOrder()
{
    TempDir dir;
    {
        Outbox outbox(dir.file("Outbox.txt"));
        QCOMPARE(outbox.open().size(), 0);
        QCOMPARE(outbox.append({A, B, C}), (QList<quint64>{1, 2, 3}));
        outbox.remove(2);
        QCOMPARE(outbox.waitingCount(), 2);
        // The file holds records, readable by hand, and what is done.
        QVERIFY(dir.read("Outbox.txt").contains("\t" + A.toUtf8() + "\n"));
        QVERIFY(dir.read("Outbox.txt").endsWith("- 2\n"));
    } // a crash: nothing more is written

    Outbox next(dir.file("Outbox.txt"));
    QCOMPARE(calls(next.open()), QStringLiteral("1:Q9A 2:Q9C"));
    QCOMPARE(dir.read("Outbox.txt"), Outbox::Header + Outbox::encodeAdd(1, A) + Outbox::encodeAdd(2, C));
    QCOMPARE(next.append({B}), QList<quint64>{3}); // new ones go behind the old
    next.remove(1);
    next.remove(2);
    next.remove(3);
    QVERIFY(dir.read("Outbox.txt").size() > Outbox::Header.size()); // small: not worth cutting back
    const QString big = "<NOTES:70000>" + QString(70000, 'x') + " <EOR>";
    next.remove(next.append({big}).first());
    QCOMPARE(dir.read("Outbox.txt"), Outbox::Header); // compacted once nothing waits
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
        QVERIFY(!written && !error.isEmpty());
        QVERIFY(!outbox.retry());
    }
    QCOMPARE(outbox.heldInMemory(), 1);
    QCOMPARE(outbox.waitingCount(), 2);
    QCOMPARE(calls(Outbox::replay(dir.read("Outbox.txt"))), QStringLiteral("1:Q9A")); // cut back whole
    outbox.append({C}, &written);
    QVERIFY(written); // the held one went first
    QCOMPARE(outbox.heldInMemory(), 0);
    QCOMPARE(calls(Outbox::replay(dir.read("Outbox.txt"))), QStringLiteral("1:Q9A 2:Q9B 3:Q9C"));
}

namespace {

// A keeper on its own outbox in a throw-away folder, on this thread.
struct Keeping
{
    Keeping() { outbox.open(); }

    TempDir dir;
    Outbox outbox{dir.file("Outbox.txt")};
    Settings settings{dir.file("Tarvex.ini"), dir.file("DebugLog.txt")};
    DiskKeeper keeper{outbox, dir.file("NotUploadedQsosLog.adi"), settings};
};

} // namespace

class TestDiskKeeper : public QObject
{
    Q_OBJECT

private slots:
    void aRefusedContactLeavesTheOutboxOnceItIsInTheFile();
    void whatCannotBeWrittenIsHeldAndWrittenLater();
    void aSettingsFileThatCannotBeWrittenIsSaidOnce();
};

void TestDiskKeeper::aRefusedContactLeavesTheOutboxOnceItIsInTheFile()
{
    Keeping rig;
    auto& [dir, outbox, settings, keeper] = rig;
    QSignalSpy kept(&keeper, &DiskKeeper::kept);
    const QList<quint64> keys = outbox.append({A, B});
    keeper.keep(keys[0], A);
    keeper.done(keys[1]);
    QTRY_COMPARE(kept.size(), 1);
    QCOMPARE(kept.first().first().value<quint64>(), keys[0]);
    QCOMPARE(dir.read("NotUploadedQsosLog.adi"), (NonUploadedQsosLog::header() + A + "\r\n").toUtf8());
    QTRY_COMPARE(outbox.waitingCount(), 0);
}

void TestDiskKeeper::whatCannotBeWrittenIsHeldAndWrittenLater()
{
    Keeping rig;
    auto& [dir, outbox, settings, keeper] = rig;
    keeper.setIntervals(10ms, 50ms);
    QSignalSpy held(&keeper, &DiskKeeper::heldChanged);

    auto full = std::make_unique<FileSizeLimit>(Outbox::Header.size() + 10);
    const QList<quint64> keys = outbox.append({A}); // held in memory
    keeper.appended();
    keeper.keep(keys[0], A);
    QTRY_COMPARE(held.size(), 1);
    QCOMPARE(held.first().at(0).toInt(), 1);
    QVERIFY(held.first().at(1).toString().startsWith("Outbox.txt: ")); // the contact counts once
    QTest::qWait(120);                                                 // tries that fail change nothing
    QCOMPARE(outbox.waitingCount(), 1); // kept nowhere else yet, so still in the outbox

    full.reset(); // space returns
    QTRY_COMPARE(held.last().at(0).toInt(), 0);
    QVERIFY(dir.read("NotUploadedQsosLog.adi").endsWith(A.toUtf8() + "\r\n"));
    QCOMPARE(outbox.waitingCount(), 0);
}

void TestDiskKeeper::aSettingsFileThatCannotBeWrittenIsSaidOnce()
{
    Keeping rig;
    auto& [dir, outbox, settings, keeper] = rig;
    settings.CheckforInIfile();
    const QByteArray ini = dir.read("Tarvex.ini");
    keeper.setIntervals(10ms, 50ms);
    settings.setWriteRequest([&keeper] { keeper.settingsChanged(); });
    QSignalSpy saved(&keeper, &DiskKeeper::settingsSaved);
    {
        FileSizeLimit full(20);
        for (const char* typed : {"Q", "Q9", "Q9X"})
            settings.SaveSettings("CorvaneCallsign", typed, false);
        QTRY_COMPARE(saved.size(), 1); // said once, not once per keystroke
        QCOMPARE(saved.first().at(0).toBool(), false);
        QCOMPARE(dir.read("Tarvex.ini"), ini); // never cut short
        QCOMPARE(settings.GetSettings("CorvaneCallsign", {}), QStringLiteral("Q9X"));
    }
    QTRY_COMPARE(saved.size(), 2);
    QVERIFY(dir.read("Tarvex.ini").contains("CorvaneCallsign=Q9X\r\n"));
}

TARVEX_TEST(TestOutbox)
TARVEX_TEST(TestDiskKeeper)
#include "tst_outbox.moc"
