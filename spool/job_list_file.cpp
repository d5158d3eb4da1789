// spool.list: the job list as it survives restarts.
#include "core/my_file.h"
#include "resources/string_table.h"
#include "spool/job_archive.h"
#include "spool/job_store.h"
#include "text/format.h"

namespace velmora {

namespace {

std::u16string Cut(std::u16string text, std::size_t length) {
    if (text.size() > length)
        text.resize(length);
    return text;
}

}  // namespace

bool CJobStore::WriteJobListFile(platform::CFileError* error) {
    std::lock_guard<std::mutex> writing(JobListFileLock);
    std::string bytes;
    std::vector<JobId> listed;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        bytes = WriteJobArchive(JobList);
        listed = Journal.ListedJobs();
    }
    Journal.MakeDataDurable(listed);
    if (!ReplaceFileContent(SpoolListPath, bytes, Settings.AccessFile_MaxAttempts,
                            Settings.AccessFile_WaitingTimeMsec, error)) {
        return false;
    }
    // The list on the disk holds these jobs now: the journal no longer needs to.
    platform::CFileError folded;
    if (!Journal.Fold(listed, &folded)) {
        Reporter.WriteLog(
            Format(u"%d\tUnable to fold the job journal : %s", Reporter.ModeDigit(), folded.Description()));
    }
    return true;
}

void CJobStore::SaveJobList() {
    platform::CFileError error;
    if (!WriteJobListFile(&error))
        Reporter.ShowMessage(Cut(error.Description(), 1024));
}

void CJobStore::LoadJobList() {
    CMyFile file(Settings.AccessFile_MaxAttempts, Settings.AccessFile_WaitingTimeMsec);
    platform::CFileError error;
    if (!file.OpenWithRetry(SpoolListPath, platform::OPEN_READ | platform::SHARE_EXCLUSIVE, &error)) {
        Reporter.ShowMessage(Cut(error.Description(), 1024));
        return;
    }
    std::string bytes;
    const int64_t length = file.Length();
    if (length > 0)
        bytes.resize(static_cast<std::size_t>(length));
    const long read = bytes.empty() ? 0 : file.Read(bytes.data(), bytes.size());
    bytes.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
    file.Close();

    CJobArchiveContent content = ReadJobArchive(bytes);
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        for (SpoolFilePtr& job : content.Jobs)
            JobList.push_back(std::move(job));
    }
    if (content.Damaged) {
        const std::u16string text = LoadString(IDS_SPOOL_LIST_CORRUPTED);
        Reporter.WriteLog(Format(u"%d\t%s", Reporter.ModeDigit(), text));
        Reporter.UserInterface().ShowInformation(text);
    }
    OpenJournal();
}

void CJobStore::OpenJournal() {
    if (JournalPath.empty())
        return;
    platform::CFileError error;
    std::vector<CJournalEntry> entries = Journal.Open(JournalPath, &error);
    if (error) {
        Reporter.ReportFailure(Format(u"%d\tUnable to open the job journal %s (%s)", Reporter.ModeDigit(),
                                      JournalPath, error.Description()));
        return;
    }
    const std::size_t before = JobList.size();
    RecoverJournalJobs(std::move(entries));
    RegisterUnnamedSpoolFiles();
    // The recovered jobs are in the list on the disk before the journal lets them go.
    if (JobList.size() != before)
        SaveJobList();
    else
        Journal.Fold({}, &error);
}

void CJobStore::StartPromptSaves() {
    // failing: the last save failed; the saver's thread alone runs this.
    JobListSaver.Start([this, failing = false]() mutable {
        platform::CFileError error;
        if (WriteJobListFile(&error)) {
            failing = false;
            return;
        }
        // The change is still to be saved: again after the interval (a reader may hold the file), logged
        // once for a run of failures.
        if (!failing) {
            Reporter.WriteLog(
                Format(u"%d\tUnable to save the job list : %s", Reporter.ModeDigit(), error.Description()));
        }
        failing = true;
        JobListSaver.RequestSave();
    });
}

void CJobStore::StopPromptSaves() {
    JobListSaver.Stop();
}

}  // namespace velmora
