// The automatic deletions of dispatched jobs: each job is deleted a set time after its dispatch, by one
// timer thread for all of them. A file that cannot be deleted yet is tried again every second without
// holding up the deletions of other jobs.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "core/user_interface.h"
#include "spool/job_store.h"

namespace velmora {

class CDelayedDeletions {
  public:
    CDelayedDeletions(CJobStore& jobs, CUserInterface& ui) : Jobs(jobs), Ui(ui) {}
    ~CDelayedDeletions() { End(); }
    CDelayedDeletions(const CDelayedDeletions&) = delete;
    CDelayedDeletions& operator=(const CDelayedDeletions&) = delete;

    // Deletes the job and its data file (if it still exists) after the delay.
    void Schedule(JobId job, std::chrono::milliseconds delay);
    // The end of the run: deletions still waiting end without deleting; returns once the timer has ended.
    void End();
    // Deletions past their delay whose job is not gone yet.
    int32_t PendingDelayedDeletes() const { return Pending; }

  private:
    using Clock = std::chrono::steady_clock;
    struct CEntry {
        JobId Job = 0;
        bool Started = false;
    };

    void Run();
    // Runs one due deletion step with the lock given up; false when the deletion is finished.
    bool RunStep(CEntry& entry, std::unique_lock<std::mutex>& lock);

    CJobStore& Jobs;
    CUserInterface& Ui;
    std::mutex Lock;
    std::condition_variable Changed;
    std::multimap<Clock::time_point, CEntry> Entries;
    bool Ending = false;
    std::atomic<int32_t> Pending{0};
    std::thread Timer;
};

}  // namespace velmora
