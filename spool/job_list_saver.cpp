#include "spool/job_list_saver.h"

namespace velmora {

void CJobListSaver::Start(std::function<void()> save, std::chrono::milliseconds interval) {
    Stop();
    std::lock_guard<std::mutex> lock(Mutex_);
    Save_ = std::move(save);
    Interval_ = interval;
    Running_ = true;
    Pending_ = false;
    Thread_ = std::thread(&CJobListSaver::Run, this);
}

void CJobListSaver::Stop() {
    {
        std::lock_guard<std::mutex> lock(Mutex_);
        if (!Running_)
            return;
        Running_ = false;
    }
    Changed_.notify_all();
    Thread_.join();
}

void CJobListSaver::RequestSave() {
    {
        std::lock_guard<std::mutex> lock(Mutex_);
        if (!Running_ || Pending_)
            return;
        Pending_ = true;
    }
    Changed_.notify_all();
}

void CJobListSaver::Run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastSave = Clock::now() - Interval_;
    std::unique_lock<std::mutex> lock(Mutex_);
    for (;;) {
        Changed_.wait(lock, [this] { return !Running_ || Pending_; });
        if (!Running_)
            return;
        // A burst of changes is written once, an interval after the previous save.
        Changed_.wait_until(lock, lastSave + Interval_, [this] { return !Running_; });
        if (!Running_)
            return;
        Pending_ = false;
        lock.unlock();
        Save_();
        lastSave = Clock::now();
        lock.lock();
    }
}

}  // namespace velmora
