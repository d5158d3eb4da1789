// The job list view over a real application object: its rows, refreshes and job commands.
#include <gtest/gtest.h>
#include <QMenu>

#include <atomic>
#include <filesystem>

#include "platform/ansi.h"
#include "ui/command_ids.h"
#include "ui/ui_test_support.h"

namespace velmora {
namespace {

using ui::CVelmoraVirtualPrinterView, ui::ID_JOB_DELETE, ui::ID_JOB_RELEASE, ui::ID_JOB_STOP,
    ui::ID_JOB_TRANSFER;

class JobListViewTest : public test::UiFixture {
  protected:
    static std::string Row(CVelmoraVirtualPrinterView& view, int row) {
        QStringList cells;
        for (int column = 0; column < view.model()->columnCount(); ++column) {
            cells << (row < 0 ? view.model()->headerData(column, Qt::Horizontal).toString()
                              : Cell(view, row, column));
        }
        return cells.join('|').toStdString();
    }
    static std::string Files(CVelmoraVirtualPrinterView& view, bool selected = false) {
        std::string files;
        for (int row = 0; row < view.model()->rowCount(); ++row) {
            if (!selected || view.selectionModel()->isRowSelected(row, QModelIndex()))
                files += Cell(view, row, 1).toStdString() + " ";
        }
        return files;
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

TEST_F(JobListViewTest, ShowsEveryJobInListOrderWithItsFieldsAndStateImage) {
    AddJob("invoice.pdf", STATE_READY);
    const SpoolFilePtr second = AddJob("label.pcl", STATE_HELD, u"LABELS");
    AddJob("report.ps", STATE_ERROR);
    CVelmoraVirtualPrinterView view(*app_);
    EXPECT_EQ(Row(view, -1), "Status|File name|Date|Size|Owner|Type|Printer|Local file name");
    EXPECT_EQ(Row(view, 1), "Held|label.pcl|Sun Dec  6 12:00:00 2026|12 bytes|accounting|PDF|LABELS|" +
                                platform::UnicodeToAnsi(second->LocalFileName));
    EXPECT_EQ(Files(view), "invoice.pdf label.pcl report.ps ");
    // One image per state, and only in the Status column.
    EXPECT_NE(view.model()->index(0, 0).data(Qt::DecorationRole).value<QPixmap>().toImage(),
              view.model()->index(1, 0).data(Qt::DecorationRole).value<QPixmap>().toImage());
    EXPECT_FALSE(view.model()->index(0, 1).data(Qt::DecorationRole).isValid());
}

TEST_F(JobListViewTest, RefreshFollowsChangesDeletionsAndArrivalsAndKeepsTheSelectionByJob) {
    std::vector<SpoolFilePtr> jobs;
    for (int i = 0; i < 100; ++i)
        jobs.push_back(AddJob("job" + std::to_string(i) + ".tmp"));
    CVelmoraVirtualPrinterView view(*app_);
    view.resize(900, 400);
    SelectRows(view, {51, 60, 99});
    EXPECT_EQ(view.SelectedJob(), jobs[99]->Id());
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
    EXPECT_EQ(Files(view), kept);
    EXPECT_EQ(Cell(view, 26, 6) + " " + Cell(view, 73, 0) + " " + Cell(view, 74, 0), "OTHER Saved Held");
    // The same jobs stay selected, and SelectedJob follows the last of them with its new state.
    EXPECT_EQ(Files(view, true), "job51.tmp job60.tmp job99.tmp ");
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
    EXPECT_EQ(Files(view), "fresh.tmp ");
    EXPECT_EQ(view.SelectedJob(), 0u);
    EXPECT_EQ(Enabled(view), "....");
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
    test::AppendFromWorker(*app_, 500).join();
    const int before = view.RefreshCount();
    QCoreApplication::sendPostedEvents(&notifier);
    EXPECT_TRUE(WaitFor([&] { return view.model()->rowCount() == 502; }));
    EXPECT_EQ(view.RefreshCount(), before + 1);
    // Posts that come while the message loop runs: no change is lost, however they fall in with refreshes.
    std::thread second = test::AppendFromWorker(*app_, 500);
    second.join();
    EXPECT_TRUE(WaitFor([&] { return view.model()->rowCount() == 1002; }));
    ui_.OnPostJobListChanged = nullptr;
}

TEST_F(JobListViewTest, CommandsAndContextMenuFollowTheStateOfTheSelectedJob) {
    const std::vector<SpoolFilePtr> jobs = AddJobInEveryState();
    CVelmoraVirtualPrinterView view(*app_);
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
    const auto states = [&] {
        std::string shown;
        for (int row = 0; row < view.model()->rowCount(); ++row)
            shown += Cell(view, row, 0).toStdString() + " ";
        return shown;
    };
    // Release: Held, Saved and Error become Ready; Stop: Ready and Printing become Held.
    SelectRows(view, {1, 2, 4});
    view.OnJobCommand(ID_JOB_RELEASE);
    EXPECT_EQ(states(), "Ready Ready Ready Printing Ready Ready ");
    SelectRows(view, {0, 3});
    view.OnJobCommand(ID_JOB_STOP);
    EXPECT_EQ(states(), "Held Ready Ready Held Ready Ready ");
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
    EXPECT_EQ(Files(view), "job1.tmp job3.tmp job4.tmp ");
    // A command that the last selected job does not allow does nothing; the context menu acts on all.
    SelectRows(view, {1, 2});
    ASSERT_EQ(Enabled(view), ".+++");
    view.OnJobCommand(ID_JOB_RELEASE);
    SelectRows(view, {0, 2});
    view.CreateContextMenu()->actions().front()->trigger();
    EXPECT_EQ(states(), "Held Held Held ");
}

TEST_F(JobListViewTest, DoubleClickHoldsTheJobAndOpensItsFileWithTheDefaultApplication) {
    const test::FakeOpener opener;
    AddJob("first.tmp", STATE_SAVED);
    const SpoolFilePtr job = AddJob("with space's \"name\".pdf", STATE_READY);
    CVelmoraVirtualPrinterView view(*app_);
    view.resize(900, 300);
    view.show();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease,
                                    QEvent::MouseButtonDblClick, QEvent::MouseButtonRelease})
        SendMouse(view, 1, type);
    EXPECT_EQ(view.SelectedJob(), job->Id());
    EXPECT_EQ(Cell(view, 1, 0), "Held");
    const std::vector<std::string> opened{platform::UnicodeToAnsi(job->LocalFileName)};
    EXPECT_TRUE(WaitFor([&] { return test::ReadEvents(opener.Opened) == opened; }));
}

}  // namespace
}  // namespace velmora
