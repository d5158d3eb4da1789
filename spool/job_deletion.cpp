// The deletion of a job's data file: at once with a few retries, or waiting as long as the file stays.
#include <algorithm>

#include "core/my_file.h"
#include "spool/job_store.h"
#include "text/format.h"

namespace velmora {

namespace {

constexpr auto DELETION_RETRY_INTERVAL = std::chrono::seconds(1);
constexpr std::size_t ERROR_TEXT_CAPACITY = 1024;

bool IsGone(const platform::CFileError& error) {
    return !error || error.Kind == platform::FileErrorKind::NotFound;
}

}  // namespace

bool CJobStore::DeleteNow(CSpoolFile& job) {
    // Held: the spooler cannot take the job, and it stays so if the file cannot be deleted.
    job.SetHeld();
    if (IsGone(platform::RemoveFile(job.LocalFileName)))
        return true;
    std::u16string failure;
    if (RemoveFileWithRetry(job.LocalFileName, Settings.AccessFile_MaxAttempts,
                            Settings.AccessFile_WaitingTimeMsec, &failure, ERROR_TEXT_CAPACITY)) {
        return true;
    }
    const std::u16string text =
        Format(u"%d\tUnable to delete file : %s (%s)", Reporter.ModeDigit(), job.LocalFileName, failure);
    Reporter.WriteLog(text);
    Reporter.ShowMessageBox(text, MessageIcon::Error);
    return false;
}

bool CJobStore::DeleteLocalFile(CSpoolFile& job, bool waitUntilDeleted,
                                std::unique_lock<CRecursiveTimedMutex>& lock) {
    if (!waitUntilDeleted)
        return DeleteNow(job);
    // A file that stays undeletable never keeps the job list locked: the waits give the lock up.
    const auto waitUnlocked = [&] {
        lock.unlock();
        const bool ending = RunEnding.WaitFor(DELETION_RETRY_INTERVAL);
        lock.lock();
        return !ending;
    };
    job.SetHeld();
    while (!IsGone(platform::RemoveFile(job.LocalFileName))) {
        // At the end of the run the job stays, Held, for the next one.
        if (!waitUnlocked())
            return false;
        job.SetHeld();
    }
    waitUnlocked();
    return true;
}

DeletionStep CJobStore::DeleteStep(JobId id) {
    std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
    if (DispatchingJob == id)
        return DeletionStep::TryAgain;
    const long index = FindJob(id);
    if (index < 0)
        return DeletionStep::Done;
    const auto gone = std::find(FileGone.begin(), FileGone.end(), id);
    if (gone != FileGone.end()) {
        FileGone.erase(gone);
        JobList.erase(JobList.begin() + index);
        NoteJobListChange();
        SpoolerEvent.Set();
        return DeletionStep::Done;
    }
    CSpoolFile& job = *JobList[static_cast<std::size_t>(index)];
    job.SetHeld();
    if (IsGone(platform::RemoveFile(job.LocalFileName)))
        FileGone.push_back(id);
    NoteJobListChange();
    SpoolerEvent.Set();
    return DeletionStep::TryAgain;
}

}  // namespace velmora
