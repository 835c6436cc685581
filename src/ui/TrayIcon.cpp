#include "ui/TrayIcon.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

const QString NotificationService = QStringLiteral("org.freedesktop.Notifications");

} // namespace

TrayIcon::TrayIcon(const QIcon& appIcon, QObject* parent)
    : QObject(parent), m_appIcon(appIcon), m_icon(new QSystemTrayIcon(this))
{
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
            emit activated();
    });
    // Kept running in the tray, the window is reached and Tarvex ended from here.
    auto* menu = new QMenu;
    menu->addAction(tr("&Show"), this, &TrayIcon::activated);
    menu->addAction(tr("&Quit"), this, &TrayIcon::quitRequested);
    connect(this, &QObject::destroyed, menu, &QObject::deleteLater);
    m_icon->setContextMenu(menu);
}

QColor TrayIcon::badgeColour(StatusModel::Health health)
{
    switch (health) {
    case StatusModel::Health::Fine:
        return QColor(46, 160, 67);
    case StatusModel::Health::Waiting:
        return QColor(230, 160, 0);
    case StatusModel::Health::Errors:
        return QColor(208, 32, 32);
    case StatusModel::Health::NotListening:
        return QColor(128, 128, 128);
    }
    return {};
}

QIcon TrayIcon::iconFor(const QIcon& appIcon, StatusModel::Health health)
{
    QIcon icon;
    for (const int size : {16, 22, 32, 48, 64}) {
        QPixmap pixmap = appIcon.pixmap(size, size);
        if (pixmap.isNull()) {
            pixmap = QPixmap(size, size);
            pixmap.fill(Qt::transparent);
        }
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const int badge = size / 2;
        const QRect corner(size - badge, size - badge, badge, badge);
        painter.setPen(QPen(Qt::white, std::max(1, size / 16)));
        painter.setBrush(badgeColour(health));
        painter.drawEllipse(corner.adjusted(1, 1, -1, -1));
        if (health == StatusModel::Health::NotListening) {
            // Grey alone does not say "off" to everyone: a bar across it does.
            painter.drawLine(corner.topLeft() + QPoint(badge / 4, badge / 2),
                             corner.topRight() + QPoint(-badge / 4, badge / 2));
        }
        icon.addPixmap(pixmap);
    }
    return icon;
}

void TrayIcon::show(StatusModel::Health health, const QString& toolTip)
{
    // Only what changed: each new icon is drawn and handed to the desktop.
    if (!m_icon->isVisible() || health != m_health)
        m_icon->setIcon(iconFor(m_appIcon, health));
    m_health = health;
    if (toolTip != m_icon->toolTip())
        m_icon->setToolTip(toolTip);
    m_icon->show();
}

void TrayIcon::showMessage(const QString& title, const QString& text)
{
    m_icon->showMessage(title, text, QSystemTrayIcon::Information);
}

DesktopNotifier::DesktopNotifier(TrayIcon* tray, QObject* parent) : QObject(parent), m_tray(tray)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(NotificationService))
        m_route = Route::NotificationService;
    else if (m_tray)
        m_route = Route::Tray;
}

void DesktopNotifier::notify(const QString& title, const QString& text)
{
    switch (m_route) {
    case Route::NotificationService: {
        QDBusMessage call = QDBusMessage::createMethodCall(NotificationService,
                                                           QStringLiteral("/org/freedesktop/Notifications"),
                                                           NotificationService, QStringLiteral("Notify"));
        call << QStringLiteral("Tarvex") << 0u << QStringLiteral("tarvex") << title << text << QStringList()
             << QVariantMap() << -1;
        // Never waits for an answer: a slow notification daemon must not stall the window.
        QDBusConnection::sessionBus().send(call);
        break;
    }
    case Route::Tray:
        m_tray->showMessage(title, text);
        break;
    case Route::None:
        break;
    }
}
