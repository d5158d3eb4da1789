// LPRng's lpd as a real peer, and how the daemon peers (cupsd, cups-lpd under socat, lpd) start and end.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "support/lpd_test_util.h"

namespace velmora::test {

// A process id, and its start time that tells it apart from a later one of that id.
struct ProcessId {
    pid_t Pid = 0;
    std::string Start;
};
// The process and all its running descendants, from the parent ids in /proc.
std::vector<ProcessId> ProcessTree(pid_t root);

// Starts argv[0] in a process group of its own, reading /dev/null, writing output and errors to the log.
pid_t StartDaemon(const std::vector<std::string>& argv, const std::string& log,
                  const std::vector<std::string>& environment = {});
// True once listening() holds; false when the time is over or the daemon ends (*status, *pid = -1).
bool WaitListening(pid_t* pid, const std::function<bool()>& listening, int milliseconds, int* status);
bool Accepts(uint16_t port);
// SIGTERM to the daemon and its descendants, each while its id still names it; SIGKILL after the time.
void EndProcessTree(pid_t* root, int milliseconds);

// LPRng's lpd, unpacked rather than installed (it conflicts with CUPS). It reads its files from /etc only,
// so it runs in a mount namespace with an overlay on /etc: a loopback port and one queue, PASS.
class LprngLpd {
  public:
    // root: the unpacked package; folder: for configuration, spool and log; queue: PASS's printcap
    // capabilities besides its spool, for example "lp=/dev/null:ah".
    LprngLpd(std::string root, std::string folder, std::string queue);
    ~LprngLpd() { Stop(); }
    LprngLpd(const LprngLpd&) = delete;
    LprngLpd& operator=(const LprngLpd&) = delete;

    // From an empty spool; false with the reason when it cannot run here.
    bool Start(std::string* reason);
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
