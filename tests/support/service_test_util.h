// A private service database for a test: the service manager's database and systemd unit folders in a
// temporary folder, and the test service (tests/support/service_main.cpp) started from it, whose processes
// are ended by id when the test ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/test_util.h"

namespace velmora::test {

class ServiceSandbox {
  public:
    // The database folder's name is made long enough, when asked, that its control sockets' paths no longer
    // fit in a socket address.
    explicit ServiceSandbox(bool longDatabasePath = false);
    ~ServiceSandbox();
    ServiceSandbox(const ServiceSandbox&) = delete;
    ServiceSandbox& operator=(const ServiceSandbox&) = delete;

    const std::string& Database() const { return database_; }
    const std::string& UnitFolder() const { return units_; }

    // A new events file for one run of the test service.
    std::string NewEventsFile();
    // The command line that runs the test service under the name, writing to the events file.
    std::u16string ServiceCommand(const std::string& name, const std::string& events,
                                  const std::string& behaviour = "normal") const;

  private:
    TempFolder folder_;
    std::string database_;
    std::string units_;
    std::vector<std::string> events_;
};

// The lines of an events file.
std::vector<std::string> ReadEvents(const std::string& path);
// Waits (up to a generous limit) until the events file holds the line.
bool WaitForEvent(const std::string& path, const std::string& line);
// The process id the test service wrote first into the events file, waiting for it; 0 when none came.
pid_t ServiceProcessId(const std::string& events);
// Present in /proc and neither a zombie nor dead.
bool IsProcessAlive(pid_t pid);
// Waits (up to a generous limit) until the process has ended.
bool WaitForProcessEnd(pid_t pid);

}  // namespace velmora::test
