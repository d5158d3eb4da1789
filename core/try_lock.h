// Taking a lock with a time limit.
#pragma once

#include <chrono>
#include <thread>

namespace velmora {

// Tries to take the lock for up to the given time; true when taken. Polls instead of using the timed
// wait of the threading library, which the thread sanitizer cannot follow; the callers (a view that
// would rather skip a refresh than wait) only need a coarse limit.
template <typename Lockable>
bool TryLockFor(Lockable& lockable, std::chrono::milliseconds time) {
    const auto deadline = std::chrono::steady_clock::now() + time;
    for (;;) {
        if (lockable.try_lock())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace velmora
