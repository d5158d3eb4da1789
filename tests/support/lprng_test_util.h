// LPRng's lpd as a real peer for tests and benchmarks, and the process bookkeeping it needs.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/lpd_test_util.h"

namespace velmora::test {

// A process as /proc shows it: its id and its start time, which tell it apart from a later process that
// gets the same id.
struct ProcessId {
    pid_t Pid = 0;
    std::string Start;
};

// The process and all its running descendants, from the parent ids in /proc.
std::vector<ProcessId> ProcessTree(pid_t root);
// True while that very process runs (neither ended nor replaced by another with the same id).
bool StillRunning(const ProcessId& process);

// LPRng's lpd, unpacked rather than installed (it conflicts with the CUPS package). It reads
// /etc/lprng/lpd.conf and /etc/printcap only, so it runs in a mount namespace of its own where an overlay on
// /etc shows its files: a loopback port, no UNIX socket, a spool under the given folder and one queue, PASS.
class LprngLpd {
  public:
    // root: the unpacked package; folder: a folder of its own for configuration, spool and log; queue: the
    // printcap capabilities of PASS besides its spool folder, for example "lp=/dev/null:ah".
    LprngLpd(std::string root, std::string folder, std::string queue);
    ~LprngLpd();
    LprngLpd(const LprngLpd&) = delete;
    LprngLpd& operator=(const LprngLpd&) = delete;

    // Starts it from an empty spool; false with the reason when it cannot run here.
    bool Start(std::string* reason);
    // Ends lpd and every process it forked, each by its id while it is still that process.
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
