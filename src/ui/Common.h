#pragma once

#include <QObject>

#include <functional>

class QWidget;

// Watches the main window for a left-button press on its title bar, tells the
// owner, and lets the press go on unchanged so the window still drags.
class MainWindowProc final : public QObject
{
    Q_OBJECT

public:
    explicit MainWindowProc(std::function<void()> onTitleBarPress, QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> m_onTitleBarPress;
};

// One hook for the process, as there is one main window.
namespace Common {

// Replaces any earlier hook. The hook goes away by itself with the window.
void HookWindow(QWidget* mainWindow, std::function<void()> onTitleBarPress);
void UnhookWindow();

} // namespace Common
