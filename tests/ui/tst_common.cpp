#include "ui/Common.h"

#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <map>
#include <memory>

namespace {

// Counts what reaches the window itself, after any filter.
class RecordingWindow final : public QWidget
{
public:
    std::map<QEvent::Type, int> received;

protected:
    bool event(QEvent* event) override
    {
        ++received[event->type()];
        return QWidget::event(event);
    }
};

void press(QWidget* window, QEvent::Type type, Qt::MouseButton button)
{
    // A title bar lies above the client area, hence the negative y.
    const QPointF local(20, -10);
    QMouseEvent event(type, local, window->mapToGlobal(local), button, button, Qt::NoModifier);
    QApplication::sendEvent(window, &event);
}

void pressTitleBar(QWidget* window)
{
    press(window, QEvent::NonClientAreaMouseButtonPress, Qt::LeftButton);
}

} // namespace

class TestCommon : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void onlyALeftPressOnTheTitleBarCounts_data();
    void onlyALeftPressOnTheTitleBarCounts();
    void unhookedWindowRunsNothing();
    void aNewHookReplacesTheOld();
    void hookGoesWithTheWindow();
    void callbackMayUnhook();
};

void TestCommon::cleanup()
{
    Common::UnhookWindow();
}

void TestCommon::onlyALeftPressOnTheTitleBarCounts_data()
{
    QTest::addColumn<QEvent::Type>("type");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<int>("calls");

    QTest::newRow("left press on the title bar")
        << QEvent::NonClientAreaMouseButtonPress << Qt::LeftButton << 1;
    QTest::newRow("right press on the title bar")
        << QEvent::NonClientAreaMouseButtonPress << Qt::RightButton << 0;
    QTest::newRow("middle press on the title bar")
        << QEvent::NonClientAreaMouseButtonPress << Qt::MiddleButton << 0;
    QTest::newRow("left release on the title bar")
        << QEvent::NonClientAreaMouseButtonRelease << Qt::LeftButton << 0;
    QTest::newRow("double click on the title bar")
        << QEvent::NonClientAreaMouseButtonDblClick << Qt::LeftButton << 0;
    QTest::newRow("left press in the client area") << QEvent::MouseButtonPress << Qt::LeftButton << 0;
}

void TestCommon::onlyALeftPressOnTheTitleBarCounts()
{
    QFETCH(QEvent::Type, type);
    QFETCH(Qt::MouseButton, button);
    QFETCH(int, calls);

    RecordingWindow window;
    int called = 0;
    Common::HookWindow(&window, [&called] { ++called; });

    press(&window, type, button);
    QCOMPARE(called, calls);
    // Whatever the hook did, the window still handles the press itself (a drag starts there).
    QCOMPARE(window.received[type], 1);
}

void TestCommon::unhookedWindowRunsNothing()
{
    RecordingWindow window;
    int called = 0;
    Common::HookWindow(&window, [&called] { ++called; });
    pressTitleBar(&window);
    Common::UnhookWindow();
    pressTitleBar(&window);

    QCOMPARE(called, 1);
    QCOMPARE(window.received[QEvent::NonClientAreaMouseButtonPress], 2);
    Common::UnhookWindow();
}

void TestCommon::aNewHookReplacesTheOld()
{
    RecordingWindow first;
    RecordingWindow second;
    int firstCalls = 0;
    int secondCalls = 0;
    Common::HookWindow(&first, [&firstCalls] { ++firstCalls; });
    Common::HookWindow(&second, [&secondCalls] { ++secondCalls; });

    pressTitleBar(&first);
    pressTitleBar(&second);
    QCOMPARE(firstCalls, 0);
    QCOMPARE(secondCalls, 1);
}

void TestCommon::hookGoesWithTheWindow()
{
    int called = 0;
    auto window = std::make_unique<RecordingWindow>();
    Common::HookWindow(window.get(), [&called] { ++called; });
    window.reset();
    Common::UnhookWindow();

    RecordingWindow next;
    Common::HookWindow(&next, [&called] { ++called; });
    pressTitleBar(&next);
    QCOMPARE(called, 1);
}

void TestCommon::callbackMayUnhook()
{
    RecordingWindow window;
    int called = 0;
    Common::HookWindow(&window, [&called] {
        ++called;
        Common::UnhookWindow();
    });
    pressTitleBar(&window);
    pressTitleBar(&window);
    QCOMPARE(called, 1);
    QCOMPARE(window.received[QEvent::NonClientAreaMouseButtonPress], 2);
}

QTEST_MAIN(TestCommon)
#include "tst_common.moc"
