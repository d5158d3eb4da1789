// The main window over a real application object: the job list's rows, refreshes and commands, the menus,
// toolbar and tray icon, and the desktop program around it.
#include <gtest/gtest.h>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QToolBar>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/ansi.h"
#include "ui/command_ids.h"
#include "ui/desktop_program.h"
#include "ui/icons.h"
#include "ui/job_list_view.h"
#include "ui/main_frame.h"
#include "ui/ui_test_support.h"

namespace velmora {
namespace {

using ui::CMainFrame, ui::CVelmoraVirtualPrinterView, ui::ID_JOB_DELETE, ui::ID_JOB_RELEASE, ui::ID_JOB_STOP,
    ui::ID_JOB_TRANSFER;

// A worker thread that appends jobs and announces each, as intake does.
std::thread AppendFromWorker(CVelmoraVirtualPrinterApp& app, int count) {
    return std::thread([&app, count] {
        for (int i = 0; i < count; ++i) {
            {
                std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
                app.Jobs.AppendJob(std::make_shared<CSpoolFile>());
            }
            app.Ui.PostJobListChanged();
        }
    });
}

// WaitUntil with the message loop running.
template <typename Condition>
bool WaitFor(Condition condition, int milliseconds = 10000) {
    return test::WaitUntil(condition, milliseconds, [] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
}

// The application object with a job list to fill, for the main window and the job list view.
class UiFixture : public test::WithQt<test::AppFixture> {
  protected:
    void TearDown() override {
        app_->Spooler.StopSpooler();
        app_->Spooler.JoinSpoolerThread();
        WithQt::TearDown();
    }
    // A job as intake leaves it, appended to JobList, with its data file.
    SpoolFilePtr AddJob(const std::string& name, int32_t state = STATE_READY) {
        auto job = std::make_shared<CSpoolFile>();
        const std::string path = folder_.File(name);
        test::WriteFile(path, "data of " + name);
        job->DocumentName = test::U16(name);
        job->Owner = u"accounting";
        job->DateInserted = u"Sun Dec  6 12:00:00 2026";
        job->FileSize = u"12 bytes";
        job->FileType = u"PDF";
        job->PrinterName = u"PASS";
        job->LocalFileName = test::U16(path);
        job->SetState(state);
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        app_->Jobs.AppendJob(job);
        return job;
    }
    std::vector<SpoolFilePtr> AddJobInEveryState() {
        std::vector<SpoolFilePtr> jobs;
        for (int32_t state = STATE_READY; state <= STATE_ERROR; ++state)
            jobs.push_back(AddJob("job" + std::to_string(state) + ".tmp", state));
        return jobs;
    }
    static void SelectRows(CVelmoraVirtualPrinterView& view, std::initializer_list<int> rows) {
        view.clearSelection();
        for (const int row : rows) {
            view.selectionModel()->select(view.model()->index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
    static QString Cell(CVelmoraVirtualPrinterView& view, int row, int column) {
        return view.model()->index(row, column).data().toString();
    }
    static std::string Row(CVelmoraVirtualPrinterView& view, int row) {
        QStringList cells;
        for (int column = 0; column < view.model()->columnCount(); ++column) {
            cells << (row < 0 ? view.model()->headerData(column, Qt::Horizontal).toString()
                              : Cell(view, row, column));
        }
        return cells.join('|').toStdString();
    }
    // The column's cells (by default the file names), each followed by a space.
    static std::string Column(CVelmoraVirtualPrinterView& view, int column = 1, bool selected = false) {
        std::string cells;
        for (int row = 0; row < view.model()->rowCount(); ++row) {
            if (!selected || view.selectionModel()->isRowSelected(row, QModelIndex()))
                cells += Cell(view, row, column).toStdString() + " ";
        }
        return cells;
    }
    static std::string Enabled(const CVelmoraVirtualPrinterView& view) {
        std::string enabled;
        for (const int command : {ID_JOB_RELEASE, ID_JOB_STOP, ID_JOB_DELETE, ID_JOB_TRANSFER})
            enabled += view.IsJobCommandEnabled(command) ? '+' : '.';
        return enabled;
    }
    // The context menu's items, "-" for a separator; "none" without a menu.
    static std::string Menu(CVelmoraVirtualPrinterView& view) {
        const std::unique_ptr<QMenu> menu = view.CreateContextMenu();
        if (!menu)
            return "none";
        QStringList items;
        for (const QAction* action : menu->actions()) {
            EXPECT_TRUE(action->isEnabled());
            items << (action->isSeparator() ? QStringLiteral("-") : action->text());
        }
        return items.join('|').toStdString();
    }
};
using JobListViewTest = UiFixture;
using MainFrameTest = UiFixture;

TEST_F(JobListViewTest, RefreshFollowsChangesDeletionsAndArrivalsAndKeepsTheSelectionByJob) {
    std::vector<SpoolFilePtr> jobs;
    for (int i = 0; i < 100; ++i)
        jobs.push_back(AddJob("job" + std::to_string(i) + ".tmp"));
    CVelmoraVirtualPrinterView view(*app_);
    SelectRows(view, {51, 60, 99});
    // Changes of every kind; more runs of deleted rows than are signalled one by one.
    app_->Jobs.ApplyJobAction(JOB_SAVED, jobs[99]->Id(), false);
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        jobs[51]->PrinterName = u"OTHER";
    }
    AddJob("arrived.tmp", STATE_HELD);
    std::string kept;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if ((i < 50 && i % 2 == 0) || i == 55)
            app_->Jobs.ApplyJobAction(JOB_DELETE, jobs[i]->Id(), false);
        else
            kept += "job" + std::to_string(i) + ".tmp ";
    }
    kept += "arrived.tmp ";
    ASSERT_TRUE(view.RefreshList(200));
    EXPECT_EQ(Column(view), kept);
    EXPECT_EQ(Cell(view, 26, 6) + " " + Cell(view, 73, 0) + " " + Cell(view, 74, 0), "OTHER Saved Held");
    // The same jobs stay selected, and SelectedJob follows the last of them with its new state.
    EXPECT_EQ(Column(view, 1, true), "job51.tmp job60.tmp job99.tmp ");
    EXPECT_EQ(view.SelectedJob(), jobs[99]->Id());
    EXPECT_EQ(Enabled(view), "+.++");
    // Deleting the last selected job leaves the one before it as SelectedJob.
    app_->Jobs.ApplyJobAction(JOB_DELETE, jobs[99]->Id(), false);
    ASSERT_TRUE(view.RefreshList(200));
    EXPECT_EQ(view.SelectedJob(), jobs[60]->Id());
    // A list loaded anew holds new records only: every row is replaced and nothing stays selected.
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        app_->Jobs.JobList.clear();
    }
    AddJob("fresh.tmp");
    ASSERT_TRUE(view.RefreshList(200));
    EXPECT_EQ(Column(view), "fresh.tmp ");
    EXPECT_EQ(view.SelectedJob(), 0u);
}

TEST_F(JobListViewTest, ARefreshWithoutTheLockIsSkippedAndNotificationsAreGatheredIntoOneRefresh) {
    AddJob("first.tmp");
    CVelmoraVirtualPrinterView view(*app_);
    const int refreshes = view.RefreshCount();
    // A worker holds the lock (as intake does while it prepares a payload) and appends meanwhile.
    std::atomic<bool> holding{false};
    std::atomic<bool> release{false};
    std::thread worker([&] {
        std::lock_guard<CRecursiveTimedMutex> jobListLock(app_->Jobs.JobListLock);
        app_->Jobs.JobList.push_back(std::make_shared<CSpoolFile>());
        holding = true;
        test::WaitUntil([&] { return release.load(); }, 60000);
    });
    ASSERT_TRUE(test::WaitUntil([&] { return holding.load(); }));
    EXPECT_FALSE(view.RefreshList(200));
    EXPECT_EQ(view.RefreshCount(), refreshes);
    release = true;
    worker.join();
    EXPECT_TRUE(view.RefreshList(200));
    EXPECT_EQ(view.model()->rowCount(), 2);
    ui::CJobListNotifier notifier;
    notifier.SetView(&view);
    ui_.OnPostJobListChanged = [&notifier] { notifier.Post(); };
    // A burst while the window is busy elsewhere: one notification waits, whatever the count of posts.
    AppendFromWorker(*app_, 500).join();
    const int before = view.RefreshCount();
    QCoreApplication::sendPostedEvents(&notifier);
    EXPECT_TRUE(WaitFor([&] { return view.model()->rowCount() == 502; }));
    EXPECT_EQ(view.RefreshCount(), before + 1);
    ui_.OnPostJobListChanged = nullptr;
}

TEST_F(JobListViewTest, RowsShowTheJobsAndTheCommandsAndContextMenuFollowTheStateOfTheSelectedJob) {
    const std::vector<SpoolFilePtr> jobs = AddJobInEveryState();
    jobs[1]->PrinterName = u"LABELS";
    CVelmoraVirtualPrinterView view(*app_);
    EXPECT_EQ(Row(view, -1), "Status|File name|Date|Size|Owner|Type|Printer|Local file name");
    EXPECT_EQ(Row(view, 1), "Held|job1.tmp|Sun Dec  6 12:00:00 2026|12 bytes|accounting|PDF|LABELS|" +
                                platform::UnicodeToAnsi(jobs[1]->LocalFileName));
    // One image per state, and only in the Status column.
    EXPECT_NE(view.model()->index(0, 0).data(Qt::DecorationRole).value<QPixmap>().toImage(),
              view.model()->index(1, 0).data(Qt::DecorationRole).value<QPixmap>().toImage());
    EXPECT_FALSE(view.model()->index(0, 1).data(Qt::DecorationRole).isValid());
    EXPECT_EQ(Enabled(view), "....");
    EXPECT_EQ(Menu(view), "none");
    const struct {
        const char* Commands;  // Release, Stop, Delete, Transfer
        const char* Menu;
    } expected[] = {{".+++", "S&top|-|&Delete|-|&Transfer"},      // Ready
                    {"+.++", "&Release|-|&Delete|-|&Transfer"},   // Held
                    {"+.++", "&Release|-|&Delete|-|&Transfer"},   // Saved
                    {".+..", "S&top|-|-"},                        // Printing
                    {"+.++", "&Release|-|&Delete|-|&Transfer"}};  // Error
    for (int row = 0; row < 5; ++row) {
        SCOPED_TRACE(row);
        SelectRows(view, {row});
        EXPECT_EQ(view.SelectedJob(), jobs[static_cast<std::size_t>(row)]->Id());
        EXPECT_EQ(Enabled(view), expected[row].Commands);
        EXPECT_EQ(Menu(view), expected[row].Menu);
    }
    // Several rows: the last in list order decides the commands, the first the context menu.
    SelectRows(view, {4, 0, 3});
    EXPECT_EQ(Enabled(view), expected[4].Commands);
    EXPECT_EQ(Menu(view), expected[0].Menu);
    EXPECT_EQ(view.SelectedJob(), jobs[0]->Id());
    // The state now counts, not the state last shown; a job that has left the list has no menu.
    app_->Jobs.ApplyJobAction(JOB_HOLD, jobs[0]->Id(), false);
    SelectRows(view, {0});
    EXPECT_EQ(Menu(view), expected[1].Menu);
    app_->Jobs.ApplyJobAction(JOB_DELETE, jobs[0]->Id(), false);
    EXPECT_EQ(Menu(view), "none");
}

TEST_F(JobListViewTest, CommandsActOnEverySelectedJob) {
    const std::vector<SpoolFilePtr> jobs = AddJobInEveryState();
    const SpoolFilePtr extra = AddJob("extra.tmp", STATE_READY);
    CVelmoraVirtualPrinterView view(*app_);
    // Release: Held, Saved and Error become Ready; Stop: Ready and Printing become Held.
    SelectRows(view, {1, 2, 4});
    view.OnJobCommand(ID_JOB_RELEASE);
    EXPECT_EQ(Column(view, 0), "Ready Ready Ready Printing Ready Ready ");
    SelectRows(view, {0, 3});
    view.OnJobCommand(ID_JOB_STOP);
    EXPECT_EQ(Column(view, 0), "Held Ready Ready Held Ready Ready ");
    std::vector<JobId> asked;
    view.SetTransferChooser([&](const CSpoolFile& job, std::u16string* printerName) {
        asked.push_back(job.Id());
        *printerName = u"OTHER";
        return true;
    });
    SelectRows(view, {1, 5});
    view.OnJobCommand(ID_JOB_TRANSFER);
    EXPECT_EQ(asked, (std::vector<JobId>{jobs[1]->Id(), extra->Id()}));
    EXPECT_EQ(Cell(view, 1, 6) + Cell(view, 2, 6) + Cell(view, 5, 6), "OTHERPASSOTHER");
    SelectRows(view, {0, 2, 5});
    view.OnJobCommand(ID_JOB_DELETE);
    EXPECT_FALSE(std::filesystem::exists(platform::UnicodeToAnsi(jobs[0]->LocalFileName)));
    EXPECT_EQ(Column(view), "job1.tmp job3.tmp job4.tmp ");
    // A command that the last selected job does not allow does nothing; the context menu acts on all.
    SelectRows(view, {1, 2});
    ASSERT_EQ(Enabled(view), ".+++");
    view.OnJobCommand(ID_JOB_RELEASE);
    SelectRows(view, {0, 2});
    view.CreateContextMenu()->actions().front()->trigger();
    EXPECT_EQ(Column(view, 0), "Held Held Held ");
}

TEST_F(JobListViewTest, DoubleClickHoldsTheJobAndOpensItsFileWithTheDefaultApplication) {
    const test::FakeOpener opener;
    AddJob("first.tmp", STATE_SAVED);
    const SpoolFilePtr job = AddJob("with space's \"name\".pdf", STATE_READY);
    CVelmoraVirtualPrinterView view(*app_);
    view.resize(900, 300);
    view.show();
    const QPoint at = view.visualRect(view.model()->index(1, 1)).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease}) {
        const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, at, view.viewport()->mapToGlobal(at), Qt::LeftButton, buttons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(view.viewport(), &event);
    }
    EXPECT_EQ(view.SelectedJob(), job->Id());
    EXPECT_EQ(Cell(view, 1, 0), "Held");
    const std::vector<std::string> opened{platform::UnicodeToAnsi(job->LocalFileName)};
    EXPECT_TRUE(WaitFor([&] { return test::ReadEvents(opener.Opened) == opened; }));
}

// The actions as "text command" joined by "|", "-" for a separator.
std::string Shown(const QList<QAction*>& actions) {
    QStringList items;
    for (const QAction* a : actions)
        items << (a->isSeparator() ? QStringLiteral("-")
                                   : QStringLiteral("%1 %2").arg(a->text()).arg(a->data().toInt()));
    return items.join('|').toStdString();
}
// The enabled state of the actions, "+" or "." each, separators left out.
std::string EnabledOf(const QList<QAction*>& actions) {
    std::string enabled;
    for (const QAction* action : actions) {
        if (!action->isSeparator())
            enabled += action->isEnabled() ? '+' : '.';
    }
    return enabled;
}
QMenu* BarMenu(const CMainFrame& frame, int index) {
    return frame.menuBar()->actions().at(index)->menu();
}

TEST_F(MainFrameTest, MenusToolbarAndTrayCarryTheCommandsWhichFollowTheSpoolerAndTheTrayIconRestores) {
    auto owned = std::make_unique<CMainFrame>(*app_, true);
    CMainFrame& frame = *owned;
    ASSERT_EQ(frame.menuBar()->actions().size(), 3);
    EXPECT_EQ(BarMenu(frame, 0)->title() + BarMenu(frame, 1)->title() + BarMenu(frame, 2)->title(),
              "&ServerS&pooled file&Tools");
    EXPECT_EQ(Shown(BarMenu(frame, 0)->actions()),
              "Starting 32771|S&top 32782|-|&Configuration 32783|-|Preferences 32786|-|&Exit 57665");
    EXPECT_EQ(Shown(BarMenu(frame, 1)->actions()),
              "&Release 32777|&Stop 32778|-|&Delete 32779|-|&Transfer 32780");
    EXPECT_EQ(Shown(BarMenu(frame, 2)->actions()), "&Send via LPR 32787|&Copy to printer 32788");
    // Nothing is bound to "Starting"; with no job selected the job commands are off too.
    EXPECT_EQ(EnabledOf(BarMenu(frame, 0)->actions()), "..+++");
    EXPECT_EQ(EnabledOf(BarMenu(frame, 1)->actions()), "....");
    EXPECT_EQ(EnabledOf(BarMenu(frame, 2)->actions()), "++");
    EXPECT_EQ(Shown(frame.ToolBar()->actions()), "Start 32781|Stop 32782|Configure 32783");
    // The commands follow the spooler, through the desktop program's seam.
    ui_.OnSetTrayIcon = [&frame](int iconId) { frame.SetSpoolerIcon(iconId); };
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_STOPPED);
    EXPECT_EQ(frame.Tray().ToolTip(), "Velmora Virtual Printer");
    QMenu* trayMenu = frame.TrayMenu();
    EXPECT_EQ(Shown(trayMenu->actions()), "&Start 32781|S&top 32782|-|&Interface 32773");
    EXPECT_EQ(trayMenu->defaultAction(), trayMenu->actions()[3]);  // shown in bold
    EXPECT_EQ(frame.Tray().Icon()->contextMenu(), trayMenu);
    frame.ToolBar()->actions()[0]->trigger();
    EXPECT_TRUE(app_->Spooler.IsSpoolerRunning());
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_RUNNING);
    EXPECT_EQ(EnabledOf(frame.ToolBar()->actions()), ".+.");
    EXPECT_EQ(EnabledOf(trayMenu->actions()), ".++");
    EXPECT_EQ(EnabledOf(BarMenu(frame, 0)->actions()), ".+.++");
    // A disabled command does nothing, also when asked for directly.
    frame.OnCommand(ui::ID_SERVER_STARTING);
    frame.OnCommand(ui::ID_CONFIGURATION);
    trayMenu->actions()[1]->trigger();
    EXPECT_FALSE(app_->Spooler.IsSpoolerRunning());
    EXPECT_EQ(frame.Tray().IconResource(), ui::IDI_SPOOLER_STOPPED);
    EXPECT_EQ(EnabledOf(trayMenu->actions()), "+.+");
    ui_.OnSetTrayIcon = nullptr;
    // Minimised, the window hides; a double click on the icon runs "&Interface": back, maximised.
    frame.show();
    frame.showMinimized();
    EXPECT_TRUE(WaitFor([&] { return !frame.isVisible(); }));
    EXPECT_EQ(frame.Tray().OnTrayNotification(QSystemTrayIcon::DoubleClick), 1);
    EXPECT_TRUE(WaitFor([&] { return frame.isVisible() && frame.isMaximized(); }));
    const QPointer<QSystemTrayIcon> icon = frame.Tray().Icon();
    EXPECT_TRUE(icon->isVisible());
    owned.reset();
    EXPECT_TRUE(icon.isNull());
}

// The desktop program as start-up drives it, on the offscreen platform, which has no notification area.
using DesktopProgramTest = test::AppFixture;

TEST_F(DesktopProgramTest, TheServerRunsForTheLifeOfTheMainWindowWhichTheSeamsReach) {
    app_->Settings.PortLPD = 0;
    app_->LpdServer.LoopbackOnly = true;
    int argc = 1;
    char name[] = "VelmoraVirtualPrinter";
    char* argv[] = {name, nullptr};
    std::unique_ptr<CDesktopRole> desktop = ui::CreateDesktopProgram(*app_, argc, argv);
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
    desktop->ShowMainWindow(true);
    EXPECT_TRUE(frame->isVisible());
    frame->showMinimized();
    EXPECT_FALSE(WaitFor([&] { return !frame->isVisible(); }, 300));
    // The spooler's start and stop reach the window's commands.
    app_->Spooler.StartSpooler();
    EXPECT_FALSE(frame->ToolBar()->actions()[0]->isEnabled());
    app_->Spooler.StopSpooler();
    app_->Spooler.JoinSpoolerThread();
    EXPECT_TRUE(frame->ToolBar()->actions()[0]->isEnabled());
    // Jobs that a worker appends and announces while the message loop runs reach the list, none lost.
    std::thread worker = AppendFromWorker(*app_, 200);
    EXPECT_TRUE(WaitFor([&] { return frame->View()->model()->rowCount() == 200; }));
    worker.join();
    // A message for a worker never blocks it (no loop runs now); the box comes up from the loop.
    std::atomic<bool> returned{false};
    worker = std::thread([&] {
        app_->ShowMessage(u"Unable to delete file", MessageIcon::Error);
        returned = true;
    });
    EXPECT_TRUE(test::WaitUntil([&] { return returned.load(); }));
    worker.join();
    test::SetEnvironment("VELMORA_ANSWER_MESSAGE_BOXES", "1");
    QCoreApplication::processEvents();
    test::UnsetEnvironment("VELMORA_ANSWER_MESSAGE_BOXES");
    desktop.reset();
    EXPECT_FALSE(app_->LpdServer.IsServerRunning());
    EXPECT_EQ(app_->Ui.InstalledInterface(), nullptr);
}

}  // namespace
}  // namespace velmora
