// cups-lpd, the print spooler's own LPD server, as a real forwarding target for tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "support/test_util.h"

namespace velmora::test {

// cups-lpd serves one connection on its standard input and output and hands each job to the scheduler that
// CUPS_SERVER names once the client has closed the connection. As inetd would, socat listens on a loopback
// port and runs one cups-lpd per connection on the connection itself. cups-lpd runs with -n: the job's
// originating host is the client's address (it ignores the H line). It takes jobs only for shared queues.
class CupsLpd {
  public:
    // schedulerSocket: the UNIX socket of the scheduler that receives the jobs (CupsServer::SocketPath()).
    explicit CupsLpd(std::string schedulerSocket) : schedulerSocket_(std::move(schedulerSocket)) {}
    ~CupsLpd() { Stop(); }
    CupsLpd(const CupsLpd&) = delete;
    CupsLpd& operator=(const CupsLpd&) = delete;

    // Starts socat on a free loopback port and waits until it accepts connections; false with the reason
    // when it cannot run here.
    bool Start(std::string* reason);
    // Ends socat and every cups-lpd it started.
    void Stop();

    uint16_t Port() const { return port_; }
    pid_t Pid() const { return pid_; }

  private:
    const std::string schedulerSocket_;
    TempFolder folder_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// The cups-lpd program of this system, or empty when none is installed.
std::string CupsLpdProgram();

// Makes the queue of the scheduler that this process's CUPS_SERVER names shared or not shared; false with
// lpadmin's output in *failure.
bool ShareCupsQueue(const std::string& queue, bool shared, std::string* failure);

}  // namespace velmora::test
