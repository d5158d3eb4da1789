// The threads of the receive-job sessions: each connection has one, and the group owns and joins them
// all, so that a stop can wait until every session has ended.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora {

class CSessionGroup {
  public:
    CSessionGroup() = default;
    ~CSessionGroup() { JoinAll(); }
    CSessionGroup(const CSessionGroup&) = delete;
    CSessionGroup& operator=(const CSessionGroup&) = delete;

    // Runs the session on a thread of its own; threads of sessions that have ended are joined on the way.
    // False when the system has no thread for it (the session then never runs).
    bool Start(std::function<void()> session);
    // Waits until every session started so far has ended.
    void JoinAll();
    // Waits up to the time for every session to end; false when some are still under way.
    bool WaitForEnd(std::chrono::milliseconds time);
    // Sessions that have not ended yet.
    int ActiveSessions() const { return Active; }

  private:
    void JoinFinished();

    // Guards both lists.
    std::mutex Lock;
    std::list<std::thread> Threads;
    // The threads whose sessions have ended, to be joined by the next start.
    std::vector<std::list<std::thread>::iterator> Finished;
    std::atomic<int> Active{0};
    std::mutex EndLock;
    std::condition_variable Ended;
};

}  // namespace velmora
