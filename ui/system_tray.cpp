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
    if (icon_)
        return false;
    target_ = target;
    menu_ = menu;
    if (!notificationAreaAvailable)
        return false;
    icon_ = new QSystemTrayIcon(icon, this);
    icon_->setObjectName(QStringLiteral("TrayIcon"));
    // The notification area shows tooltips of up to 127 characters.
    icon_->setToolTip(tooltip.left(127));
    icon_->setContextMenu(menu);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { OnTrayNotification(reason); });
    icon_->show();
    enabled_ = true;
    return true;
}

bool CSystemTray::SetIcon(const QIcon& icon) {
    if (!enabled_)
        return false;
    icon_->setIcon(icon);
    return true;
}

bool CSystemTray::SetIconByResource(int iconId) {
    const QIcon icon = TrayIcon(iconId);
    if (icon.isNull() || !SetIcon(icon))
        return false;
    iconResource_ = iconId;
    return true;
}

void CSystemTray::RemoveIcon() {
    if (!enabled_)
        return;
    icon_->hide();
    icon_->setContextMenu(nullptr);
    delete icon_;
    icon_ = nullptr;
    enabled_ = false;
}

QString CSystemTray::ToolTip() const {
    return icon_ ? icon_->toolTip() : QString();
}

QAction* CSystemTray::DefaultAction() const {
    if (!menu_)
        return nullptr;
    const QList<QAction*> actions = menu_->actions();
    if (defaultByPosition_) {
        if (defaultMenuItem_ < 0 || defaultMenuItem_ >= actions.size() ||
            actions[defaultMenuItem_]->isSeparator())
            return nullptr;
        return actions[defaultMenuItem_];
    }
    for (QAction* action : actions) {
        if (!action->isSeparator() && action->data().toInt() == defaultMenuItem_)
            return action;
    }
    return nullptr;
}

bool CSystemTray::SetMenuDefaultItem(int item, bool byPosition) {
    if (item == defaultMenuItem_ && byPosition == defaultByPosition_)
        return true;
    defaultMenuItem_ = item;
    defaultByPosition_ = byPosition;
    QAction* action = DefaultAction();
    if (!action)
        return false;
    // The menu draws its default item in bold.
    menu_->setDefaultAction(action);
    return true;
}

int CSystemTray::OnTrayNotification(QSystemTrayIcon::ActivationReason reason) {
    if (!enabled_ || !menu_)
        return 0;
    if (reason == QSystemTrayIcon::DoubleClick) {
        if (target_) {
            target_->raise();
            target_->activateWindow();
        }
        // The default command arrives as if chosen from the menu, once this notification has returned.
        if (QAction* action = DefaultAction())
            QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
    }
    // The menu of a right click is shown by the icon itself, its items made current as it opens.
    return 1;
}

}  // namespace velmora::ui
