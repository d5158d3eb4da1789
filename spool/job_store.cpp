#include "spool/job_store.h"

#include "spool/payload.h"
#include "text/format.h"

namespace velmora {

CJobStore::CJobStore(CReporter& reporter, const CSettings& settings, CManualResetEvent& spoolerEvent)
    : Reporter(reporter), Settings(settings), SpoolerEvent(spoolerEvent) {}

CJobStore::~CJobStore() {
    EndWaits();
    // The saving thread reads the list: it ends before the list does.
    StopPromptSaves();
}

long CJobStore::FindJob(JobId job) const {
    for (std::size_t i = 0; i < JobList.size(); ++i) {
        if (JobList[i]->Id() == job)
            return static_cast<long>(i);
    }
    return -1;
}

std::optional<CSpoolFile> CJobStore::CopyOfJob(JobId job) const {
    std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
    const long index = FindJob(job);
    if (index < 0)
        return std::nullopt;
    return *JobList[static_cast<std::size_t>(index)];
}

void CJobStore::AppendJob(SpoolFilePtr job) {
    JobList.push_back(std::move(job));
    NoteJobListChange();
}

void CJobStore::Notify(bool postToWindow) {
    NoteJobListChange();
    if (postToWindow)
        Reporter.UserInterface().PostJobListChanged();
    SpoolerEvent.Set();
}

void CJobStore::ApplyJobAction(JobAction action, JobId id, bool waitUntilDeleted,
                               const std::u16string& printerName) {
    {
        std::unique_lock<CRecursiveTimedMutex> lock(JobListLock);
        if (action == JOB_DELETE && waitUntilDeleted) {
            // The dispatch still reads the job's data file: the deletion waits for its end.
            DispatchEnded.wait(lock, [&] { return DispatchingJob != id || RunEnding.IsSet(); });
        }
        const long index = FindJob(id);
        if (index >= 0) {
            // Kept alive here: the deletion may give the lock up while it waits.
            const SpoolFilePtr job = JobList[static_cast<std::size_t>(index)];
            switch (action) {
                case JOB_RELEASE:
                    job->SetReady();
                    break;
                case JOB_HOLD:
                    job->SetHeld();
                    break;
                case JOB_DELETE:
                    if (DeleteLocalFile(*job, waitUntilDeleted, lock))
                        EraseJob(id);
                    break;
                case JOB_TRANSFER:
                    job->PrinterName = printerName;
                    break;
                case JOB_SAVED:
                    job->SetSaved();
                    break;
                case JOB_ERROR:
                    job->SetError();
                    break;
            }
        }
    }
    Notify(action == JOB_SAVED || action == JOB_ERROR);
}

void CJobStore::EraseJob(JobId id) {
    // Searched again: the list may have changed while the lock was given up.
    const long index = FindJob(id);
    if (index >= 0)
        JobList.erase(JobList.begin() + index);
}

bool CJobStore::RecordReceivedJob(const CSpoolFile& job, int64_t length, platform::CNativeFile& dataFile) {
    return Journal.Record(JOURNAL_RECEIVED, job, length, Settings.DurableIntake != 0, &dataFile);
}

void CJobStore::ForgetReceivedJob(const CSpoolFile& job) {
    Journal.Record(JOURNAL_FORGOTTEN, job, 0, false);
}

void CJobStore::AddSpoolJob(SpoolFilePtr job, uint32_t threadNumber) {
    CSpoolFile prepared;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        PreparePayload(*job, Reporter, Settings);
        AppendJob(job);
        Journal.MarkListed(job->Id());
        prepared = *job;
        Reporter.WriteLog(
            Format(u"%d\tLPD (%d): Add Spool Job:%s, Class:%s, Name:%s, User:%s, Type:%s, Queue:%s",
                   Reporter.ModeDigit(), threadNumber, job->JobName, job->JobClass, job->DocumentName,
                   job->Owner, job->FileType, job->PrinterName));
    }
    // Its new names (.pdf, the expansion) until the next save of the list.
    Journal.RecordPrepared(prepared);
    Reporter.UserInterface().PostJobListChanged();
    SpoolerEvent.Set();
}

std::shared_ptr<const CSpoolFile> CJobStore::TakeNextReadyJob() {
    std::shared_ptr<const CSpoolFile> taken;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        for (const SpoolFilePtr& job : JobList) {
            if (job->State == STATE_READY) {
                job->SetPrinting();
                job->ErrorText.clear();
                DispatchingJob = job->Id();
                // The dispatch works on a copy: the user interface reads the record (and may move it to
                // another virtual printer) while the job prints, and the record changes only under the lock.
                taken = std::make_shared<const CSpoolFile>(*job);
                break;
            }
        }
    }
    if (taken) {
        NoteJobListChange();
        Reporter.UserInterface().PostJobListChanged();
    }
    return taken;
}

void CJobStore::EndDispatch(JobId id, const CDispatchOutcome& outcome) {
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        DispatchingJob = 0;
        const long index = FindJob(id);
        if (index >= 0 && !outcome.ErrorText.empty())
            JobList[static_cast<std::size_t>(index)]->ErrorText = outcome.ErrorText;
    }
    DispatchEnded.notify_all();
    if (outcome.Cut)
        ApplyJobAction(JOB_RELEASE, id, false);
    else
        ApplyJobAction(outcome.Result != 0 ? JOB_ERROR : JOB_SAVED, id, false);
}

void CJobStore::AutoDeleteSavedJobs() {
    Reporter.WriteLog(Format(u"%d\tStart Auto Delete", Reporter.ModeDigit()));
    bool changed = false;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        for (std::size_t i = 0; i < JobList.size();) {
            if (JobList[i]->State == STATE_SAVED && DeleteNow(*JobList[i])) {
                JobList.erase(JobList.begin() + static_cast<std::ptrdiff_t>(i));
                changed = true;
            } else {
                ++i;
            }
        }
    }
    if (changed)
        NoteJobListChange();
    SpoolerEvent.Set();
    if (changed)
        Reporter.UserInterface().PostJobListChanged();
    Reporter.WriteLog(Format(u"%d\tEnd Auto Delete", Reporter.ModeDigit()));
}

void CJobStore::Clear() {
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        JobList.clear();
        FileGone.clear();
    }
    Journal.Close();
}

void CJobStore::EndWaits() {
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        RunEnding.Set();
    }
    DispatchEnded.notify_all();
}

}  // namespace velmora
