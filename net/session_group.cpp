#include "net/session_group.h"

#include <system_error>

namespace velmora {

bool CSessionGroup::Start(std::function<void()> session) {
    std::lock_guard<std::mutex> lock(Lock);
    JoinFinished();
    CSessionThread& entry = Threads.emplace_back();
    ++Active;
    try {
        entry.Thread = std::thread([this, &entry, session = std::move(session)] {
            session();
            entry.Finished = true;
            std::lock_guard<std::mutex> ending(EndLock);
            --Active;
            Ended.notify_all();
        });
    } catch (const std::system_error&) {
        Threads.pop_back();
        --Active;
        return false;
    }
    return true;
}

void CSessionGroup::JoinFinished() {
    for (auto it = Threads.begin(); it != Threads.end();) {
        if (it->Finished) {
            // Its session is over: all that is left of the thread is its return.
            it->Thread.join();
            it = Threads.erase(it);
        } else {
            ++it;
        }
    }
}

bool CSessionGroup::WaitForEnd(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> lock(EndLock);
    return Ended.wait_for(lock, time, [this] { return Active == 0; });
}

void CSessionGroup::JoinAll() {
    std::list<CSessionThread> threads;
    {
        std::lock_guard<std::mutex> lock(Lock);
        threads.swap(Threads);
    }
    for (CSessionThread& entry : threads)
        entry.Thread.join();
}

}  // namespace velmora
