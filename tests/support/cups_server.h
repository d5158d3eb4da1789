// A private CUPS server for the tests that print: a scheduler of its own in a temporary folder, reached
// through a local socket, with raw queues whose device is a stand-in printer listening on 127.0.0.1.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/test_util.h"

namespace velmora::test {

// A network printer as the socket back end sees one: accepts connections on 127.0.0.1, keeps the bytes
// of each until the sender closes its side, then closes.
class FakePrinter {
  public:
    FakePrinter();
    ~FakePrinter();
    FakePrinter(const FakePrinter&) = delete;
    FakePrinter& operator=(const FakePrinter&) = delete;

    bool Listening() const { return listener_ >= 0; }
    uint16_t Port() const { return port_; }
    // The device URI of a queue that prints here.
    std::string DeviceUri() const;
    // The bytes of the next connection, waiting up to the time for it to end; false when none ended.
    bool NextDocument(std::string* document, int milliseconds = 60000);

  private:
    void Run();

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::condition_variable received_;
    std::deque<std::string> documents_;
    std::thread thread_;
};

// cupsd in the foreground, configured and spooling in a folder of its own and listening only on
// <folder>/cups.sock. While it lives, this process's CUPS clients talk to it: CUPS_SERVER names its socket,
// HOME and CUPS_SERVERROOT point into the folder (so no user or system options apply), PRINTER and
// LPDEST are unset. The destructor stops cupsd, restores the environment and removes the folder.
class CupsServer {
  public:
    CupsServer();
    ~CupsServer();
    CupsServer(const CupsServer&) = delete;
    CupsServer& operator=(const CupsServer&) = delete;

    // Starts cupsd and waits until it accepts connections; false with the reason in Failure().
    bool Start();
    // What went wrong, with the scheduler's error log.
    const std::string& Failure() const { return failure_; }
    std::string ErrorLog() const;

    const std::string& Folder() const { return folder_.Path(); }
    std::string SocketPath() const { return folder_.File("cups.sock"); }

    // An enabled raw queue (lpadmin -m raw) that sends its jobs to the device unchanged.
    bool AddRawQueue(const std::string& name, const std::string& deviceUri);
    bool SetDefaultQueue(const std::string& name);

  private:
    bool RunAdmin(const std::vector<std::string>& arguments);
    bool WriteConfiguration();

    TempFolder folder_;
    pid_t pid_ = -1;
    std::string failure_;
    // The variables this object changed, with the values to restore (nullopt: was not set).
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

// Runs lpadmin against the scheduler this process's CUPS_SERVER names; false with its output in *failure.
bool RunLpadmin(const std::vector<std::string>& arguments, std::string* failure);

}  // namespace velmora::test
