#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/recursive_timed_mutex.h"
#include "resources/string_table.h"
#include "support/app_fixture.h"
#include "text/format.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ToolPath;
using test::U16;

class JobListTest : public test::AppFixture {
  protected:
    // A job with a data file in the spool folder, appended to the list.
    SpoolFilePtr AddJob(const std::string& name, int32_t state = STATE_READY) {
        auto job = std::make_shared<CSpoolFile>();
        const std::string path = folder_.File("Spool/" + name);
        test::WriteFile(path, "data");
        job->LocalFileName = U16(path);
        job->PrinterName = u"PASS";
        job->SetState(state);
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        app_->Jobs.AppendJob(job);
        return job;
    }
    std::size_t Count() {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        return app_->Jobs.JobList.size();
    }
};

TEST_F(JobListTest, ActionsSetStatesTextsAndNotifications) {
    const SpoolFilePtr job = AddJob("a.tmp");
    struct Step {
        JobAction Action;
        int32_t State;
        const char16_t* Text;
        int Posts;
    } steps[] = {
        {JOB_HOLD, STATE_HELD, u"Held", 0},    {JOB_RELEASE, STATE_READY, u"Ready", 0},
        {JOB_SAVED, STATE_SAVED, u"Saved", 1}, {JOB_RELEASE, STATE_READY, u"Ready", 1},
        {JOB_ERROR, STATE_ERROR, u"Error", 2}, {JOB_TRANSFER, STATE_ERROR, u"Error", 2},
    };
    for (const Step& step : steps) {
        app_->SpoolerEvent.Reset();
        app_->Jobs.ApplyJobAction(step.Action, job->Id(), false);
        EXPECT_EQ(job->State, step.State) << step.Action;
        EXPECT_EQ(job->StateText, step.Text) << step.Action;
        EXPECT_EQ(posts_, step.Posts) << step.Action;
        EXPECT_TRUE(app_->SpoolerEvent.IsSet()) << step.Action;
    }
    // The service has no window to notify.
    app_->SetServiceMode(true);
    app_->Jobs.ApplyJobAction(JOB_SAVED, job->Id(), false);
    EXPECT_EQ(posts_, 2);
    // Texts come in the language of the thread that changes the state.
    SetThreadLanguage(Language::French);
    app_->Jobs.ApplyJobAction(JOB_HOLD, job->Id(), false);
    EXPECT_EQ(job->StateText, LoadString(IDS_STATE_HELD, Language::French));
    SetThreadLanguage(Language::English);
}

// A job that has gone meanwhile (a dialog ran without the lock) is left alone, but the spooler wakes.
TEST_F(JobListTest, TransferChangesThePrinterAndNothingChangesAJobNoLongerListed) {
    const SpoolFilePtr gone = AddJob("gone.tmp", STATE_SAVED);
    app_->Jobs.ApplyJobAction(JOB_TRANSFER, gone->Id(), false, u"OTHER");
    EXPECT_EQ(gone->PrinterName, u"OTHER");
    EXPECT_EQ(gone->State, STATE_SAVED);
    app_->Jobs.ApplyJobAction(JOB_DELETE, gone->Id(), false);
    const SpoolFilePtr newer = AddJob("newer.tmp", STATE_HELD);
    EXPECT_NE(newer->Id(), gone->Id());
    app_->SpoolerEvent.Reset();
    app_->Jobs.ApplyJobAction(JOB_RELEASE, gone->Id(), false);
    EXPECT_EQ(newer->State, STATE_HELD);
    EXPECT_TRUE(app_->SpoolerEvent.IsSet());
    app_->Jobs.ApplyJobAction(JOB_ERROR, gone->Id(), false);
    app_->Jobs.ApplyJobAction(JOB_TRANSFER, gone->Id(), false, u"THIRD");
    EXPECT_EQ(gone->PrinterName, u"OTHER");
    EXPECT_EQ(posts_, 1);
}

TEST_F(JobListTest, DeleteRemovesTheFileAndTheRecordKeepingOrder) {
    const SpoolFilePtr first = AddJob("1.tmp");
    const SpoolFilePtr second = AddJob("2.tmp");
    const SpoolFilePtr third = AddJob("3.tmp");
    app_->Jobs.ApplyJobAction(JOB_DELETE, second->Id(), false);
    EXPECT_FALSE(platform::FileExists(second->LocalFileName));
    ASSERT_EQ(Count(), 2u);
    EXPECT_EQ(app_->Jobs.JobList[0], first);
    EXPECT_EQ(app_->Jobs.JobList[1], third);
    // A data file removed by hand is no obstacle.
    platform::RemoveFile(first->LocalFileName);
    app_->Jobs.ApplyJobAction(JOB_DELETE, first->Id(), false);
    ASSERT_EQ(Count(), 1u);
    EXPECT_EQ(app_->Jobs.JobList[0], third);
    EXPECT_TRUE(messages_.empty());
}

TEST_F(JobListTest, AnUndeletableFileKeepsTheJobHeldWithALogLineAndAMessage) {
    const SpoolFilePtr job = AddJob("held.tmp");
    ChildProcess holder(ToolPath("hold_file"), {platform::UnicodeToAnsi(job->LocalFileName), "60000"});
    ASSERT_TRUE(holder.WaitForLine("held"));
    app_->Jobs.ApplyJobAction(JOB_DELETE, job->Id(), false);
    EXPECT_EQ(Count(), 1u);
    EXPECT_EQ(job->State, STATE_HELD);
    const std::u16string expected =
        Format(u"0\tUnable to delete file : %s (%s)", job->LocalFileName, test::SharingViolationText());
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], expected);
    EXPECT_EQ(LogMessages().back(), platform::UnicodeToAnsi(expected));
}

TEST_F(JobListTest, WaitingDeletionGivesTheListUpBetweenAttempts) {
    const SpoolFilePtr job = AddJob("printed.tmp", STATE_SAVED);
    auto holder = std::make_unique<ChildProcess>(
        ToolPath("hold_file"),
        std::vector<std::string>{platform::UnicodeToAnsi(job->LocalFileName), "60000"});
    ASSERT_TRUE(holder->WaitForLine("held"));
    std::atomic<bool> done{false};
    std::thread deletion([&] {
        app_->Jobs.ApplyJobAction(JOB_DELETE, job->Id(), true);
        done = true;
    });
    // While the file stays undeletable, others still get the list between the attempts.
    const auto heldUnderLock = [&] {
        if (!app_->Jobs.JobListLock.try_lock_for(std::chrono::milliseconds(300)))
            return false;
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock, std::adopt_lock);
        return job->State == STATE_HELD;
    };
    EXPECT_TRUE(test::WaitUntil(heldUnderLock));
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(heldUnderLock());
    EXPECT_FALSE(done);
    EXPECT_EQ(Count(), 1u);
    holder.reset();  // the other program lets go: the deletion completes
    deletion.join();
    EXPECT_EQ(Count(), 0u);
    EXPECT_FALSE(platform::FileExists(job->LocalFileName));
    EXPECT_TRUE(messages_.empty());
}

}  // namespace
}  // namespace velmora
