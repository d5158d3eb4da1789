// A private CUPS server for the tests that print, with raw queues whose device is a stand-in printer.
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

// A network printer on 127.0.0.1 as the socket back end sees one: one document per connection.
class FakePrinter {
  public:
    FakePrinter();
    ~FakePrinter();
    FakePrinter(const FakePrinter&) = delete;
    FakePrinter& operator=(const FakePrinter&) = delete;

    bool Listening() const { return listener_ >= 0; }
    uint16_t Port() const { return port_; }
    std::string DeviceUri() const;
    // The bytes of the next connection that ended within the time.
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

// cupsd in a folder of its own, listening only on <folder>/cups.sock. While it lives this process's CUPS
// clients talk to it (CUPS_SERVER, HOME and CUPS_SERVERROOT set, PRINTER and LPDEST unset); the destructor
// stops it and restores the environment.
class CupsServer {
  public:
    CupsServer();
    ~CupsServer();
    CupsServer(const CupsServer&) = delete;
    CupsServer& operator=(const CupsServer&) = delete;

    // Starts cupsd and waits until it accepts connections; false with the reason in Failure().
    bool Start();
    const std::string& Failure() const { return failure_; }
    std::string ErrorLog() const;

    std::string SocketPath() const { return folder_.File("cups.sock"); }

    // An enabled raw queue (lpadmin -m raw).
    bool AddRawQueue(const std::string& name, const std::string& deviceUri);
    bool SetDefaultQueue(const std::string& name);

  private:
    bool RunAdmin(const std::vector<std::string>& arguments);
    bool WriteConfiguration();

    TempFolder folder_;
    pid_t pid_ = -1;
    std::string failure_;
    // The variables changed, with the values to restore (nullopt: was not set).
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
};

// Runs lpadmin against the scheduler this process's CUPS_SERVER names; false with its output in *failure.
bool RunLpadmin(const std::vector<std::string>& arguments, std::string* failure);

}  // namespace velmora::test
