#pragma once

#include "status/StatusModel.h"

#include <QIcon>
#include <QObject>

class QSystemTrayIcon;

// The icon in the desktop's tray: its look says listening and fine,
// contacts waiting, errors, or not listening; its tool tip gives the counts.
class TrayIcon final : public QObject
{
    Q_OBJECT

public:
    TrayIcon(const QIcon& appIcon, QObject* parent = nullptr);

    void show(StatusModel::Health health, const QString& toolTip);
    void showMessage(const QString& title, const QString& text);

    // The application icon with a badge in the health's colour.
    static QIcon iconFor(const QIcon& appIcon, StatusModel::Health health);
    static QColor badgeColour(StatusModel::Health health);

signals:
    // A click on the icon, or Show in its menu.
    void activated();
    void quitRequested();

private:
    QIcon m_appIcon;
    QSystemTrayIcon* m_icon = nullptr;
    StatusModel::Health m_health = StatusModel::Health::Fine;
};

// Desktop notifications: through the freedesktop notification service where
// one runs, else as the tray icon's messages, else not at all.
class DesktopNotifier final : public QObject
{
    Q_OBJECT

public:
    enum class Route
    {
        NotificationService,
        Tray,
        None
    };

    explicit DesktopNotifier(TrayIcon* tray, QObject* parent = nullptr);

    Route route() const { return m_route; }
    void notify(const QString& title, const QString& text);

private:
    TrayIcon* m_tray;
    Route m_route = Route::None;
};
