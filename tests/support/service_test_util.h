// The service manager's database and systemd unit folders in a temporary folder for a test, and the test
// service (service_main.cpp), whose processes end by id with the test.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "support/test_util.h"

namespace velmora::test {

class ServiceSandbox {
  public:
    // longDatabasePath: too long for its control sockets' paths to fit in a socket address.
    explicit ServiceSandbox(bool longDatabasePath = false);
    ~ServiceSandbox();
    ServiceSandbox(const ServiceSandbox&) = delete;
    ServiceSandbox& operator=(const ServiceSandbox&) = delete;

    const std::string& Database() const { return database_; }
    const std::string& UnitFolder() const { return units_; }

    std::string NewEventsFile();
    std::u16string ServiceCommand(const std::string& name, const std::string& events,
                                  const std::string& behaviour = "normal") const;

  private:
    TempFolder folder_;
    std::string database_;
    std::string units_;
    std::vector<std::string> events_;
};

std::vector<std::string> ReadEvents(const std::string& path);
// These wait up to a generous limit.
bool WaitForEvent(const std::string& path, const std::string& line);
// The process id the test service wrote into the events file; 0 when none came.
pid_t ServiceProcessId(const std::string& events);
// In /proc and neither a zombie nor dead.
bool IsProcessAlive(pid_t pid);
bool WaitForProcessEnd(pid_t pid);

}  // namespace velmora::test
