#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "spool/job_journal.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::U16;

CSpoolFile Job(const std::u16string& name) {
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

// The latest entry of each job counts; a forgotten job is gone; a tail cut anywhere or a changed byte
// ends the reading at the entry before it.
TEST(JobJournalTest, ReadingKeepsTheLatestWholeEntryOfEachJob) {
    const CSpoolFile one = Job(u"one");
    const CSpoolFile two = Job(u"two");
    const CSpoolFile three = Job(u"three");
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
    CSpoolFile four = Job(u"four");
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

// Sessions recording at once all get their entries written; a fold keeps only the jobs the saved list
// lacks, and a reopened journal gives them back.
TEST(JobJournalTest, ConcurrentRecordsAllArriveAndAFoldKeepsOnlyUnlistedJobs) {
    test::TempFolder folder;
    const std::u16string path = U16(folder.File("spool.journal"));
    std::vector<CSpoolFile> jobs;
    for (int i = 0; i < 64; ++i)
        jobs.push_back(Job(u"job" + U16(std::to_string(i))));
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
