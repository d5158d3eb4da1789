// The main window: its menus, toolbar and status bar, the spooler commands and the tray icon, minimising
// into the tray and what happens on a desktop without one, and its texts in the three languages.
#include <gtest/gtest.h>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QToolBar>
#include <QToolButton>

#include <set>

#include "resources/window_string_ids.h"
#include "ui/command_ids.h"
#include "ui/desktop_program.h"
#include "ui/icons.h"
#include "ui/main_frame.h"
#include "ui_fixture.h"

namespace velmora {
namespace {

using ui::CMainFrame;

struct Item {
    std::string Text;  // "-" for a separator
    int Command;
    std::string Prompt;
};

std::vector<Item> Items(const QMenu* menu) {
    std::vector<Item> items;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            items.push_back({"-", 0, ""});
        else
            items.push_back(
                {action->text().toStdString(), action->data().toInt(), action->statusTip().toStdString()});
    }
    return items;
}

bool operator==(const Item& a, const Item& b) {
    return a.Text == b.Text && a.Command == b.Command && a.Prompt == b.Prompt;
}

void PrintTo(const Item& item, std::ostream* out) {
    *out << item.Text << " " << item.Command << " \"" << item.Prompt << "\"";
}

std::vector<QMenu*> MainMenus(const CMainFrame& frame) {
    std::vector<QMenu*> menus;
    for (QAction* action : frame.menuBar()->actions())
        menus.push_back(action->menu());
    return menus;
}

// The enabled state of every item of a menu, separators left out.
std::vector<bool> EnabledItems(const QMenu* menu) {
    std::vector<bool> enabled;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator())
            enabled.push_back(action->isEnabled());
    }
    return enabled;
}

QAction* ToolBarAction(const CMainFrame& frame, int command) {
    for (QAction* action : frame.ToolBar()->actions()) {
        if (action->data().toInt() == command)
            return action;
    }
    return nullptr;
}

class MainFrameTest : public test::UiFixture {
  protected:
    void TearDown() override {
        app_->Spooler.StopSpooler();
        app_->Spooler.JoinSpoolerThread();
        test::UiFixture::TearDown();
    }
};

TEST_F(MainFrameTest, MenusToolbarAndStatusBarCarryTheCommandsWithTheirPrompts) {
    CMainFrame frame(*app_, false);
    const std::vector<QMenu*> menus = MainMenus(frame);
    ASSERT_EQ(menus.size(), 3u);
    EXPECT_EQ(menus[0]->title(), "&Server");
    EXPECT_EQ(menus[1]->title(), "S&pooled file");
    EXPECT_EQ(menus[2]->title(), "&Tools");
    EXPECT_EQ(Items(menus[0]), (std::vector<Item>{{"Starting", 32771, "Start server"},
                                                  {"S&top", 32782, "Stop spooler"},
                                                  {"-", 0, ""},
                                                  {"&Configuration", 32783, "Spooler configuration"},
                                                  {"-", 0, ""},
                                                  {"Preferences", 32786, "Program preferences"},
                                                  {"-", 0, ""},
                                                  {"&Exit", ui::ID_APP_EXIT, "Quit the application"}}));
    EXPECT_EQ(Items(menus[1]), (std::vector<Item>{{"&Release", 32777, "Release spooled file"},
                                                  {"&Stop", 32778, "Stop spooled file"},
                                                  {"-", 0, ""},
                                                  {"&Delete", 32779, "Delete spooled file"},
                                                  {"-", 0, ""},
                                                  {"&Transfer", 32780, "Change printer"}}));
    EXPECT_EQ(Items(menus[2]),
              (std::vector<Item>{{"&Send via LPR", 32787, "Send spooled file via LPR"},
                                 {"&Copy to printer", 32788, "Copy spooled file to Windows printer"}}));
    // Nothing is bound to "Starting"; with no job selected the job commands are off too.
    EXPECT_EQ(EnabledItems(menus[0]), (std::vector<bool>{false, false, true, true, true}));
    EXPECT_EQ(EnabledItems(menus[1]), (std::vector<bool>{false, false, false, false}));
    EXPECT_EQ(EnabledItems(menus[2]), (std::vector<bool>{true, true}));

    QToolBar* toolBar = frame.ToolBar();
    ASSERT_EQ(toolBar->actions().size(), 3);
    const struct {
        int Command;
        const char* Text;
        const char* Prompt;
    } buttons[] = {{32781, "Start", "Start spooler"},
                   {32782, "Stop", "Stop spooler"},
                   {32783, "Configure", "Spooler configuration"}};
    for (int i = 0; i < 3; ++i) {
        const QAction* action = toolBar->actions()[i];
        EXPECT_EQ(action->data().toInt(), buttons[i].Command);
        EXPECT_EQ(action->text(), buttons[i].Text);
        EXPECT_EQ(action->toolTip(), buttons[i].Text);
        EXPECT_EQ(action->statusTip(), buttons[i].Prompt);
        // The hot image differs from the normal one.
        EXPECT_NE(action->icon().pixmap(QSize(40, 20), QIcon::Normal).toImage(),
                  action->icon().pixmap(QSize(40, 20), QIcon::Active).toImage());
    }
    EXPECT_EQ(toolBar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_EQ(toolBar->iconSize(), QSize(40, 20));
    EXPECT_TRUE(toolBar->isMovable());
    EXPECT_TRUE(toolBar->isFloatable());
    EXPECT_EQ(toolBar->allowedAreas(), Qt::AllToolBarAreas);
    EXPECT_EQ(frame.toolBarArea(toolBar), Qt::TopToolBarArea);

    const QLabel* idle = frame.statusBar()->findChild<QLabel*>("IdleText");
    ASSERT_NE(idle, nullptr);
    EXPECT_EQ(idle->text(), "Ready");
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(frame.statusBar()->findChild<QLabel*>(QStringLiteral("Indicator%1").arg(i)), nullptr) << i;
    EXPECT_EQ(frame.centralWidget(), frame.View());
}

TEST_F(MainFrameTest, SpoolerCommandsFollowTheSpoolerInMenusToolbarAndTray) {
    CMainFrame frame(*app_, true);
    // What the desktop program's seam does when the spooler starts or stops.
    ui_.OnSetTrayIcon = [&frame](int iconId) { frame.SetSpoolerIcon(iconId); };
    ASSERT_TRUE(frame.Tray().IsEnabled());
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_STOPPED);
    EXPECT_EQ(frame.Tray().ToolTip(), "Velmora Virtual Printer");

    QMenu* trayMenu = frame.TrayMenu();
    EXPECT_EQ(Items(trayMenu), (std::vector<Item>{{"&Start", 32781, "Start spooler"},
                                                  {"S&top", 32782, "Stop spooler"},
                                                  {"-", 0, ""},
                                                  {"&Interface", 32773, "Show the main window"}}));
    // "&Interface" is the default item, shown in bold.
    ASSERT_NE(trayMenu->defaultAction(), nullptr);
    EXPECT_EQ(trayMenu->defaultAction()->data().toInt(), ui::ID_INTERFACE);
    EXPECT_TRUE(frame.Tray().Icon()->contextMenu() == trayMenu);

    QAction* start = ToolBarAction(frame, ui::ID_SPOOLER_START);
    QAction* stop = ToolBarAction(frame, ui::ID_SPOOLER_STOP);
    QAction* configure = ToolBarAction(frame, ui::ID_CONFIGURATION);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(configure->isEnabled());
    EXPECT_EQ(EnabledItems(trayMenu), (std::vector<bool>{true, false, true}));

    // The toolbar's Start starts the spooler.
    start->trigger();
    EXPECT_TRUE(app_->Spooler.IsSpoolerRunning());
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_RUNNING);
    EXPECT_FALSE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(configure->isEnabled());
    EXPECT_EQ(EnabledItems(trayMenu), (std::vector<bool>{false, true, true}));
    EXPECT_EQ(EnabledItems(MainMenus(frame)[0]), (std::vector<bool>{false, true, false, true, true}));
    // A disabled command does nothing, also when asked for directly.
    frame.OnCommand(ui::ID_SERVER_STARTING);
    frame.OnCommand(ui::ID_CONFIGURATION);

    // The tray menu's Stop stops it.
    trayMenu->actions()[1]->trigger();
    EXPECT_FALSE(app_->Spooler.IsSpoolerRunning());
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_STOPPED);
    EXPECT_EQ(EnabledItems(trayMenu), (std::vector<bool>{true, false, true}));
    ui_.OnSetTrayIcon = nullptr;
}

TEST_F(MainFrameTest, MinimisingHidesTheWindowAndTheTrayIconBringsItBackMaximised) {
    auto frame = std::make_unique<CMainFrame>(*app_, true);
    frame->show();
    ASSERT_TRUE(frame->HidesWhenMinimized());
    frame->showMinimized();
    EXPECT_TRUE(WaitFor([&] { return !frame->isVisible(); }));

    // A double click on the icon runs the default item, "&Interface".
    EXPECT_EQ(frame->Tray().OnTrayNotification(QSystemTrayIcon::DoubleClick), 1);
    EXPECT_TRUE(WaitFor([&] { return frame->isVisible(); }));
    EXPECT_TRUE(frame->isMaximized());
    EXPECT_FALSE(frame->isMinimized());

    // Other clicks bring nothing up; the tray menu's "&Interface" does.
    frame->showMinimized();
    ASSERT_TRUE(WaitFor([&] { return !frame->isVisible(); }));
    EXPECT_EQ(frame->Tray().OnTrayNotification(QSystemTrayIcon::Trigger), 1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(frame->isVisible());
    frame->TrayMenu()->actions()[3]->trigger();
    EXPECT_TRUE(frame->isVisible());
    EXPECT_TRUE(frame->isMaximized());

    // The icon leaves the notification area with the window.
    const QPointer<QSystemTrayIcon> icon = frame->Tray().Icon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_TRUE(icon->isVisible());
    frame.reset();
    EXPECT_TRUE(icon.isNull());
}

TEST_F(MainFrameTest, WithoutANotificationAreaTheWindowMinimisesAsAnyOther) {
    CMainFrame frame(*app_, false);
    EXPECT_FALSE(frame.Tray().IsEnabled());
    EXPECT_FALSE(frame.HidesWhenMinimized());
    // The icon operations change nothing.
    EXPECT_FALSE(frame.Tray().SetIconByResource(ui::IDI_SPOOLER_RUNNING));
    EXPECT_EQ(frame.Tray().IconResource(), 0);
    EXPECT_EQ(frame.Tray().OnTrayNotification(QSystemTrayIcon::DoubleClick), 0);

    frame.show();
    frame.showMinimized();
    // Given time to hide, it does not.
    EXPECT_FALSE(WaitFor([&] { return !frame.isVisible(); }, 300));
    EXPECT_TRUE(frame.isMinimized());
    // "&Interface" still works from the window's side.
    frame.OnCommand(ui::ID_INTERFACE);
    EXPECT_TRUE(frame.isMaximized());
}

// Every text the frame shows, by string id, in the thread's language.
void ExpectTexts(const CMainFrame& frame, Language language) {
    const auto text = [language](uint32_t id) { return QString::fromStdU16String(LoadString(id, language)); };
    const std::vector<QMenu*> menus = MainMenus(frame);
    ASSERT_EQ(menus.size(), 3u);
    EXPECT_EQ(menus[0]->title(), text(IDS_MENU_SERVER));
    EXPECT_EQ(menus[1]->title(), text(IDS_MENU_SPOOLED_FILE));
    EXPECT_EQ(menus[2]->title(), text(IDS_MENU_TOOLS));
    const std::vector<std::pair<QMenu*, std::vector<uint32_t>>> items = {
        {menus[0],
         {IDS_MENU_SERVER_STARTING, IDS_MENU_SPOOLER_STOP, IDS_MENU_CONFIGURATION, IDS_MENU_PREFERENCES,
          IDS_MENU_EXIT}},
        {menus[1], {IDS_MENU_JOB_RELEASE, IDS_MENU_JOB_STOP, IDS_MENU_JOB_DELETE, IDS_MENU_JOB_TRANSFER}},
        {menus[2], {IDS_MENU_SEND_VIA_LPR, IDS_MENU_COPY_TO_PRINTER}},
        {frame.TrayMenu(), {IDS_TRAY_START, IDS_MENU_SPOOLER_STOP, IDS_TRAY_INTERFACE}},
    };
    for (const auto& [menu, ids] : items) {
        std::vector<QString> shown;
        std::vector<QString> expected;
        for (const QAction* action : menu->actions()) {
            if (!action->isSeparator())
                shown.push_back(action->text());
        }
        for (const uint32_t id : ids)
            expected.push_back(text(id));
        EXPECT_EQ(shown, expected);
    }
    EXPECT_EQ(menus[0]->actions()[1]->statusTip(), text(IDS_CMD_SPOOLER_STOP).section('\n', 0, 0));
    EXPECT_EQ(frame.ToolBar()->actions()[0]->text(), text(IDS_START));
    EXPECT_EQ(frame.ToolBar()->actions()[2]->toolTip(), text(IDS_CMD_CONFIGURATION).section('\n', 1, 1));
    EXPECT_EQ(frame.ToolBar()->windowTitle(), text(IDS_TOOLBAR_TITLE));
    EXPECT_EQ(frame.statusBar()->findChild<QLabel*>("IdleText")->text(), text(IDS_STATUS_IDLE));
    const uint32_t headers[] = {IDS_COLUMN_STATUS,  IDS_COLUMN_FILE_NAME,      IDS_COLUMN_DATE,
                                IDS_COLUMN_SIZE,    IDS_COLUMN_OWNER,          IDS_COLUMN_TYPE,
                                IDS_COLUMN_PRINTER, IDS_COLUMN_LOCAL_FILE_NAME};
    for (int column = 0; column < 8; ++column)
        EXPECT_EQ(frame.View()->model()->headerData(column, Qt::Horizontal).toString(),
                  text(headers[column]));
}

TEST_F(MainFrameTest, TextsComeInTheThreadsLanguage) {
    std::set<QString> english;
    for (const Language language : {Language::English, Language::French, Language::Japanese}) {
        SCOPED_TRACE(static_cast<int>(language));
        SetThreadLanguage(language);
        CMainFrame frame(*app_, true);
        ExpectTexts(frame, language);
        EXPECT_EQ(frame.Tray().ToolTip(), QString::fromStdU16String(LoadString(IDS_TRAY_TOOLTIP, language)));
        // No English text is left in the translated menus.
        for (const QMenu* menu : MainMenus(frame)) {
            for (const QAction* action : menu->actions()) {
                if (action->isSeparator())
                    continue;
                if (language == Language::English)
                    english.insert(action->text());
                else
                    EXPECT_EQ(english.count(action->text()), 0u) << action->text().toStdString();
            }
        }
    }
    SetThreadLanguage(Language::Japanese);
    AddJob("job.tmp", STATE_HELD);
    ui::CVelmoraVirtualPrinterView view(*app_);
    view.selectionModel()->select(view.model()->index(0, 0),
                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const std::unique_ptr<QMenu> menu = view.CreateContextMenu();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().front()->text(), QString::fromStdU16String(LoadString(IDS_MENU_JOB_RELEASE)));
    EXPECT_EQ(menu->actions().front()->text(), QString::fromUtf8("保留解除(&R)"));
}

// The desktop program as start-up drives it, on the offscreen platform, which has no notification area.
class DesktopWithoutTrayTest : public test::AppFixture {
  protected:
    ui::CMainFrame* Frame() {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* frame = qobject_cast<CMainFrame*>(window))
                return frame;
        }
        return nullptr;
    }

    int argc_ = 1;
    char name_[24] = "VelmoraVirtualPrinter";
    char* argv_[2] = {name_, nullptr};
};

TEST_F(DesktopWithoutTrayTest, AHiddenStartShowsTheWindowAndTheSeamsReachIt) {
    app_->Settings.PortLPD = 0;
    app_->LpdServer.LoopbackOnly = true;
    std::unique_ptr<CDesktopRole> desktop = ui::CreateDesktopProgram(*app_, argc_, argv_);
    ASSERT_TRUE(desktop);
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    desktop->CreateInfoWindow();
    ASSERT_TRUE(desktop->CreateMainWindow());
    CMainFrame* frame = Frame();
    ASSERT_NE(frame, nullptr);

    // AutoHide would leave no way back without a tray icon: the window starts shown.
    desktop->ShowMainWindow(true);
    EXPECT_TRUE(frame->isVisible());
    frame->showMinimized();
    EXPECT_FALSE(test::UiFixture::WaitFor([&] { return !frame->isVisible(); }, 300));

    // The spooler's start and stop reach the window's commands.
    app_->Spooler.StartSpooler();
    EXPECT_FALSE(ToolBarAction(*frame, ui::ID_SPOOLER_START)->isEnabled());
    app_->Spooler.StopSpooler();
    app_->Spooler.JoinSpoolerThread();
    EXPECT_TRUE(ToolBarAction(*frame, ui::ID_SPOOLER_START)->isEnabled());

    // Jobs that a worker appends and announces reach the list.
    std::thread worker([this] {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
                auto job = std::make_shared<CSpoolFile>();
                job->SetHeld();
                app_->Jobs.AppendJob(job);
            }
            app_->Ui.PostJobListChanged();
        }
    });
    EXPECT_TRUE(test::UiFixture::WaitFor([&] { return frame->View()->model()->rowCount() == 200; }));
    worker.join();
    EXPECT_LT(frame->View()->RefreshCount(), 200);
    desktop.reset();
    EXPECT_EQ(app_->Ui.InstalledInterface(), nullptr);
}

}  // namespace
}  // namespace velmora
