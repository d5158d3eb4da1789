// The main window (menus, toolbar, status bar, tray icon) and the desktop program around it.
#include <gtest/gtest.h>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>

#include <atomic>

#include "resources/window_string_ids.h"
#include "ui/command_ids.h"
#include "ui/desktop_program.h"
#include "ui/icons.h"
#include "ui/main_frame.h"
#include "ui/ui_test_support.h"

namespace velmora {
namespace {

using ui::CMainFrame;

// The actions as "text command prompt" joined by "|", "-" for a separator.
std::string Shown(const QList<QAction*>& actions) {
    QStringList items;
    for (const QAction* a : actions) {
        items << (a->isSeparator()
                      ? QStringLiteral("-")
                      : QStringLiteral("%1 %2 %3").arg(a->text()).arg(a->data().toInt()).arg(a->statusTip()));
    }
    return items.join('|').toStdString();
}
// The enabled state of the actions, "+" or "." each, separators left out.
std::string Enabled(const QList<QAction*>& actions) {
    std::string enabled;
    for (const QAction* action : actions) {
        if (!action->isSeparator())
            enabled += action->isEnabled() ? '+' : '.';
    }
    return enabled;
}
QMenu* Menu(const CMainFrame& frame, int index) {
    return frame.menuBar()->actions().at(index)->menu();
}

class MainFrameTest : public test::UiFixture {
  protected:
    void TearDown() override {
        app_->Spooler.StopSpooler();
        app_->Spooler.JoinSpoolerThread();
        test::UiFixture::TearDown();
    }
};

TEST_F(MainFrameTest, MenusToolbarAndTrayCarryTheCommandsWhichFollowTheSpooler) {
    CMainFrame frame(*app_, true);
    ASSERT_EQ(frame.menuBar()->actions().size(), 3);
    EXPECT_EQ(Menu(frame, 0)->title() + Menu(frame, 1)->title() + Menu(frame, 2)->title(),
              "&ServerS&pooled file&Tools");
    EXPECT_EQ(
        Shown(Menu(frame, 0)->actions()),
        "Starting 32771 Start server|S&top 32782 Stop spooler|-|&Configuration 32783 Spooler configuration|-|"
        "Preferences 32786 Program preferences|-|&Exit 57665 Quit the application");
    EXPECT_EQ(
        Shown(Menu(frame, 1)->actions()),
        "&Release 32777 Release spooled file|&Stop 32778 Stop spooled file|-|&Delete 32779 Delete spooled "
        "file|-|&Transfer 32780 Change printer");
    EXPECT_EQ(
        Shown(Menu(frame, 2)->actions()),
        "&Send via LPR 32787 Send spooled file via LPR|&Copy to printer 32788 Copy spooled file to Windows "
        "printer");
    // Nothing is bound to "Starting"; with no job selected the job commands are off too.
    EXPECT_EQ(Enabled(Menu(frame, 0)->actions()), "..+++");
    EXPECT_EQ(Enabled(Menu(frame, 1)->actions()), "....");
    EXPECT_EQ(Enabled(Menu(frame, 2)->actions()), "++");
    EXPECT_EQ(Shown(frame.ToolBar()->actions()),
              "Start 32781 Start spooler|Stop 32782 Stop spooler|Configure 32783 Spooler configuration");
    EXPECT_EQ(frame.statusBar()->findChild<QLabel*>("IdleText")->text(), "Ready");
    // The commands follow the spooler, through the desktop program's seam.
    ui_.OnSetTrayIcon = [&frame](int iconId) { frame.SetSpoolerIcon(iconId); };
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_STOPPED);
    EXPECT_EQ(frame.Tray().ToolTip(), "Velmora Virtual Printer");
    QMenu* trayMenu = frame.TrayMenu();
    EXPECT_EQ(Shown(trayMenu->actions()),
              "&Start 32781 Start spooler|S&top 32782 Stop spooler|-|&Interface 32773 Show the main window");
    EXPECT_EQ(trayMenu->defaultAction(), trayMenu->actions()[3]);  // shown in bold
    EXPECT_EQ(frame.Tray().Icon()->contextMenu(), trayMenu);
    frame.ToolBar()->actions()[0]->trigger();
    EXPECT_TRUE(app_->Spooler.IsSpoolerRunning());
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_RUNNING);
    EXPECT_EQ(Enabled(frame.ToolBar()->actions()), ".+.");
    EXPECT_EQ(Enabled(trayMenu->actions()), ".++");
    EXPECT_EQ(Enabled(Menu(frame, 0)->actions()), ".+.++");
    // A disabled command does nothing, also when asked for directly.
    frame.OnCommand(ui::ID_SERVER_STARTING);
    frame.OnCommand(ui::ID_CONFIGURATION);
    trayMenu->actions()[1]->trigger();
    EXPECT_FALSE(app_->Spooler.IsSpoolerRunning());
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_STOPPED);
    EXPECT_EQ(Enabled(trayMenu->actions()), "+.+");
    ui_.OnSetTrayIcon = nullptr;
}

TEST_F(MainFrameTest, MinimisingHidesTheWindowAndTheTrayIconBringsItBackMaximised) {
    auto frame = std::make_unique<CMainFrame>(*app_, true);
    frame->show();
    frame->showMinimized();
    EXPECT_TRUE(WaitFor([&] { return !frame->isVisible(); }));
    // A double click on the icon runs the default item, "&Interface".
    EXPECT_EQ(frame->Tray().OnTrayNotification(QSystemTrayIcon::DoubleClick), 1);
    EXPECT_TRUE(WaitFor([&] { return frame->isVisible(); }));
    EXPECT_TRUE(frame->isMaximized());
    const QPointer<QSystemTrayIcon> icon = frame->Tray().Icon();
    EXPECT_TRUE(icon->isVisible());
    frame.reset();
    EXPECT_TRUE(icon.isNull());
}

TEST_F(MainFrameTest, TextsComeInTheThreadsLanguage) {
    SetThreadLanguage(Language::Japanese);
    CMainFrame frame(*app_, true);
    const auto text = [](uint32_t id) { return test::Q(LoadString(id)); };
    EXPECT_EQ(Menu(frame, 1)->title(), text(IDS_MENU_SPOOLED_FILE));
    EXPECT_EQ(Menu(frame, 0)->actions()[1]->statusTip(), text(IDS_CMD_SPOOLER_STOP).section('\n', 0, 0));
    EXPECT_EQ(frame.ToolBar()->actions()[2]->toolTip(), text(IDS_CMD_CONFIGURATION).section('\n', 1, 1));
    EXPECT_EQ(frame.Tray().ToolTip(), text(IDS_TRAY_TOOLTIP));
    AddJob("job.tmp", STATE_HELD);
    frame.View()->RefreshList(200);
    SelectRows(*frame.View(), {0});
    EXPECT_EQ(frame.View()->CreateContextMenu()->actions().front()->text(),
              QString::fromUtf8("保留解除(&R)"));
}

// The desktop program as start-up drives it, on the offscreen platform, which has no notification area.
class DesktopProgramTest : public test::AppFixture {
  protected:
    std::unique_ptr<CDesktopRole> Create() { return ui::CreateDesktopProgram(*app_, argc_, argv_); }
    int argc_ = 1;
    char name_[24] = "VelmoraVirtualPrinter";
    char* argv_[2] = {name_, nullptr};
};

TEST_F(DesktopProgramTest, TheServerRunsForTheLifeOfTheMainWindowWhichTheSeamsReach) {
    app_->Settings.PortLPD = 0;
    app_->LpdServer.LoopbackOnly = true;
    std::unique_ptr<CDesktopRole> desktop = Create();
    ASSERT_TRUE(desktop);
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    desktop->CreateInfoWindow();
    ASSERT_TRUE(desktop->CreateMainWindow());
    EXPECT_TRUE(app_->LpdServer.IsServerRunning());
    CMainFrame* frame = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        frame = frame ? frame : qobject_cast<CMainFrame*>(window);
    ASSERT_NE(frame, nullptr);
    // AutoHide would leave no way back without a tray icon: the window starts shown, and stays.
    desktop->SetMainWindowTitle(u"Velmora Virtual Printer autogenbuild_v7.1.0.35583");
    desktop->ShowMainWindow(true);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->windowTitle(), "Velmora Virtual Printer autogenbuild_v7.1.0.35583");
    frame->showMinimized();
    EXPECT_FALSE(test::UiFixture::WaitFor([&] { return !frame->isVisible(); }, 300));
    // The spooler's start and stop reach the window's commands.
    app_->Spooler.StartSpooler();
    EXPECT_FALSE(frame->ToolBar()->actions()[0]->isEnabled());
    app_->Spooler.StopSpooler();
    app_->Spooler.JoinSpoolerThread();
    EXPECT_TRUE(frame->ToolBar()->actions()[0]->isEnabled());
    // Jobs that a worker appends and announces reach the list.
    std::thread worker = test::AppendFromWorker(*app_, 200);
    EXPECT_TRUE(test::UiFixture::WaitFor([&] { return frame->View()->model()->rowCount() == 200; }));
    worker.join();
    desktop.reset();
    EXPECT_FALSE(app_->LpdServer.IsServerRunning());
    EXPECT_EQ(app_->Ui.InstalledInterface(), nullptr);
}

TEST_F(DesktopProgramTest, AMessageRaisedForAWorkerThreadNeverBlocksIt) {
    std::unique_ptr<CDesktopRole> desktop = Create();
    ASSERT_TRUE(desktop);
    // No message loop runs: a worker that waited for the box would never come back.
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        app_->ShowMessage(u"Unable to delete file", MessageIcon::Error);
        returned = true;
    });
    EXPECT_TRUE(test::WaitUntil([&] { return returned.load(); }));
    worker.join();
    // The box comes up from the message loop (answered at once here).
    test::SetEnvironment("VELMORA_ANSWER_MESSAGE_BOXES", "1");
    QCoreApplication::processEvents();
    test::UnsetEnvironment("VELMORA_ANSWER_MESSAGE_BOXES");
}

}  // namespace
}  // namespace velmora
