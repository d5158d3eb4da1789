// The job store: the job list, its lock, the one operation through which a job changes after its
// creation, and the list's file. Jobs enter it whole (from job intake) and leave it through ApplyJobAction.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/manual_reset_event.h"
#include "core/recursive_timed_mutex.h"
#include "core/reporter.h"
#include "core/settings.h"
#include "platform/file.h"
#include "spool/job_journal.h"
#include "spool/job_list_saver.h"
#include "spool/spool_file.h"

namespace velmora {

// The changes a job undergoes after its creation, all made through ApplyJobAction.
enum JobAction : int32_t {
    JOB_RELEASE = 0,
    JOB_HOLD = 1,
    JOB_DELETE = 2,
    JOB_TRANSFER = 3,
    JOB_SAVED = 4,
    JOB_ERROR = 5,
};

// What became of a dispatched job: 0 sent, 1 failed with the reason. A dispatch cut by the server's stop
// leaves the job Ready, to be printed after the next start.
struct CDispatchOutcome {
    int32_t Result = 0;
    std::u16string ErrorText;
    bool Cut = false;
};

// One attempt of a deletion that waits until the data file is gone.
enum class DeletionStep { Done, TryAgain };

class CJobStore {
  public:
    // The spooler sleeps on the event; every change that may give it work sets it.
    CJobStore(CReporter& reporter, const CSettings& settings, CManualResetEvent& spoolerEvent);
    ~CJobStore();
    CJobStore(const CJobStore&) = delete;
    CJobStore& operator=(const CJobStore&) = delete;

    // spool.list, spool.journal beside it, and the spool folder whose queue folders hold the data files.
    void SetListPath(const std::u16string& path) { SpoolListPath = path; }
    const std::u16string& ListPath() const { return SpoolListPath; }
    void SetJournalPath(const std::u16string& path) { JournalPath = path; }
    void SetSpoolFolder(const std::u16string& path) { SpoolFolder = path; }

    // The caller holds JobListLock at most once when an action may wait (a waiting deletion gives the
    // lock up between its attempts). JOB_TRANSFER moves the job to printerName, the choice its dialog made
    // before the call.
    void ApplyJobAction(JobAction action, JobId job, bool waitUntilDeleted,
                        const std::u16string& printerName = {});
    // The index of the job in JobList, or -1; the caller holds JobListLock.
    long FindJob(JobId job) const;
    // The job as it is now, for a dialog that shows it without holding the lock; none when it is gone.
    std::optional<CSpoolFile> CopyOfJob(JobId job) const;
    // Appends a received job; the caller holds JobListLock.
    void AppendJob(SpoolFilePtr job);
    // Job intake, before the acknowledgement that completes a reception: the job, whose data file holds
    // length bytes, survives a crash from now on (and a power cut too unless DurableIntake is 0). False
    // when it could not be recorded; the reception then fails.
    bool RecordReceivedJob(const CSpoolFile& job, int64_t length, platform::CNativeFile& dataFile);
    // A recorded reception that its client aborted after all.
    void ForgetReceivedJob(const CSpoolFile& job);
    // Job intake: prepares the payload of a completely received job and appends it to the list.
    void AddSpoolJob(SpoolFilePtr job, uint32_t threadNumber);
    // Every change of the list or of a job's state ends here: the list reaches the disk soon after.
    void NoteJobListChange() { JobListSaver.RequestSave(); }

    // The spooler's side: marks the first Ready job Printing and returns a copy of it (none when no job
    // is Ready); then records the dispatch's outcome on the job, if it still exists.
    std::shared_ptr<const CSpoolFile> TakeNextReadyJob();
    void EndDispatch(JobId job, const CDispatchOutcome& outcome);
    // Deletes every Saved job with its data file (start-up with AutoDelete).
    void AutoDeleteSavedJobs();
    // One attempt of a delayed deletion: the job is Held and its file removed; the record leaves the list
    // on the attempt after the file is gone. TryAgain while the file stays or the job is being dispatched.
    DeletionStep DeleteStep(JobId job);
    // The end of the run: deletions that wait give up, leaving their jobs Held for the next run.
    void EndWaits();

    // spool.list: written whole; read at start-up together with the jobs the journal kept since its last
    // save, and the spool files no job names, which become held jobs.
    void SaveJobList();
    void LoadJobList();
    // Writes spool.list without telling the user; false with the reason on failure.
    bool WriteJobListFile(platform::CFileError* error);
    // Saves that follow every change of the job list while the server runs.
    void StartPromptSaves();
    void StopPromptSaves();
    // Empties the list and closes the journal (the server's stop, after the last save).
    void Clear();

    // The jobs in arrival order. Shared ownership keeps a record alive while a dialog still shows it after
    // its removal from the list.
    std::vector<SpoolFilePtr> JobList;
    // Recursive for the thread that holds it; the job list view takes it with try_lock_for and skips a
    // refresh rather than wait.
    mutable CRecursiveTimedMutex JobListLock;
    CJobListSaver JobListSaver;

  private:
    void OpenJournal();
    void RecoverJournalJobs(std::vector<CJournalEntry> entries);
    void RegisterUnnamedSpoolFiles();
    void AppendRecoveredJob(const SpoolFilePtr& job, std::u16string_view format);
    bool DeleteLocalFile(CSpoolFile& job, bool waitUntilDeleted,
                         std::unique_lock<CRecursiveTimedMutex>& lock);
    bool DeleteNow(CSpoolFile& job);
    void EraseJob(JobId job);
    void Notify(bool postToWindow);

    CReporter& Reporter;
    const CSettings& Settings;
    CManualResetEvent& SpoolerEvent;
    std::u16string SpoolListPath;
    std::u16string JournalPath;
    std::u16string SpoolFolder;
    CJobJournal Journal;
    // One writer of spool.list at a time, so that an older list never overwrites a newer one.
    std::mutex JobListFileLock;
    // The job whose dispatch runs (0: none), under JobListLock; a deletion of that job waits for its end.
    JobId DispatchingJob = 0;
    // Jobs whose file is gone and whose record leaves the list at the next deletion step.
    std::vector<JobId> FileGone;
    std::condition_variable_any DispatchEnded;
    CManualResetEvent RunEnding;
};

}  // namespace velmora
