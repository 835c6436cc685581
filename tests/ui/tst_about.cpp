#include "BuildInfo.h"
#include "FakeCorvane.h"
#include "ScriptedPrompter.h"
#include "ui/About.h"

#include <QDir>
#include <QLabel>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <memory>

class TestAbout : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void textsAreSetAtLoad_data();
    void textsAreSetAtLoad();
    void linksLookLikeLinks();
    void linkColoursFollowThePointer_data();
    void linkColoursFollowThePointer();
    void clicksOnTheLinks_data();
    void clicksOnTheLinks();
    void updateCheckAnswers_data();
    void updateCheckAnswers();
    void closingDuringACheckShowsNothing();

private:
    QLabel* label(const QString& name) const { return m_about->findChild<QLabel*>(name); }
    void moveOver(const QString& where);
    void click(QLabel* link);
    void send(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button);

    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<About> m_about;
    QWidget* m_underPointer = nullptr;
};

using namespace std::chrono_literals;
using Answer = Prompter::Answer;
using Fault = FakeCorvane::Fault;

namespace {

const QString DataFolder = QStringLiteral("/home/op/.local/share/Tarvex");

QString colourName(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText) == QColor(255, 0, 0)   ? QStringLiteral("red")
           : label->palette().color(QPalette::WindowText) == QColor(0, 0, 255) ? QStringLiteral("blue")
                                                                               : QStringLiteral("other");
}

QString versionText(int major, int minor, int revision)
{
    return QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(revision);
}

// The boxes of an update check by what they say, so that rows can name them.
QString boxName(const ScriptedPrompter::Message& box)
{
    if (box.text == QLatin1String("There is no Update available!") && box.title.isEmpty() &&
        box.buttons == Prompter::Buttons::Ok && box.icon == Prompter::Icon::None)
        return QStringLiteral("none available");
    if (box.text ==
            QLatin1String("     There is an UPDATE Available!\rWould you like to download the update now?") &&
        box.title == QLatin1String("UPDATE AVAILABLE!") && box.buttons == Prompter::Buttons::YesNo &&
        box.icon == Prompter::Icon::None)
        return QStringLiteral("available");
    if (box.text ==
            QLatin1String("After Downloading this Update you will need to close this\r application before "
                          "you unzip and install the new update!") &&
        box.title == QLatin1String("Download Update") && box.buttons == Prompter::Buttons::OkCancel &&
        box.icon == Prompter::Icon::Exclamation)
        return QStringLiteral("download");
    return QStringLiteral("unexpected: ") + box.title + QLatin1Char('/') + box.text;
}

} // namespace

void TestAbout::init()
{
    m_prompter = std::make_unique<ScriptedPrompter>();
    m_about = std::make_unique<About>(*m_prompter, DataFolder);
    m_about->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_about.get()));
    m_underPointer = nullptr;
}

void TestAbout::cleanup()
{
    m_about.reset();
    m_prompter.reset();
}

void TestAbout::send(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent event(type, local, target->mapToGlobal(local), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Delivers a move the way the window system does: to the widget under the pointer.
void TestAbout::moveOver(const QString& where)
{
    if (where == QLatin1String("leave")) {
        QEvent leave(QEvent::Leave);
        if (m_underPointer)
            QApplication::sendEvent(m_underPointer, &leave);
        QApplication::sendEvent(m_about.get(), &leave);
        m_underPointer = nullptr;
        return;
    }
    QPoint point(1, 1);
    if (where != QLatin1String("background"))
        point = label(where)->geometry().center();
    QWidget* target = m_about->childAt(point);
    QCOMPARE(target, where == QLatin1String("background") ? nullptr : label(where));
    if (!target)
        target = m_about.get();
    send(target, QEvent::MouseMove, target->mapFrom(m_about.get(), point), Qt::NoButton);
    m_underPointer = target;
}

void TestAbout::textsAreSetAtLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("toolTip");

    const QString author = QString::fromUtf8(BuildInfo::AuthorName);
    const QString call = QString::fromUtf8(BuildInfo::AuthorCall);
    const QString version = QStringLiteral("%1.%2.%3")
                                .arg(BuildInfo::VersionMajor)
                                .arg(BuildInfo::VersionMinor)
                                .arg(BuildInfo::VersionRevision);
    QTest::newRow("version and author")
        << "Label1"
        << "Tarvex ver. " + version + "\nBy: " + author + " " + call << QString();
    QTest::newRow("mail heading") << "Label2"
                                  << "Question,Bugs,Comments" << QString();
    QTest::newRow("mail link") << "Label3"
                               << "Send Email"
                               << "Send Email to " + call;
    QTest::newRow("update heading") << "Label4"
                                    << "Latest Updates" << QString();
    QTest::newRow("update link") << "Label5"
                                 << "Click Here"
                                 << "Check for latest Update Here";
}

void TestAbout::textsAreSetAtLoad()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QString, toolTip);

    QCOMPARE(m_about->windowTitle(), QStringLiteral("Tarvex"));
    QVERIFY(m_about->isWindow());
    QLabel* const found = label(name);
    QVERIFY2(found, qPrintable(name));
    QCOMPARE(found->text(), text);
    QCOMPARE(found->toolTip(), toolTip);
    QVERIFY(m_about->lblDataFolder->text().contains(QDir::toNativeSeparators(DataFolder)));
}

void TestAbout::linksLookLikeLinks()
{
    for (const QLabel* link : {m_about->Label3, m_about->Label5}) {
        QVERIFY(link->font().underline());
        QVERIFY(!link->font().bold());
        QCOMPARE(colourName(link), QStringLiteral("blue"));
    }
    for (const QLabel* plain : {m_about->Label1, m_about->Label2, m_about->Label4})
        QVERIFY(!plain->font().underline());
}

void TestAbout::linkColoursFollowThePointer_data()
{
    QTest::addColumn<QStringList>("moves");
    QTest::addColumn<QString>("mailLink");
    QTest::addColumn<QString>("updateLink");

    QTest::newRow("over the background") << QStringList{"background"} << "blue"
                                         << "blue";
    QTest::newRow("over Send Email") << QStringList{"Label3"} << "red"
                                     << "blue";
    QTest::newRow("over Click Here") << QStringList{"Label5"} << "blue"
                                     << "red";
    QTest::newRow("from one link to the other") << QStringList{"Label3", "Label5"} << "red"
                                                << "red";
    QTest::newRow("back to the background") << QStringList{"Label3", "Label5", "background"} << "blue"
                                            << "blue";
    QTest::newRow("onto a plain label") << QStringList{"Label3", "Label2"} << "red"
                                        << "blue";
    QTest::newRow("onto the version text") << QStringList{"Label5", "Label1"} << "blue"
                                           << "red";
    QTest::newRow("onto the folder line") << QStringList{"Label3", "lblDataFolder"} << "red"
                                          << "blue";
    QTest::newRow("out of the window from a link") << QStringList{"Label3", "leave"} << "red"
                                                   << "blue";
}

void TestAbout::linkColoursFollowThePointer()
{
    QFETCH(QStringList, moves);
    QFETCH(QString, mailLink);
    QFETCH(QString, updateLink);

    for (const QString& where : moves) {
        moveOver(where);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(colourName(m_about->Label3), mailLink);
    QCOMPARE(colourName(m_about->Label5), updateLink);
}

void TestAbout::clicksOnTheLinks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<bool>("releaseInside");
    QTest::addColumn<QStringList>("opened");
    QTest::addColumn<int>("updateChecks");

    const QString mail = QStringLiteral("mailto:") + QString::fromUtf8(BuildInfo::AuthorMail);
    QTest::newRow("Send Email") << "Label3" << Qt::LeftButton << true << QStringList{mail} << 0;
    QTest::newRow("Click Here") << "Label5" << Qt::LeftButton << true << QStringList() << 1;
    QTest::newRow("right click on Send Email") << "Label3" << Qt::RightButton << true << QStringList() << 0;
    QTest::newRow("right click on Click Here") << "Label5" << Qt::RightButton << true << QStringList() << 0;
    QTest::newRow("Send Email, released elsewhere")
        << "Label3" << Qt::LeftButton << false << QStringList() << 0;
    QTest::newRow("Click Here, released elsewhere")
        << "Label5" << Qt::LeftButton << false << QStringList() << 0;
    QTest::newRow("a heading") << "Label4" << Qt::LeftButton << true << QStringList() << 0;
}

void TestAbout::clicksOnTheLinks()
{
    QFETCH(QString, name);
    QFETCH(Qt::MouseButton, button);
    QFETCH(bool, releaseInside);
    QFETCH(QStringList, opened);
    QFETCH(int, updateChecks);

    QSignalSpy checks(m_about.get(), &About::updateCheckRequested);
    QLabel* const target = label(name);
    const QPoint inside = target->rect().center();
    send(target, QEvent::MouseButtonPress, inside, button);
    // The press grabs the pointer, so the release goes to the same label wherever it happens.
    send(target, QEvent::MouseButtonRelease, releaseInside ? inside : QPoint(-20, target->height() + 20),
         button);

    QStringList urls;
    for (const QUrl& url : m_prompter->openedUrls)
        urls << url.toString();
    QCOMPARE(urls, opened);
    QCOMPARE(checks.count(), updateChecks);
    QVERIFY(m_prompter->messages.isEmpty());
}

void TestAbout::click(QLabel* link)
{
    const QPoint inside = link->rect().center();
    send(link, QEvent::MouseButtonPress, inside, Qt::LeftButton);
    send(link, QEvent::MouseButtonRelease, inside, Qt::LeftButton);
}

void TestAbout::updateCheckAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("fault");
    QTest::addColumn<QList<Answer>>("answers");
    QTest::addColumn<QStringList>("boxes");
    QTest::addColumn<bool>("opensArchive");

    using namespace BuildInfo;
    const QByteArray running = versionText(VersionMajor, VersionMinor, VersionRevision).toLatin1();
    const QByteArray newer = versionText(VersionMajor, VersionMinor, VersionRevision + 1).toLatin1();
    const QByteArray older = versionText(VersionMajor - 1, 99, 99).toLatin1();
    const auto none = static_cast<int>(Fault::None);

    QTest::newRow("newer, Yes, OK") << 200 << newer << none << QList<Answer>{Answer::Yes, Answer::Ok}
                                    << QStringList{"available", "download"} << true;
    QTest::newRow("newer, No") << 200 << newer << none << QList<Answer>{Answer::No}
                               << QStringList{"available"} << false;
    QTest::newRow("newer, Yes, Cancel") << 200 << newer << none << QList<Answer>{Answer::Yes, Answer::Cancel}
                                        << QStringList{"available", "download"} << false;
    QTest::newRow("same") << 200 << running << none << QList<Answer>() << QStringList{"none available"}
                          << false;
    QTest::newRow("same with CR LF") << 200 << running + "\r\n"
                                     << none << QList<Answer>() << QStringList{"none available"} << false;
    QTest::newRow("older") << 200 << older << none << QList<Answer>() << QStringList{"none available"}
                           << false;
    QTest::newRow("HTML error page") << 200 << QByteArray("<html><body>Oops</body></html>") << none
                                     << QList<Answer>() << QStringList() << false;
    QTest::newRow("not found") << 404 << newer << none << QList<Answer>() << QStringList() << false;
    QTest::newRow("no answer") << 200 << newer << static_cast<int>(Fault::NeverAnswer) << QList<Answer>()
                               << QStringList() << false;
}

void TestAbout::updateCheckAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, fault);
    QFETCH(QList<Answer>, answers);
    QFETCH(QStringList, boxes);
    QFETCH(bool, opensArchive);

    FakeCorvane host;
    QVERIFY(host.listen());
    host.setReply(QStringLiteral("/dl/files/TarvexVer.txt"), {status, body, 20ms, static_cast<Fault>(fault)});
    const QUrl base(host.baseUrl().toString() + QStringLiteral("/dl"));
    m_about = std::make_unique<About>(*m_prompter, DataFolder, base);
    m_about->setUpdateCheckTimeout(200ms);
    for (Answer answer : answers)
        m_prompter->answers.enqueue(answer);

    click(m_about->Label5);
    // The window goes on while the host is asked.
    QVERIFY(m_about->isCheckingForUpdate());
    QVERIFY(m_prompter->messages.isEmpty());
    QTRY_VERIFY(!m_about->isCheckingForUpdate());

    QStringList shown;
    for (const ScriptedPrompter::Message& box : std::as_const(m_prompter->messages)) {
        shown << boxName(box);
        QCOMPARE(box.parent.data(), m_about.get());
    }
    QCOMPARE(shown, boxes);
    QCOMPARE(m_prompter->openedUrls,
             opensArchive ? QList<QUrl>{QUrl(base.toString() + QStringLiteral("/files/TarvexUpdate.zip"))}
                          : QList<QUrl>());
    QCOMPARE(host.requests().size(), 1);
}

void TestAbout::closingDuringACheckShowsNothing()
{
    FakeCorvane host;
    QVERIFY(host.listen());
    host.setReply(QStringLiteral("/files/TarvexVer.txt"), {200, "99.0.0", 50ms});
    m_about = std::make_unique<About>(*m_prompter, DataFolder, host.baseUrl());
    click(m_about->Label5);
    QTRY_COMPARE(host.requests().size(), 1);

    m_about.reset();
    // The answer arrives and nobody is left to show it.
    QTRY_COMPARE(host.openRequests(), 0);
    QCoreApplication::processEvents();
    QVERIFY(m_prompter->messages.isEmpty());
    QVERIFY(m_prompter->openedUrls.isEmpty());
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
