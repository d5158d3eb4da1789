// The program's icon in the desktop's notification area: the spooler's state, a menu to start and stop it
// and to bring up the main window, and a double click for the menu's default item.
#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>

namespace velmora::ui {

class CSystemTray : public QObject {
    Q_OBJECT

  public:
    explicit CSystemTray(QObject* parent = nullptr);
    // Removes the icon.
    ~CSystemTray() override;
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // Adds the icon with its tooltip and menu; the menu's commands reach the target window. False, and
    // nothing is created, where the desktop has no notification area.
    bool Create(QWidget* target, QMenu* menu, const QString& tooltip, const QIcon& icon,
                bool notificationAreaAvailable);
    // False, changing nothing, when the icon is not shown.
    bool SetIcon(const QIcon& icon);
    // Icon 131 (spooler running) or 132 (stopped).
    bool SetIconByResource(int iconId);
    void RemoveIcon();
    // The item of a double click, shown in bold: a position in the menu or a command id.
    bool SetMenuDefaultItem(int item, bool byPosition);
    // A mouse action on the icon; 1 when handled.
    int OnTrayNotification(QSystemTrayIcon::ActivationReason reason);

    bool IsEnabled() const { return Enabled; }
    // The icon resource shown (131 or 132), 0 before the first.
    int IconResource() const { return CurrentIconResource; }
    QMenu* Menu() const { return TrayMenu; }
    QSystemTrayIcon* Icon() const { return NotificationIcon; }
    QString ToolTip() const;

  private:
    // The menu's default action as stored, or null.
    QAction* DefaultAction() const;

    bool Enabled = false;
    int CurrentIconResource = 0;
    int DefaultMenuItem = 0;
    bool DefaultByPosition = true;
    QSystemTrayIcon* NotificationIcon = nullptr;
    QPointer<QMenu> TrayMenu;
    QPointer<QWidget> Target;
};

}  // namespace velmora::ui
