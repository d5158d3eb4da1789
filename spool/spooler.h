// The spooler: one dispatcher thread that takes the Ready jobs in list order and hands a copy of each to
// the print dispatch, records the outcome and schedules the job's deletion when DeleteSpool is on.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "core/manual_reset_event.h"
#include "core/reporter.h"
#include "core/settings.h"
#include "core/stop_grace.h"
#include "spool/delayed_deletions.h"
#include "spool/job_store.h"

namespace velmora {

// Sends a job along its virtual printer's route; runs on the dispatcher thread without JobListLock. Once
// cut is set the dispatch ends what it started as soon as it can and reports itself cut.
using DispatchFunction = std::function<CDispatchOutcome(const CSpoolFile& job, const std::atomic<bool>& cut)>;

class CSpooler {
  public:
    CSpooler(CJobStore& jobs, CReporter& reporter, const CSettings& settings, CManualResetEvent& spoolerEvent,
             DispatchFunction dispatch);
    // Stops the dispatcher after its dispatch under way and ends the waiting deletions.
    ~CSpooler();
    CSpooler(const CSpooler&) = delete;
    CSpooler& operator=(const CSpooler&) = delete;

    // Started and stopped by the user, by start-up and by the service. A stop lets the dispatch under way
    // run to its end; a start before then lets that thread go on as the spooler.
    void StartSpooler();
    void StopSpooler();
    bool IsSpoolerRunning() const;
    void SetSpoolerRunning(bool running);
    // Waits for the dispatcher thread to end after StopSpooler (the end of the run does so before the job
    // list is saved and emptied); a dispatch still under way after the grace is cut, with a log line.
    void JoinSpoolerThread(std::chrono::milliseconds grace = STOP_GRACE);
    // The end of the run: the waiting deletions end without deleting.
    void EndDelayedDeletes() { Deletions.End(); }
    int32_t PendingDelayedDeletes() const { return Deletions.PendingDelayedDeletes(); }

  private:
    void SpoolerThread();
    void DispatchJobs();
    // The dispatcher's decision to go on after a wake-up; once it has decided to end, a later start
    // starts a new thread.
    bool SpoolerThreadGoesOn();
    void DispatchOne(const CSpoolFile& job);

    CJobStore& Jobs;
    CReporter& Reporter;
    const CSettings& Settings;
    CManualResetEvent& SpoolerEvent;
    DispatchFunction Dispatch;
    CDelayedDeletions Deletions;

    // SpoolerLock guards the running flag and whether a dispatcher thread exists that has not decided to
    // end; it is never held together with JobListLock.
    mutable std::mutex SpoolerLock;
    bool SpoolerRunning = false;
    bool SpoolerThreadAlive = false;
    // Guards the handle: start, join and the end of the run may come from different threads.
    std::mutex SpoolerThreadHandleLock;
    std::thread SpoolerThreadHandle;
    CManualResetEvent SpoolerThreadEnded;
    std::atomic<bool> CutDispatch{false};
};

}  // namespace velmora
