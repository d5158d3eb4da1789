// cups-lpd, the print spooler's own LPD server, as a real forwarding target for tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "support/test_util.h"

namespace velmora::test {

// socat on a loopback port runs one cups-lpd per connection, as inetd would; it hands each job to the
// scheduler once the client closed. With -n the job's host is the client's address. Shared queues only.
class CupsLpd {
  public:
    // schedulerSocket: CupsServer::SocketPath() of the scheduler that receives the jobs.
    explicit CupsLpd(std::string schedulerSocket) : schedulerSocket_(std::move(schedulerSocket)) {}
    ~CupsLpd() { Stop(); }
    CupsLpd(const CupsLpd&) = delete;
    CupsLpd& operator=(const CupsLpd&) = delete;

    // False with the reason when it cannot run here.
    bool Start(std::string* reason);
    void Stop();

    uint16_t Port() const { return port_; }
    pid_t Pid() const { return pid_; }

  private:
    const std::string schedulerSocket_;
    TempFolder folder_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

std::string CupsLpdProgram();

// Shares the queue of CUPS_SERVER's scheduler, or not; false with lpadmin's output in *failure.
bool ShareCupsQueue(const std::string& queue, bool shared, std::string* failure);

}  // namespace velmora::test
