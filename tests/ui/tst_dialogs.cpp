#include "BuildInfo.h"
#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "TempDir.h"
#include "TestMain.h"
#include "ui/About.h"
#include "ui/Palette.h"
#include "ui/QtPrompter.h"
#include "upload/HttpClient.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Answer = Prompter::Answer;

namespace {

QString colourName(const QWidget* label)
{
    const QColor colour = label->palette().color(QPalette::WindowText);
    return colour == QColor(255, 0, 0) ? "red" : colour == QColor(0, 0, 255) ? "blue" : colour.name();
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void textsAndMailLink();
    void linkColoursFollowThePointer_data();
    void linkColoursFollowThePointer();
    void updateCheckAnswers_data();
    void updateCheckAnswers();
    void keyboardAndDarkThemes();
    void nameFilters_data();
    void nameFilters();
    void lineBreaks() { QCOMPARE(QtPrompter::messageText("a\rb\r\nc\nd"), QStringLiteral("a\nb\nc\nd")); }
    void coloursStayReadable();

private:
    void open(const QUrl& updateBase = {});
    QLabel* label(const char* name) const { return m_about->findChild<QLabel*>(name); }

    std::unique_ptr<TempDir> m_dir;
    std::unique_ptr<ScriptedPrompter> m_prompter;
    HttpClient m_http;
    std::unique_ptr<About> m_about;
};

void TestDialogs::init()
{
    m_about.reset();
    m_prompter = std::make_unique<ScriptedPrompter>();
}

void TestDialogs::open(const QUrl& updateBase)
{
    m_dir = std::make_unique<TempDir>();
    m_dir->write("Tarvex.ini", "[Settings]\r\nUpdateHost=" + updateBase.toString().toUtf8() + "\r\n");
    const Settings settings(m_dir->file("Tarvex.ini"), m_dir->file("DebugLog.txt"));
    m_about = std::make_unique<About>(*m_prompter, m_http, QStringLiteral("/home/op/.local/share/Tarvex"),
                                      settings);
    m_about->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_about.get()));
}

void TestDialogs::textsAndMailLink()
{
    open();
    const QString call = QString::fromUtf8(BuildInfo::AuthorCall);
    const std::pair<const char*, QString> texts[] = {
        {"Label1",
         "Tarvex ver. " TARVEX_VERSION "\nBy: " + QString::fromUtf8(BuildInfo::AuthorName) + ' ' + call},
        {"lblDataFolder", "Settings and logs: /home/op/.local/share/Tarvex"}};
    for (const auto& [name, text] : texts)
        QCOMPARE(label(name)->text(), text);
    QCOMPARE(label("Label3")->toolTip(), "Send Email to " + call);
    QCOMPARE(label("Label5")->toolTip(), QStringLiteral("Check for latest Update Here"));

    QTest::mouseClick(label("Label3"), Qt::LeftButton);
    QCOMPARE(m_prompter->openedUrls, QList<QUrl>{QUrl("mailto:" + QString::fromUtf8(BuildInfo::AuthorMail))});
}

void TestDialogs::linkColoursFollowThePointer_data()
{
    QTest::addColumn<QStringList>("moves"); // label names, "background" or "leave" the window
    QTest::addColumn<QString>("colours");   // of Send Email and Click Here

    QTest::newRow("over Send Email") << QStringList{"Label3"} << "red blue";
    QTest::newRow("over Click Here") << QStringList{"Label5"} << "blue red";
    QTest::newRow("back to the background") << QStringList{"Label3", "Label5", "background"} << "blue blue";
    QTest::newRow("onto a plain label") << QStringList{"Label3", "Label2"} << "red blue";
    QTest::newRow("out of the window from a link") << QStringList{"Label3", "leave"} << "red blue";
}

void TestDialogs::linkColoursFollowThePointer()
{
    QFETCH(QStringList, moves);
    open();
    for (const QString& where : moves) {
        if (where == "leave") { // from Send Email, as the window system tells it
            QEvent leave(QEvent::Leave);
            QApplication::sendEvent(label("Label3"), &leave);
            QApplication::sendEvent(m_about.get(), &leave);
        } else {
            const QLabel* target = m_about->findChild<QLabel*>(where);
            QTest::mouseMove(m_about.get(), target ? target->geometry().center() : QPoint(1, 1));
        }
    }
    QTEST(colourName(label("Label3")) + ' ' + colourName(label("Label5")), "colours");
}

void TestDialogs::updateCheckAnswers_data()
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
    // A check that ended without a word would look like "no update".
    QTest::newRow("time-out")
        << 0 << QByteArray("999.0.0") << noChoice
        << QStringList{"The check for a newer version failed: No answer from the update host "
                       "within 200 ms"}
        << false;
}

void TestDialogs::updateCheckAnswers()
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

    QTest::mouseClick(label("Label5"), Qt::LeftButton);
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

void TestDialogs::keyboardAndDarkThemes()
{
    open(QUrl("ftp://example.org"));
    label("Label5")->setFocus();
    QVERIFY(label("Label5")->hasFocus());
    QTest::keyClick(label("Label5"), Qt::Key_Return);
    // An unusable update host is said, and nothing is fetched.
    QCOMPARE(m_prompter->messages.size(), 1);
    QVERIFY(m_prompter->messages[0].text.startsWith("The UpdateHost setting \"ftp://example.org\""));
    QVERIFY(!m_about->isCheckingForUpdate());

    QPalette dark = m_about->palette();
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Link, QColor(120, 170, 255));
    m_about->setPalette(dark);
    QCOMPARE(colourName(label("Label3")), QColor(120, 170, 255).name());
    QTest::keyClick(m_about.get(), Qt::Key_Escape);
    QVERIFY(!m_about->isVisible());
}

void TestDialogs::nameFilters_data()
{
    QTest::addColumn<QString>("barSeparated");
    QTest::addColumn<QStringList>("filters");

    QTest::newRow("the browse dialog's") << "ADIF (*.adi *.adif) | *.adi;*.adif|All files (*)|*"
                                         << QStringList{"ADIF (*.adi *.adif)", "All files (*)"};
    // Qt filters on what the description shows, so it must show the real pattern.
    QTest::newRow("description showing other patterns")
        << "Logs (*.txt)|*.adi" << QStringList{"Logs (*.adi)"};
    QTest::newRow("no description") << "|*.adi" << QStringList{"*.adi"};
    QTest::newRow("description without a pattern")
        << "ADIF (*.adi)|*.adi|Other" << QStringList{"ADIF (*.adi)"};
}

void TestDialogs::nameFilters()
{
    QFETCH(QString, barSeparated);
    QTEST(QtPrompter::nameFilters(barSeparated), "filters");
}

void TestDialogs::coloursStayReadable()
{
    QCOMPARE(qRound(Palette::contrast(Qt::black, Qt::white)), 21);
    QCOMPARE(Palette::readable(QColor(0, 0, 255), Qt::white, {Qt::gray}), QColor(0, 0, 255));
    // The count's blue on a dark button face: 1.2 to 1, so the theme's own colour.
    QCOMPARE(Palette::readable(QColor(0, 0, 255), QColor(53, 53, 53), {QColor(42, 130, 218), Qt::white}),
             QColor(Qt::white));
}

TARVEX_TEST(TestDialogs)

#include "tst_dialogs.moc"
