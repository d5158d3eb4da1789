// LPRng's lpd as a real peer for tests and benchmarks, and what all the peers that run as daemons share
// (cupsd, cups-lpd under socat, lpd): they are started and ended by process id.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/lpd_test_util.h"

namespace velmora::test {

// A process as /proc shows it: its id, and its start time that tells it apart from a later one of that id.
struct ProcessId {
    pid_t Pid = 0;
    std::string Start;
};
// The process and all its running descendants, from the parent ids in /proc.
std::vector<ProcessId> ProcessTree(pid_t root);

// Starts argv[0] in a process group of its own (what it signals to its group never reaches the tests),
// reading /dev/null, writing output and errors to the log, with NAME=value entries added to its environment.
pid_t StartDaemon(const std::vector<std::string>& argv, const std::string& log,
                  const std::vector<std::string>& environment = {});
// Waits until listening() holds (true), the daemon ends (false, its wait status in *status, *pid = -1) or
// the time is over (false).
bool WaitListening(pid_t* pid, const std::function<bool()>& listening, int milliseconds, int* status);
// Something accepts connections on 127.0.0.1:port.
bool Accepts(uint16_t port);
// Ends the daemon and every process it started, each by its id while the id still names it: SIGTERM, then
// SIGKILL after the time.
void EndProcessTree(pid_t* root, int milliseconds);

// LPRng's lpd, unpacked rather than installed (it conflicts with the CUPS package). It reads
// /etc/lprng/lpd.conf and /etc/printcap only, so it runs in a mount namespace of its own where an overlay on
// /etc shows its files: a loopback port, no UNIX socket, a spool under the given folder and one queue, PASS.
class LprngLpd {
  public:
    // root: the unpacked package; folder: a folder of its own for configuration, spool and log; queue: the
    // printcap capabilities of PASS besides its spool folder, for example "lp=/dev/null:ah".
    LprngLpd(std::string root, std::string folder, std::string queue);
    ~LprngLpd() { Stop(); }
    LprngLpd(const LprngLpd&) = delete;
    LprngLpd& operator=(const LprngLpd&) = delete;

    // Starts it from an empty spool; false with the reason when it cannot run here.
    bool Start(std::string* reason);
    // Ends lpd and every process it forked (one per connection and per queue).
    void Stop();

    uint16_t Port() const { return port_; }
    pid_t Pid() const { return pid_; }
    std::string Spool() const { return folder_ + "/spool/PASS"; }

  private:
    std::string LastLogLine() const;

    const std::string root_;
    const std::string folder_;
    const std::string queue_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace velmora::test
