#include "spool/delayed_deletions.h"

namespace velmora {

namespace {

constexpr auto RETRY_INTERVAL = std::chrono::seconds(1);

}  // namespace

void CDelayedDeletions::Schedule(JobId job, std::chrono::milliseconds delay) {
    {
        std::lock_guard<std::mutex> lock(Lock);
        if (Ending)
            return;
        Entries.emplace(Clock::now() + delay, CEntry{job, false});
        if (!Timer.joinable())
            Timer = std::thread(&CDelayedDeletions::Run, this);
    }
    Changed.notify_all();
}

void CDelayedDeletions::End() {
    {
        std::lock_guard<std::mutex> lock(Lock);
        Ending = true;
    }
    Changed.notify_all();
    if (Timer.joinable())
        Timer.join();
}

void CDelayedDeletions::Run() {
    std::unique_lock<std::mutex> lock(Lock);
    while (!Ending) {
        if (Entries.empty()) {
            Changed.wait(lock);
            continue;
        }
        const auto next = Entries.begin();
        if (Clock::now() < next->first) {
            Changed.wait_until(lock, next->first);
            continue;
        }
        CEntry entry = next->second;
        Entries.erase(next);
        if (RunStep(entry, lock))
            Entries.emplace(Clock::now() + RETRY_INTERVAL, entry);
    }
}

bool CDelayedDeletions::RunStep(CEntry& entry, std::unique_lock<std::mutex>& lock) {
    if (!entry.Started) {
        entry.Started = true;
        ++Pending;
    }
    lock.unlock();
    const bool again = Jobs.DeleteStep(entry.Job) == DeletionStep::TryAgain;
    if (!again && --Pending == 0)
        Ui.PostJobListChanged();
    lock.lock();
    return again;
}

}  // namespace velmora
