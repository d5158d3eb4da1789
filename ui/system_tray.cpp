#include "ui/system_tray.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

#include "ui/icons.h"

namespace velmora::ui {

CSystemTray::CSystemTray(QObject* parent) : QObject(parent) {}

CSystemTray::~CSystemTray() {
    RemoveIcon();
}

bool CSystemTray::Create(QWidget* target, QMenu* menu, const QString& tooltip, const QIcon& icon,
                         bool notificationAreaAvailable) {
    if (NotificationIcon)
        return false;
    Target = target;
    TrayMenu = menu;
    if (!notificationAreaAvailable)
        return false;
    NotificationIcon = new QSystemTrayIcon(icon, this);
    NotificationIcon->setObjectName(QStringLiteral("TrayIcon"));
    // The notification area shows tooltips of up to 127 characters.
    NotificationIcon->setToolTip(tooltip.left(127));
    NotificationIcon->setContextMenu(menu);
    connect(NotificationIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { OnTrayNotification(reason); });
    NotificationIcon->show();
    Enabled = true;
    return true;
}

bool CSystemTray::SetIcon(const QIcon& icon) {
    if (!Enabled)
        return false;
    NotificationIcon->setIcon(icon);
    return true;
}

bool CSystemTray::SetIconByResource(int iconId) {
    const QIcon icon = TrayIcon(iconId);
    if (icon.isNull() || !SetIcon(icon))
        return false;
    CurrentIconResource = iconId;
    return true;
}

void CSystemTray::RemoveIcon() {
    if (!Enabled)
        return;
    NotificationIcon->hide();
    NotificationIcon->setContextMenu(nullptr);
    delete NotificationIcon;
    NotificationIcon = nullptr;
    Enabled = false;
}

QString CSystemTray::ToolTip() const {
    return NotificationIcon ? NotificationIcon->toolTip() : QString();
}

QAction* CSystemTray::DefaultAction() const {
    if (!TrayMenu)
        return nullptr;
    const QList<QAction*> actions = TrayMenu->actions();
    if (DefaultByPosition) {
        if (DefaultMenuItem < 0 || DefaultMenuItem >= actions.size() ||
            actions[DefaultMenuItem]->isSeparator())
            return nullptr;
        return actions[DefaultMenuItem];
    }
    for (QAction* action : actions) {
        if (!action->isSeparator() && action->data().toInt() == DefaultMenuItem)
            return action;
    }
    return nullptr;
}

bool CSystemTray::SetMenuDefaultItem(int item, bool byPosition) {
    if (item == DefaultMenuItem && byPosition == DefaultByPosition)
        return true;
    DefaultMenuItem = item;
    DefaultByPosition = byPosition;
    QAction* action = DefaultAction();
    if (!action)
        return false;
    // The menu draws its default item in bold.
    TrayMenu->setDefaultAction(action);
    return true;
}

int CSystemTray::OnTrayNotification(QSystemTrayIcon::ActivationReason reason) {
    if (!Enabled || !TrayMenu)
        return 0;
    if (reason == QSystemTrayIcon::DoubleClick) {
        if (Target) {
            Target->raise();
            Target->activateWindow();
        }
        // The default command arrives as if chosen from the menu, once this notification has returned.
        if (QAction* action = DefaultAction())
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
    // The menu of a right click is shown by the icon itself, its items made current as it opens.
    return 1;
}

}  // namespace velmora::ui
