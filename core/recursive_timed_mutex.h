// A recursive mutex that can also be asked for with a time limit, built on a condition variable so that
// a wait for it is a wait on its owner's release, never a loop of tries and naps.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace velmora {

class CRecursiveTimedMutex {
  public:
    CRecursiveTimedMutex() = default;
    CRecursiveTimedMutex(const CRecursiveTimedMutex&) = delete;
    CRecursiveTimedMutex& operator=(const CRecursiveTimedMutex&) = delete;

    void lock() {
        std::unique_lock<std::mutex> guard(State);
        if (!IsFreeFor(std::this_thread::get_id())) {
            ++Waiters;
            Released.wait(guard, [this] { return IsFreeFor(std::this_thread::get_id()); });
            --Waiters;
        }
        Take();
    }
    bool try_lock() {
        std::lock_guard<std::mutex> guard(State);
        if (!IsFreeFor(std::this_thread::get_id()))
            return false;
        Take();
        return true;
    }
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& time) {
        std::unique_lock<std::mutex> guard(State);
        ++Waiters;
        const bool free =
            Released.wait_for(guard, time, [this] { return IsFreeFor(std::this_thread::get_id()); });
        --Waiters;
        if (!free)
            return false;
        Take();
        return true;
    }
    void unlock() {
        {
            std::lock_guard<std::mutex> guard(State);
            if (--Depth > 0)
                return;
            Owner = std::thread::id();
            if (Waiters == 0)
                return;
        }
        Released.notify_all();
    }

  private:
    bool IsFreeFor(std::thread::id thread) const { return Depth == 0 || Owner == thread; }
    void Take() {
        Owner = std::this_thread::get_id();
        ++Depth;
    }

    std::mutex State;
    std::condition_variable Released;
    std::thread::id Owner;
    int Depth = 0;
    // Threads waiting for the release: only then does a release wake anyone.
    int Waiters = 0;
};

}  // namespace velmora
