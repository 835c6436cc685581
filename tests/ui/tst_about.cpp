#include "BuildInfo.h"
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

private:
    QLabel* label(const QString& name) const { return m_about->findChild<QLabel*>(name); }
    void moveOver(const QString& where);
    void send(QWidget* target, QEvent::Type type, QPoint local, Qt::MouseButton button);

    std::unique_ptr<ScriptedPrompter> m_prompter;
    std::unique_ptr<About> m_about;
    QWidget* m_underPointer = nullptr;
};

namespace {

const QString DataFolder = QStringLiteral("/home/op/.local/share/Tarvex");

QString colourName(const QLabel* label)
{
    return label->palette().color(QPalette::WindowText) == QColor(255, 0, 0)   ? QStringLiteral("red")
           : label->palette().color(QPalette::WindowText) == QColor(0, 0, 255) ? QStringLiteral("blue")
                                                                               : QStringLiteral("other");
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

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
