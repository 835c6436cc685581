#include "ui/Common.h"

#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

MainWindowProc::MainWindowProc(std::function<void()> onTitleBarPress, QWidget* window)
    : QObject(window), m_onTitleBarPress(std::move(onTitleBarPress))
{
}

bool MainWindowProc::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent() && event->type() == QEvent::NonClientAreaMouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton && m_onTitleBarPress) {
        m_onTitleBarPress();
    }
    return false;
}

namespace {

struct Hook
{
    QPointer<QWidget> window;
    QPointer<MainWindowProc> proc;
};

Hook& hook()
{
    static Hook state;
    return state;
}

} // namespace

namespace Common {

void HookWindow(QWidget* mainWindow, std::function<void()> onTitleBarPress)
{
    UnhookWindow();
    if (!mainWindow)
        return;
    // A child of the window, so destroying the window takes the hook with it.
    auto* proc = new MainWindowProc(std::move(onTitleBarPress), mainWindow);
    mainWindow->installEventFilter(proc);
    hook() = Hook{mainWindow, proc};
}

void UnhookWindow()
{
    Hook& state = hook();
    if (state.proc) {
        if (state.window)
            state.window->removeEventFilter(state.proc);
        // Later, not now: the unhook may come from inside the callback itself.
        state.proc->deleteLater();
    }
    state = Hook{};
}

} // namespace Common
