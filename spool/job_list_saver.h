// Keeps spool.list close behind the job list: every change asks for a save, and one thread writes the
// list at most about once a second and never much later than a second after the last change, so a
// crash or power cut forgets at most the last second of jobs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace velmora {

class CJobListSaver {
  public:
    CJobListSaver() = default;
    ~CJobListSaver() { Stop(); }
    CJobListSaver(const CJobListSaver&) = delete;
    CJobListSaver& operator=(const CJobListSaver&) = delete;

    // Starts the saving thread; save writes the list.
    void Start(std::function<void()> save, std::chrono::milliseconds interval = std::chrono::seconds(1));
    // Ends the thread without a last save (the server's own stop saves the list).
    void Stop();
    // Cheap and safe from any thread, with or without JobListLock; ignored while stopped.
    void RequestSave();

  private:
    void Run();

    std::mutex Mutex;
    std::condition_variable Changed;
    std::thread Thread;
    std::function<void()> Save;
    std::chrono::milliseconds Interval{1000};
    bool Running = false;
    bool Pending = false;
};

}  // namespace velmora
