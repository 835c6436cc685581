#include "ui/QtPrompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Waits for the next modal dialog of type T and hands it to `act` once it is up.
template <typename T> void whenShown(std::function<void(T*)> act)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act(dialog);
    });
    poll->start(10);
}

} // namespace

Q_DECLARE_METATYPE(Prompter::Buttons)
Q_DECLARE_METATYPE(Prompter::Icon)
Q_DECLARE_METATYPE(Prompter::Answer)

class TestQtPrompter : public QObject
{
    Q_OBJECT

private slots:
    void filtersBecomeQtFilters_data();
    void filtersBecomeQtFilters();
    void messageBoxes_data();
    void messageBoxes();
    void fileDialogShowsTheFilters();
};

void TestQtPrompter::filtersBecomeQtFilters_data()
{
    QTest::addColumn<QString>("barSeparated");
    QTest::addColumn<QStringList>("filters");

    QTest::newRow("the browse dialog's")
        << "ADIF (*.adi) | *.adi|All files (*.*)|*.*" << QStringList{"ADIF (*.adi)", "All files (*.*)"};
    QTest::newRow("description without patterns") << "ADIF files|*.adi" << QStringList{"ADIF files (*.adi)"};
    QTest::newRow("several patterns") << "ADIF|*.adi;*.adif" << QStringList{"ADIF (*.adi *.adif)"};
    // The bar-separated form filters on its pattern, whatever the description shows.
    QTest::newRow("description showing other patterns")
        << "Logs (*.txt)|*.adi" << QStringList{"Logs (*.adi)"};
    QTest::newRow("no description") << "|*.adi" << QStringList{"*.adi"};
    QTest::newRow("description without a pattern")
        << "ADIF (*.adi)|*.adi|Other" << QStringList{"ADIF (*.adi)"};
    QTest::newRow("empty") << "" << QStringList();
}

void TestQtPrompter::filtersBecomeQtFilters()
{
    QFETCH(QString, barSeparated);
    QFETCH(QStringList, filters);
    QCOMPARE(QtPrompter::nameFilters(barSeparated), filters);
}

void TestQtPrompter::messageBoxes_data()
{
    QTest::addColumn<Prompter::Buttons>("buttons");
    QTest::addColumn<Prompter::Icon>("icon");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("press"); // a standard button, or 0 for Escape
    QTest::addColumn<Prompter::Answer>("answer");
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<QString>("shownText");
    QTest::addColumn<int>("shownIcon");
    QTest::addColumn<int>("shownButtons");

    using B = Prompter::Buttons;
    using I = Prompter::Icon;
    using A = Prompter::Answer;
    const int ok = QMessageBox::Ok;
    const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
    const int yesNo = QMessageBox::Yes | QMessageBox::No;

    QTest::newRow("no title of its own") << B::Ok << I::None << ""
                                         << "There is no Update available!" << ok << A::Ok << "Tarvex"
                                         << "There is no Update available!" << int(QMessageBox::NoIcon) << ok;
    QTest::newRow("yes") << B::YesNo << I::None << "UPDATE AVAILABLE!"
                         << "first\rsecond" << int(QMessageBox::Yes) << A::Yes << "UPDATE AVAILABLE!"
                         << "first\nsecond" << int(QMessageBox::NoIcon) << yesNo;
    QTest::newRow("escape on yes/no") << B::YesNo << I::None << "Q"
                                      << "t" << 0 << A::No << "Q"
                                      << "t" << int(QMessageBox::NoIcon) << yesNo;
    QTest::newRow("cancel") << B::OkCancel << I::Exclamation << "Download Update"
                            << "t" << int(QMessageBox::Cancel) << A::Cancel << "Download Update"
                            << "t" << int(QMessageBox::Warning) << okCancel;
    QTest::newRow("escape on ok/cancel") << B::OkCancel << I::None << "T"
                                         << "t" << 0 << A::Cancel << "T"
                                         << "t" << int(QMessageBox::NoIcon) << okCancel;
    QTest::newRow("critical") << B::Ok << I::Critical << "Failure"
                              << "t" << ok << A::Ok << "Failure"
                              << "t" << int(QMessageBox::Critical) << ok;
    QTest::newRow("escape on a lone ok") << B::Ok << I::None << "T"
                                         << "<b>t</b>" << 0 << A::Ok << "T"
                                         << "<b>t</b>" << int(QMessageBox::NoIcon) << ok;
}

void TestQtPrompter::messageBoxes()
{
    QFETCH(Prompter::Buttons, buttons);
    QFETCH(Prompter::Icon, icon);
    QFETCH(QString, title);
    QFETCH(QString, text);
    QFETCH(int, press);
    QFETCH(Prompter::Answer, answer);

    QString shownTitle;
    QString shownText;
    int shownIcon = -1;
    int shownButtons = -1;
    Qt::TextFormat format = Qt::AutoText;
    whenShown<QMessageBox>([&](QMessageBox* box) {
        shownTitle = box->windowTitle();
        shownText = box->text();
        shownIcon = box->icon();
        shownButtons = int(box->standardButtons());
        format = box->textFormat();
        if (press)
            box->button(QMessageBox::StandardButton(press))->click();
        else
            QTest::keyClick(box, Qt::Key_Escape);
    });

    QtPrompter prompter;
    QCOMPARE(prompter.message(nullptr, text, title, buttons, icon), answer);
    QTEST(shownTitle, "shownTitle");
    QTEST(shownText, "shownText");
    QTEST(shownIcon, "shownIcon");
    QTEST(shownButtons, "shownButtons");
    // Texts come from replies and files; markup in them is shown, not obeyed.
    QCOMPARE(format, Qt::PlainText);
}

void TestQtPrompter::fileDialogShowsTheFilters()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("NotUploadedQsosLog.adi"));
    {
        QFile touch(file);
        QVERIFY(touch.open(QIODevice::WriteOnly));
    }

    QStringList filters;
    QString title;
    QString directory;
    whenShown<QFileDialog>([&](QFileDialog* dialog) {
        filters = dialog->nameFilters();
        title = dialog->windowTitle();
        directory = dialog->directory().absolutePath();
        dialog->selectFile(file);
        static_cast<QDialog*>(dialog)->accept(); // public in QDialog, protected in QFileDialog
    });

    QtPrompter prompter;
    const QString chosen = prompter.openFileName(nullptr, QStringLiteral("Select ADIF file"), dir.path(),
                                                 QStringLiteral("ADIF (*.adi) | *.adi|All files (*.*)|*.*"));
    QCOMPARE(filters, QStringList({"ADIF (*.adi)", "All files (*.*)"}));
    QCOMPARE(title, QStringLiteral("Select ADIF file"));
    QCOMPARE(directory, QDir(dir.path()).absolutePath());
    QCOMPARE(chosen, file);

    whenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    QVERIFY(prompter.openFileName(nullptr, QString(), dir.path(), QString()).isEmpty());
}

QTEST_MAIN(TestQtPrompter)
#include "tst_qtprompter.moc"
