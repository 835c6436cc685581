#include "BuildInfo.h"
#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "ui/About.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Answer = Prompter::Answer;

namespace {

QString colourName(const QLabel* label)
{
    const QColor colour = label->palette().color(QPalette::WindowText);
    return colour == QColor(255, 0, 0) ? "red" : colour == QColor(0, 0, 255) ? "blue" : colour.name();
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void textsAndMailLink();
    void linkColoursFollowThePointer_data();
    void linkColoursFollowThePointer();
    void updateCheckAnswers_data();
    void updateCheckAnswers();

private:
    void open(const QUrl& updateBase = {});

    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<About> m_about;
};

void TestAbout::init()
{
    m_about.reset();
    m_prompter = std::make_unique<ScriptedPrompter>();
}

void TestAbout::open(const QUrl& updateBase)
{
    m_about =
        std::make_unique<About>(*m_prompter, QStringLiteral("/home/op/.local/share/Tarvex"), updateBase);
    m_about->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_about.get()));
}

void TestAbout::textsAndMailLink()
{
    open();
    const QString call = QString::fromUtf8(BuildInfo::AuthorCall);
    QCOMPARE(m_about->Label1->text(),
             "Tarvex ver. " TARVEX_VERSION "\nBy: " + QString::fromUtf8(BuildInfo::AuthorName) + ' ' + call);
    QCOMPARE(m_about->Label3->toolTip(), "Send Email to " + call);
    QCOMPARE(m_about->Label5->toolTip(), QStringLiteral("Check for latest Update Here"));

    QTest::mouseClick(m_about->Label3, Qt::LeftButton);
    QCOMPARE(m_prompter->openedUrls, QList<QUrl>{QUrl("mailto:" + QString::fromUtf8(BuildInfo::AuthorMail))});
}

void TestAbout::linkColoursFollowThePointer_data()
{
    QTest::addColumn<QStringList>("moves"); // label names, "background" or "leave" the window
    QTest::addColumn<QString>("colours");   // of Send Email and Click Here

    QTest::newRow("over Send Email") << QStringList{"Label3"} << "red blue";
    QTest::newRow("over Click Here") << QStringList{"Label5"} << "blue red";
    QTest::newRow("back to the background") << QStringList{"Label3", "Label5", "background"} << "blue blue";
    QTest::newRow("onto a plain label") << QStringList{"Label3", "Label2"} << "red blue";
    QTest::newRow("out of the window from a link") << QStringList{"Label3", "leave"} << "red blue";
}

void TestAbout::linkColoursFollowThePointer()
{
    QFETCH(QStringList, moves);
    open();
    for (const QString& where : moves) {
        if (where == "leave") { // from Send Email, as the window system tells it
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(m_about->Label3, &leave);
            QApplication::sendEvent(m_about.get(), &leave);
        } else {
            const QLabel* label = m_about->findChild<QLabel*>(where);
            QTest::mouseMove(m_about.get(), label ? label->geometry().center() : QPoint(1, 1));
        }
    }
    QTEST(colourName(m_about->Label3) + ' ' + colourName(m_about->Label5), "colours");
}

void TestAbout::updateCheckAnswers_data()
{
    QTest::addColumn<int>("status"); // 0: the host never answers
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QList<Answer>>("choices");
    QTest::addColumn<QStringList>("boxes"); // by title, or text when untitled
    QTest::addColumn<bool>("opensArchive");

    const QStringList offer{"UPDATE AVAILABLE!"};
    const QStringList download{"UPDATE AVAILABLE!", "Download Update"};
    const QStringList none{"There is no Update available!"};
    const QList<Answer> noChoice;
    QTest::newRow("newer, Yes, OK") << 200 << QByteArray("999.0.0") << QList{Answer::Yes, Answer::Ok}
                                    << download << true;
    QTest::newRow("newer, No") << 200 << QByteArray("999.0.0") << QList{Answer::No} << offer << false;
    QTest::newRow("newer, Yes, Cancel")
        << 200 << QByteArray("999.0.0") << QList{Answer::Yes, Answer::Cancel} << download << false;
    // Equal as numbers, though not as text.
    QTest::newRow("same") << 200 << QByteArray(TARVEX_VERSION ".0\r\n") << noChoice << none << false;
    QTest::newRow("older") << 200 << QByteArray("0.9.9") << noChoice << none << false;
    QTest::newRow("HTML page") << 200 << QByteArray("<html>999.0.0</html>") << noChoice << QStringList()
                               << false;
    QTest::newRow("not found") << 404 << QByteArray("999.0.0") << noChoice << QStringList() << false;
    QTest::newRow("time-out") << 0 << QByteArray("999.0.0") << noChoice << QStringList() << false;
}

void TestAbout::updateCheckAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QList<Answer>, choices);
    QFETCH(bool, opensArchive);

    FakeCorvane host;
    QVERIFY(host.listen());
    host.setReply("/dl/files/TarvexVer.txt",
                  {status, body, 20ms, status ? FakeCorvane::Fault::None : FakeCorvane::Fault::NeverAnswer});
    const QUrl base(host.baseUrl().toString() + "/dl");
    open(base);
    m_about->setUpdateCheckTimeout(200ms);
    m_prompter->answers.append(choices);

    QTest::mouseClick(m_about->Label5, Qt::LeftButton);
    QVERIFY(m_about->isCheckingForUpdate()); // the window goes on while the host is asked
    QVERIFY(m_prompter->messages.isEmpty());
    QTRY_VERIFY(!m_about->isCheckingForUpdate());

    QStringList boxes;
    for (const ScriptedPrompter::Message& box : std::as_const(m_prompter->messages))
        boxes << (box.title.isEmpty() ? box.text : box.title);
    QTEST(boxes, "boxes");
    QCOMPARE(m_prompter->openedUrls,
             opensArchive ? QList<QUrl>{QUrl(base.toString() + "/files/TarvexUpdate.zip")} : QList<QUrl>());
    QCOMPARE(host.requests().size(), 1);
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
