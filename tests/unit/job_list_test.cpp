// The job list: its actions, and its file and journal across restarts, crashes and other programs holding it.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "core/my_file.h"
#include "core/recursive_timed_mutex.h"
#include "resources/string_table.h"
#include "spool/job_archive.h"
#include "spool/job_journal.h"
#include "support/app_fixture.h"
#include "text/format.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::ToolPath;
using test::U16;

class JobListTest : public test::AppFixture {
  protected:
    void Append(const SpoolFilePtr& job) {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        app_->Jobs.AppendJob(job);
    }
    void Append(const std::u16string& name, int32_t state) {
        auto job = std::make_shared<CSpoolFile>();
        job->DocumentName = name;
        job->SetState(state);
        Append(job);
    }
    // A job with a data file in the spool folder, appended to the list.
    SpoolFilePtr AddJob(const std::string& name, int32_t state = STATE_READY) {
        auto job = std::make_shared<CSpoolFile>();
        const std::string path = folder_.File("Spool/" + name);
        test::WriteFile(path, "data");
        job->LocalFileName = U16(path);
        job->PrinterName = u"PASS";
        job->SetState(state);
        Append(job);
        return job;
    }
    std::size_t Count() {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        return app_->Jobs.JobList.size();
    }
    std::string ListPath() const { return platform::UnicodeToAnsi(app_->Jobs.ListPath()); }
    // The jobs a second application object reads from the same base folder, as the next run would.
    std::vector<SpoolFilePtr> Loaded() {
        CVelmoraVirtualPrinterApp next;
        next.Jobs.SetListPath(app_->Jobs.ListPath());
        next.Jobs.LoadJobList();
        return next.Jobs.JobList;
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

TEST_F(JobListTest, JobsSurviveARestartAndADamagedFileKeepsTheRecordsBeforeTheDamage) {
    EXPECT_EQ(ReadFile(ListPath()), std::string("\0\0", 2));
    Append(u"printing", STATE_PRINTING);
    Append(u"\u65e5\u672c\u8a9e", STATE_ERROR);
    Append(u"three", STATE_READY);
    app_->Jobs.SaveJobList();
    const std::vector<SpoolFilePtr> loaded = Loaded();
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(loaded[0]->StateText, u"Printing");  // not taken by the spooler after a restart
    EXPECT_EQ(loaded[1]->DocumentName, u"\u65e5\u672c\u8a9e");
    std::string bytes = ReadFile(ListPath());
    bytes.resize(bytes.size() - 10);
    test::WriteFile(ListPath(), bytes);
    app_->Jobs.Clear();
    app_->Jobs.LoadJobList();
    ASSERT_EQ(app_->Jobs.JobList.size(), 2u);
    EXPECT_EQ(app_->Jobs.JobList[1]->DocumentName, u"\u65e5\u672c\u8a9e");
    const std::u16string corrupted = LoadString(IDS_SPOOL_LIST_CORRUPTED);
    EXPECT_EQ(LogMessages().back(), "0\t" + platform::UnicodeToAnsi(corrupted));
    EXPECT_EQ(information_, std::vector<std::u16string>{corrupted});
}

TEST_F(JobListTest, AListHeldByAnotherProgramIsReported) {
    Append(u"kept", STATE_READY);
    app_->Jobs.SaveJobList();
    const std::string before = ReadFile(ListPath());
    Append(u"not saved", STATE_READY);
    {
        ChildProcess holder(ToolPath("hold_file"), {ListPath(), "60000"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        app_->Jobs.SaveJobList();
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_NE(messages_[0].find(test::SharingViolationText()), std::u16string::npos);
        CVelmoraVirtualPrinterApp next;
        next.InstallUserInterface(&ui_);
        next.Jobs.SetListPath(app_->Jobs.ListPath());
        next.Jobs.LoadJobList();
        EXPECT_TRUE(next.Jobs.JobList.empty());
        EXPECT_EQ(messages_.size(), 2u);
    }
    EXPECT_EQ(ReadFile(ListPath()), before);  // read once the holder has let go: Windows' lock is mandatory
}

TEST_F(JobListTest, EveryChangeReachesTheDiskSoonAfterAlsoWhenAReaderHeldTheList) {
    app_->Jobs.StartPromptSaves();
    for (int i = 0; i < 50; ++i)
        Append(Format(u"job %d", i), STATE_READY);
    {
        CMyFile reader(1000, 10);  // waits out a save under way
        platform::CFileError error;
        ASSERT_TRUE(reader.OpenWithRetry(app_->Jobs.ListPath(),
                                         platform::OPEN_READ | platform::SHARE_EXCLUSIVE, &error));
        // A state change is a change too; its save fails while the reader holds the list, and is tried again.
        app_->Jobs.ApplyJobAction(JOB_HOLD, app_->Jobs.JobList[7]->Id(), false);
        EXPECT_TRUE(test::WaitUntil([&] {
            const std::vector<std::string> log = LogMessages();
            return !log.empty() && log.back().starts_with("0\tUnable to save the job list : ");
        }));
    }
    EXPECT_TRUE(test::WaitUntil(
        [&] {
            const std::vector<SpoolFilePtr> saved = Loaded();
            return saved.size() == 50 && saved[49]->DocumentName == u"job 49" &&
                   saved[7]->State == STATE_HELD;
        },
        20000));
    app_->Jobs.StopPromptSaves();
}

// After a crash the journal's unlisted jobs come back, and a spool file no job names is held.
TEST_F(JobListTest, StartUpRecoversTheJournalsJobsAndHoldsUnnamedSpoolFiles) {
    const std::string queue =
        folder_.File("Spool") + test::TempFolder::SEPARATOR + "LP1" + test::TempFolder::SEPARATOR;
    ASSERT_TRUE(std::filesystem::create_directory(queue));
    const auto inQueue = [&](const char* name) {
        auto job = std::make_shared<CSpoolFile>();
        job->PrinterName = u"LP1";
        job->LocalFileName = U16(queue + name);
        job->ControlFile = u"Jreport\nNdoc.txt\n";
        return job;
    };
    const SpoolFilePtr listed = inQueue("listed.tmp");
    test::WriteFile(queue + "listed.tmp", "listed");
    Append(listed);
    app_->Jobs.SaveJobList();
    test::WriteFile(queue + "received.tmp", "acknowledged, then a partial second file");
    test::WriteFile(queue + "unnamed.tmp", "unnamed");
    // Small jobs whose data files a power cut lost, before and after their preparation.
    const SpoolFilePtr lost = inQueue("lost.tmp");
    const SpoolFilePtr renamed = inQueue("renamed.tmp");
    {
        CJobJournal writer;
        platform::CFileError error;
        ASSERT_TRUE(writer.Open(U16(folder_.File("spool.journal")), &error).empty());
        ASSERT_TRUE(writer.Record(JOURNAL_RECEIVED, *inQueue("received.tmp"), 12, true));
        ASSERT_TRUE(writer.Record(JOURNAL_PREPARED, *listed, 0, true));
        for (const SpoolFilePtr& job : {lost, renamed}) {
            platform::CNativeFile data;
            ASSERT_FALSE(data.Open(job->LocalFileName, platform::OPEN_READ_WRITE | platform::OPEN_CREATE));
            ASSERT_FALSE(data.Write("the data", 8));
            ASSERT_TRUE(writer.Record(JOURNAL_RECEIVED, *job, 8, true, &data));
        }
        renamed->LocalFileName = U16(queue + "renamed.pdf");
        writer.RecordPrepared(*renamed);
    }
    std::filesystem::remove(queue + "lost.tmp");
    std::filesystem::remove(queue + "renamed.tmp");
    app_->Jobs.Clear();
    app_->Jobs.LoadJobList();
    ASSERT_EQ(app_->Jobs.JobList.size(), 5u);
    const CSpoolFile& recovered = *app_->Jobs.JobList[1];
    EXPECT_EQ(recovered.JobName, u"report");
    EXPECT_EQ(recovered.DocumentName, u"doc.txt");
    EXPECT_EQ(recovered.State, STATE_READY);
    EXPECT_EQ(ReadFile(queue + "received.tmp"), "acknowledged");
    for (const std::string name : {"lost.tmp", "renamed.tmp"}) {
        EXPECT_EQ(ReadFile(queue + name), "the data") << name;
        EXPECT_TRUE(
            std::any_of(app_->Jobs.JobList.begin(), app_->Jobs.JobList.end(),
                        [&](const SpoolFilePtr& job) { return job->LocalFileName == U16(queue + name); }))
            << name;
    }
    const CSpoolFile& unnamed = *app_->Jobs.JobList[4];
    EXPECT_EQ(unnamed.PrinterName, u"LP1");
    EXPECT_EQ(unnamed.State, STATE_HELD);
    EXPECT_EQ(unnamed.FileSize, u"7 bytes");
    const std::vector<std::string> log = LogMessages();
    EXPECT_EQ(log.at(log.size() - 4),
              "0\tJob recovered from the journal: " + queue + "received.tmp, Queue:LP1");
    EXPECT_EQ(log.back(), "0\tSpool file named by no job, held: " + queue + "unnamed.tmp, Queue:LP1");
    // The list on the disk holds them all, and the journal let them go.
    EXPECT_EQ(ReadJobArchive(ReadFile(ListPath())).Jobs.size(), 5u);
    EXPECT_EQ(ReadFile(folder_.File("spool.journal")), "");
}

TEST_F(JobListTest, ASaveInterruptedAtAnyPointLeavesAReadableFile) {
    std::mt19937 random(12345);
    const std::string base = folder_.Path() + "/interrupted";
    for (int round = 0; round < 8; ++round) {
        ChildProcess server(ToolPath("append_jobs"), {"save"}, {"VELMORA_BASE_FOLDER=" + base});
        ASSERT_TRUE(server.WaitForLine("saved 0"));
        std::this_thread::sleep_for(std::chrono::milliseconds(random() % 300));
        server.Kill(SIGKILL);
        server.Wait();
        const CJobArchiveContent content = ReadJobArchive(ReadFile(base + "/spool.list"));
        EXPECT_FALSE(content.Damaged) << "round " << round;
        EXPECT_GE(content.Jobs.size(), 100u);
        EXPECT_EQ(content.Jobs.size() % 100, 0u);
    }
}

CSpoolFile JournalJob(const std::u16string& name) {
    CSpoolFile job;
    job.JobName = name;
    job.LocalFileName = u"/nowhere/" + name;
    return job;
}

std::vector<std::u16string> Names(const std::vector<CJournalEntry>& entries) {
    std::vector<std::u16string> names;
    for (const CJournalEntry& entry : entries)
        names.push_back(entry.Job.JobName + (entry.Kind == JOURNAL_PREPARED ? u"+" : u""));
    return names;
}

// The latest whole entry of each job counts; a cut tail or a changed byte ends the reading.
TEST(JobJournalTest, ReadingKeepsTheLatestWholeEntryOfEachJob) {
    const CSpoolFile one = JournalJob(u"one");
    const CSpoolFile two = JournalJob(u"two");
    const CSpoolFile three = JournalJob(u"three");
    const std::string head =
        WriteJournalEntry(JOURNAL_RECEIVED, one, 5) + WriteJournalEntry(JOURNAL_RECEIVED, two, 7) +
        WriteJournalEntry(JOURNAL_PREPARED, one, 0) + WriteJournalEntry(JOURNAL_FORGOTTEN, two, 0);
    const std::string last = WriteJournalEntry(JOURNAL_RECEIVED, three, 9);
    EXPECT_EQ(Names(ReadJournal(head + last)), (std::vector<std::u16string>{u"one+", u"three"}));
    EXPECT_EQ(ReadJournal(head + last).back().Length, 9);
    for (std::size_t cut = 0; cut < last.size(); ++cut)
        ASSERT_EQ(Names(ReadJournal(head + last.substr(0, cut))), std::vector<std::u16string>{u"one+"})
            << cut;
    std::string changed = head + last;
    changed[head.size() + 30] ^= 1;
    EXPECT_EQ(Names(ReadJournal(changed)), std::vector<std::u16string>{u"one+"});
    // Data recorded with a job stay with it through its preparation; a changed byte among them is damage.
    CSpoolFile four = JournalJob(u"four");
    const std::string withData = WriteJournalEntry(JOURNAL_RECEIVED_DATA, four, 0, "data!");
    four.LocalFileName = u"/nowhere/four.pdf";
    const std::vector<CJournalEntry> read =
        ReadJournal(withData + WriteJournalEntry(JOURNAL_PREPARED, four, 0));
    ASSERT_EQ(Names(read), std::vector<std::u16string>{u"four+"});
    EXPECT_TRUE(read[0].HasData);
    EXPECT_EQ(read[0].Data, "data!");
    EXPECT_EQ(read[0].DataFile, u"/nowhere/four");
    std::string damaged = withData;
    damaged[withData.size() - 6] ^= 1;
    EXPECT_TRUE(ReadJournal(damaged).empty());
}

// Concurrent records all arrive; a fold keeps only the jobs the saved list lacks.
TEST(JobJournalTest, ConcurrentRecordsAllArriveAndAFoldKeepsOnlyUnlistedJobs) {
    test::TempFolder folder;
    const std::u16string path = U16(folder.File("spool.journal"));
    std::vector<CSpoolFile> jobs;
    for (int i = 0; i < 64; ++i)
        jobs.push_back(JournalJob(u"job" + U16(std::to_string(i))));
    CJobJournal journal;
    platform::CFileError error;
    ASSERT_TRUE(journal.Open(path, &error).empty());
    std::vector<std::thread> sessions;
    for (int t = 0; t < 8; ++t) {
        sessions.emplace_back([&, t] {
            for (int i = t; i < 64; i += 8)
                EXPECT_TRUE(journal.Record(JOURNAL_RECEIVED, jobs[i], i, true));
        });
    }
    for (std::thread& session : sessions)
        session.join();
    EXPECT_EQ(ReadJournal(ReadFile(folder.File("spool.journal"))).size(), 64u);
    std::vector<JobId> listed;
    for (int i = 1; i < 64; ++i) {
        journal.MarkListed(jobs[i].Id());
        listed.push_back(jobs[i].Id());
    }
    ASSERT_EQ(journal.ListedJobs().size(), 63u);
    // The one left is recorded again with its data, then prepared: the fold keeps both.
    platform::CNativeFile data;
    ASSERT_FALSE(data.Open(U16(folder.File("job0.tmp")), platform::OPEN_READ_WRITE | platform::OPEN_CREATE));
    ASSERT_FALSE(data.Write("zero", 4));
    ASSERT_TRUE(journal.Record(JOURNAL_RECEIVED, jobs[0], 4, true, &data));
    journal.RecordPrepared(jobs[0]);
    ASSERT_TRUE(journal.Fold(listed, &error));
    journal.Close();
    const std::vector<CJournalEntry> left = journal.Open(path, &error);
    ASSERT_EQ(Names(left), std::vector<std::u16string>{u"job0+"});
    EXPECT_EQ(left[0].Data, "zero");
    ASSERT_TRUE(journal.Fold({jobs[0].Id()}, &error));
    EXPECT_EQ(ReadFile(folder.File("spool.journal")), "");
}

}  // namespace
}  // namespace velmora
