// The main window of the desktop program: menus, toolbar and status bar around the job list view, and the
// tray icon.
#pragma once

#include <QMainWindow>
#include <QTimer>

#include <vector>

#include "ui/system_tray.h"

class QAction;
class QLabel;
class QMenu;
class QToolBar;

namespace velmora {
class CVelmoraVirtualPrinterApp;
}

namespace velmora::ui {

class CVelmoraVirtualPrinterView;

class CMainFrame : public QMainWindow {
    Q_OBJECT

  public:
    // trayAvailable: the desktop has a notification area. Without one the tray icon cannot bring the window
    // back, so the window minimises as any other instead of hiding.
    CMainFrame(CVelmoraVirtualPrinterApp& app, bool trayAvailable, QWidget* parent = nullptr);

    CVelmoraVirtualPrinterView* View() const { return JobListView; }
    CSystemTray& Tray() { return SystemTray; }
    QToolBar* ToolBar() const { return MainToolBar; }
    QMenu* TrayMenu() const { return TrayIconMenu; }

    // Whether a command may be chosen now, and running it as if chosen (nothing when it may not).
    bool IsCommandEnabled(int command) const;
    void OnCommand(int command);
    // Brings every menu item and toolbar button of a command in line with IsCommandEnabled.
    void UpdateCommandUi();

    // The spooler started or stopped: the tray icon (131 running, 132 stopped) and the commands follow.
    void SetSpoolerIcon(int iconId);
    // Minimising hides the window, which the tray icon brings back; only where there is a tray icon.
    bool HidesWhenMinimized() const;
    // The "Interface" command: the window shown maximised and brought to the front.
    void ShowInterface();

  protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    QAction* AddCommand(QWidget* menu, int command, uint32_t text);
    void CreateMenus();
    void CreateToolBar();
    void CreateStatusBar();
    void CreateTrayIcon(bool trayAvailable);
    void UpdateIndicators();

    CVelmoraVirtualPrinterApp& App;
    CVelmoraVirtualPrinterView* JobListView = nullptr;
    QToolBar* MainToolBar = nullptr;
    QMenu* TrayIconMenu = nullptr;
    QLabel* Indicators[3] = {};
    QString IndicatorTexts[3];
    QTimer IndicatorTimer;
    // Every menu item and button that carries a command (its id in the action's data).
    std::vector<QAction*> Commands;
    // Last, so that it goes first: the icon leaves the notification area before the window's menus go.
    CSystemTray SystemTray;
};

}  // namespace velmora::ui
