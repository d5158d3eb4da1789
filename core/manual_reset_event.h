// An event that stays signalled until reset, as the spooler's wake-up event needs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velmora {

class CManualResetEvent {
  public:
    void Set() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Signalled = true;
        }
        Changed.notify_all();
    }
    void Reset() {
        std::lock_guard<std::mutex> lock(Mutex);
        Signalled = false;
    }
    bool IsSet() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Signalled;
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [this] { return Signalled; });
    }
    // True when signalled within the time.
    bool WaitFor(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(Mutex);
        return Changed.wait_for(lock, timeout, [this] { return Signalled; });
    }

  private:
    mutable std::mutex Mutex;
    std::condition_variable Changed;
    bool Signalled = false;
};

}  // namespace velmora
