#include "ui/QtPrompter.h"

#include <QTest>

class TestQtPrompter : public QObject
{
    Q_OBJECT

private slots:
    void nameFilters_data();
    void nameFilters();
    void lineBreaks() { QCOMPARE(QtPrompter::messageText("a\rb\r\nc\nd"), QStringLiteral("a\nb\nc\nd")); }
};

void TestQtPrompter::nameFilters_data()
{
    QTest::addColumn<QString>("barSeparated");
    QTest::addColumn<QStringList>("filters");

    QTest::newRow("the browse dialog's")
        << "ADIF (*.adi) | *.adi|All files (*.*)|*.*" << QStringList{"ADIF (*.adi)", "All files (*.*)"};
    QTest::newRow("several patterns") << "ADIF|*.adi;*.adif" << QStringList{"ADIF (*.adi *.adif)"};
    // Qt filters on what the description shows, so it must show the real pattern.
    QTest::newRow("description showing other patterns")
        << "Logs (*.txt)|*.adi" << QStringList{"Logs (*.adi)"};
    QTest::newRow("no description") << "|*.adi" << QStringList{"*.adi"};
    QTest::newRow("description without a pattern")
        << "ADIF (*.adi)|*.adi|Other" << QStringList{"ADIF (*.adi)"};
}

void TestQtPrompter::nameFilters()
{
    QFETCH(QString, barSeparated);
    QTEST(QtPrompter::nameFilters(barSeparated), "filters");
}

QTEST_GUILESS_MAIN(TestQtPrompter)
#include "tst_qtprompter.moc"
