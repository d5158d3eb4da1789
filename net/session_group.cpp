#include "net/session_group.h"

#include <iterator>
#include <system_error>

namespace velmora {

bool CSessionGroup::Start(std::function<void()> session) {
    std::lock_guard<std::mutex> lock(Lock);
    JoinFinished();
    const auto entry = Threads.emplace(Threads.end());
    ++Active;
    try {
        // The thread names itself among the finished ones only once Start has let the lock go, so its
        // handle is in place by then.
        *entry = std::thread([this, entry, session = std::move(session)] {
            session();
            {
                std::lock_guard<std::mutex> finishing(Lock);
                Finished.push_back(entry);
            }
            std::lock_guard<std::mutex> ending(EndLock);
            --Active;
            Ended.notify_all();
        });
    } catch (const std::system_error&) {
        Threads.erase(entry);
        --Active;
        return false;
    }
    return true;
}

void CSessionGroup::JoinFinished() {
    // Their sessions are over: all that is left of the threads is their return.
    for (const auto entry : Finished) {
        entry->join();
        Threads.erase(entry);
    }
    Finished.clear();
}

bool CSessionGroup::WaitForEnd(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(EndLock);
    return Ended.wait_for(lock, time, [this] { return Active == 0; });
}

void CSessionGroup::JoinAll() {
    std::list<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(Lock);
        threads.swap(Threads);
    }
    for (std::thread& thread : threads)
        thread.join();
    // No session starts while the group is joined: every thread named finished is among those joined.
    std::lock_guard<std::mutex> lock(Lock);
    Finished.clear();
}

}  // namespace velmora
