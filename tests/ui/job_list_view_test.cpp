// The job list view over a real application object: rows, columns and images from JobList, refreshes that
// follow the list's changes and keep the user's selection, the 200 ms lock rule, and the gathering of the
// workers' notifications.
#include <gtest/gtest.h>
#include <QHeaderView>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "ui/job_list_view.h"
#include "ui_fixture.h"

namespace velmora {
namespace {

using ui::CJobListModel;
using ui::CVelmoraVirtualPrinterView;

class JobListViewTest : public test::UiFixture {
  protected:
    static QString Cell(CVelmoraVirtualPrinterView& view, int row, int column) {
        return view.model()->index(row, column).data().toString();
    }

    // The jobs of the selected rows, in list order.
    static std::vector<JobId> SelectedJobs(CVelmoraVirtualPrinterView& view) {
        std::vector<JobId> jobs;
        for (int row = 0; row < view.model()->rowCount(); ++row) {
            if (view.selectionModel()->isRowSelected(row, QModelIndex()))
                jobs.push_back(view.Model().JobAt(row));
        }
        return jobs;
    }
};

TEST_F(JobListViewTest, ShowsEveryJobInListOrderWithItsFieldsStateImageAndColumns) {
    const SpoolFilePtr first = AddJob("invoice.pdf", STATE_READY);
    const SpoolFilePtr second = AddJob("label.pcl", STATE_HELD, u"LABELS");
    const SpoolFilePtr third = AddJob("report.ps", STATE_ERROR);
    CVelmoraVirtualPrinterView view(*app_);

    ASSERT_EQ(view.model()->rowCount(), 3);
    ASSERT_EQ(view.model()->columnCount(), 8);
    const char* headers[] = {"Status", "File name", "Date",    "Size",
                             "Owner",  "Type",      "Printer", "Local file name"};
    const int widths[] = {80, 200, 130, 90, 100, 100, 200, 200};
    for (int column = 0; column < 8; ++column) {
        EXPECT_EQ(view.model()->headerData(column, Qt::Horizontal).toString(), headers[column]);
        EXPECT_EQ(view.horizontalHeader()->sectionSize(column), widths[column]) << column;
        EXPECT_EQ(
            view.model()->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                Qt::AlignHorizontal_Mask,
            Qt::AlignLeft);
    }

    EXPECT_EQ(Cell(view, 1, 0), "Held");
    EXPECT_EQ(Cell(view, 1, 1), "label.pcl");
    EXPECT_EQ(Cell(view, 1, 2), "Sun Dec  6 12:00:00 2026");
    EXPECT_EQ(Cell(view, 1, 3), "12 bytes");
    EXPECT_EQ(Cell(view, 1, 4), "accounting");
    EXPECT_EQ(Cell(view, 1, 5), "PDF");
    EXPECT_EQ(Cell(view, 1, 6), "LABELS");
    EXPECT_EQ(Cell(view, 1, 7), QString::fromStdU16String(second->LocalFileName));
    EXPECT_EQ(view.Model().JobAt(0), first->Id());
    EXPECT_EQ(view.Model().JobAt(2), third->Id());

    // One image per state, and only in the Status column.
    const QPixmap ready = view.model()->index(0, 0).data(Qt::DecorationRole).value<QPixmap>();
    const QPixmap held = view.model()->index(1, 0).data(Qt::DecorationRole).value<QPixmap>();
    EXPECT_EQ(ready.size(), QSize(16, 15));
    EXPECT_NE(ready.toImage(), held.toImage());
    EXPECT_FALSE(view.model()->index(0, 1).data(Qt::DecorationRole).isValid());

    // A report: whole rows, several at a time.
    EXPECT_EQ(view.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(view.selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_FALSE(view.verticalHeader()->isVisible());
}

TEST_F(JobListViewTest, RefreshFollowsStateChangesDeletionsAndArrivalsAndKeepsTheSelection) {
    std::vector<SpoolFilePtr> jobs;
    for (int i = 0; i < 6; ++i)
        jobs.push_back(AddJob("job" + std::to_string(i) + ".tmp"));
    CVelmoraVirtualPrinterView view(*app_);
    view.resize(900, 400);
    SelectRows(view, {1, 4});
    EXPECT_EQ(view.SelectedJob(), jobs[4]->Id());

    // The spooler's outcome, a deletion between the selected rows, a transfer and a new arrival.
    app_->Jobs.ApplyJobAction(JOB_SAVED, jobs[4]->Id(), false);
    app_->Jobs.ApplyJobAction(JOB_DELETE, jobs[2]->Id(), false);
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        jobs[1]->PrinterName = u"OTHER";
    }
    const SpoolFilePtr arrived = AddJob("arrived.tmp", STATE_HELD);
    ASSERT_TRUE(view.RefreshList(200));

    ASSERT_EQ(view.model()->rowCount(), 6);
    const JobId expected[] = {jobs[0]->Id(), jobs[1]->Id(), jobs[3]->Id(),
                              jobs[4]->Id(), jobs[5]->Id(), arrived->Id()};
    for (int row = 0; row < 6; ++row)
        EXPECT_EQ(view.Model().JobAt(row), expected[row]) << row;
    EXPECT_EQ(Cell(view, 3, 0), "Saved");
    EXPECT_EQ(view.Model().StateAt(3), STATE_SAVED);
    EXPECT_EQ(Cell(view, 1, 6), "OTHER");
    EXPECT_EQ(Cell(view, 5, 0), "Held");
    // The same jobs stay selected, and SelectedJob follows the last of them with its new state.
    EXPECT_EQ(SelectedJobs(view), (std::vector<JobId>{jobs[1]->Id(), jobs[4]->Id()}));
    EXPECT_EQ(view.SelectedJob(), jobs[4]->Id());
    EXPECT_TRUE(view.IsJobCommandEnabled(32777));

    // Deleting the last selected job leaves the other one as SelectedJob.
    app_->Jobs.ApplyJobAction(JOB_DELETE, jobs[4]->Id(), false);
    ASSERT_TRUE(view.RefreshList(200));
    EXPECT_EQ(view.model()->rowCount(), 5);
    EXPECT_EQ(view.SelectedJob(), jobs[1]->Id());
}

TEST_F(JobListViewTest, ScatteredDeletionsAndAReloadedListKeepTheSelectionByJob) {
    std::vector<SpoolFilePtr> jobs;
    for (int i = 0; i < 100; ++i)
        jobs.push_back(AddJob("job" + std::to_string(i) + ".tmp"));
    CVelmoraVirtualPrinterView view(*app_);
    SelectRows(view, {51, 60, 99});

    // Every other job before the selection goes: more runs of deleted rows than are signalled one by one.
    for (int i = 0; i < 50; i += 2)
        app_->Jobs.ApplyJobAction(JOB_DELETE, jobs[static_cast<std::size_t>(i)]->Id(), false);
    ASSERT_TRUE(view.RefreshList(200));
    ASSERT_EQ(view.model()->rowCount(), 75);
    for (int row = 0; row < 75; ++row) {
        const std::size_t index =
            row < 25 ? static_cast<std::size_t>(2 * row + 1) : static_cast<std::size_t>(row + 25);
        ASSERT_EQ(view.Model().JobAt(row), jobs[index]->Id()) << row;
    }
    EXPECT_EQ(SelectedJobs(view), (std::vector<JobId>{jobs[51]->Id(), jobs[60]->Id(), jobs[99]->Id()}));
    EXPECT_EQ(view.SelectedJob(), jobs[99]->Id());

    // A list loaded anew holds new records only: every row is replaced and nothing stays selected.
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        app_->Jobs.JobList.clear();
    }
    const SpoolFilePtr fresh = AddJob("fresh.tmp");
    ASSERT_TRUE(view.RefreshList(200));
    ASSERT_EQ(view.model()->rowCount(), 1);
    EXPECT_EQ(view.Model().JobAt(0), fresh->Id());
    EXPECT_EQ(view.SelectedJob(), 0u);
    EXPECT_FALSE(view.IsJobCommandEnabled(32779));
}

TEST_F(JobListViewTest, ARefreshThatCannotHaveTheJobListLockIsSkippedAndTheNextOneCatchesUp) {
    AddJob("first.tmp");
    CVelmoraVirtualPrinterView view(*app_);
    ASSERT_EQ(view.model()->rowCount(), 1);
    const int refreshes = view.RefreshCount();

    // A worker holds the lock (as intake does while it prepares a payload) and appends meanwhile.
    std::mutex stepLock;
    std::condition_variable step;
    bool holding = false;
    bool release = false;
    std::thread worker([&] {
        std::lock_guard<CRecursiveTimedMutex> jobListLock(app_->Jobs.JobListLock);
        auto job = std::make_shared<CSpoolFile>();
        job->SetHeld();
        app_->Jobs.JobList.push_back(job);
        std::unique_lock<std::mutex> lock(stepLock);
        holding = true;
        step.notify_all();
        step.wait(lock, [&] { return release; });
    });
    {
        std::unique_lock<std::mutex> lock(stepLock);
        step.wait(lock, [&] { return holding; });
    }
    EXPECT_FALSE(view.RefreshList(200));
    EXPECT_EQ(view.model()->rowCount(), 1);
    EXPECT_EQ(view.RefreshCount(), refreshes);
    {
        std::lock_guard<std::mutex> lock(stepLock);
        release = true;
    }
    step.notify_all();
    worker.join();

    EXPECT_TRUE(view.RefreshList(200));
    EXPECT_EQ(view.model()->rowCount(), 2);
    EXPECT_EQ(Cell(view, 1, 0), "Held");
}

TEST_F(JobListViewTest, NotificationsPostedMeanwhileAreGatheredIntoOneRefresh) {
    CVelmoraVirtualPrinterView view(*app_);
    ui::CJobListNotifier notifier;
    notifier.SetView(&view);
    ui_.OnPostJobListChanged = [&notifier] { notifier.Post(); };

    // A burst from a worker: every job appended and announced, while the window is busy elsewhere.
    std::thread worker([this] {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
                auto job = std::make_shared<CSpoolFile>();
                job->SetReady();
                app_->Jobs.AppendJob(job);
            }
            app_->Ui.PostJobListChanged();
        }
    });
    worker.join();
    const int before = view.RefreshCount();
    // One notification waits, whatever the count of posts; it refreshes at once or, this close to the
    // view's first refresh, at the end of the interval.
    QCoreApplication::sendPostedEvents(&notifier);
    EXPECT_TRUE(WaitFor([&] { return view.model()->rowCount() == 500; }));
    EXPECT_EQ(view.RefreshCount(), before + 1);

    // Posts that come while the message loop runs: no change is lost, however they fall in with refreshes.
    std::thread second([this] {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
                app_->Jobs.AppendJob(std::make_shared<CSpoolFile>());
            }
            app_->Ui.PostJobListChanged();
        }
    });
    EXPECT_TRUE(WaitFor([&] { return view.model()->rowCount() == 1000; }));
    second.join();
    EXPECT_TRUE(WaitFor([&] { return view.model()->rowCount() == 1000; }));
    ui_.OnPostJobListChanged = nullptr;
}

}  // namespace
}  // namespace velmora
