#include "spool/job_list_saver.h"

namespace velmora {

void CJobListSaver::Start(std::function<void()> save, std::chrono::milliseconds interval) {
    Stop();
    std::lock_guard<std::mutex> lock(Mutex);
    Save = std::move(save);
    Interval = interval;
    Running = true;
    Pending = false;
    Thread = std::thread(&CJobListSaver::Run, this);
}

void CJobListSaver::Stop() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        if (!Running)
            return;
        Running = false;
    }
    Changed.notify_all();
    Thread.join();
}

void CJobListSaver::RequestSave() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        if (!Running || Pending)
            return;
        Pending = true;
    }
    Changed.notify_all();
}

void CJobListSaver::Run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastSave = Clock::now() - Interval;
    std::unique_lock<std::mutex> lock(Mutex);
    for (;;) {
        Changed.wait(lock, [this] { return !Running || Pending; });
        if (!Running)
            return;
        // A burst of changes is written once, an interval after the previous save.
        Changed.wait_until(lock, lastSave + Interval, [this] { return !Running; });
        if (!Running)
            return;
        Pending = false;
        lock.unlock();
        Save();
        lastSave = Clock::now();
        lock.lock();
    }
}

}  // namespace velmora
