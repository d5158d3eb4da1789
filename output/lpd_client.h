// The LPD forwarding client: sends one file to a remote LPD print queue as a one-file print job.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

// Time limits of one exchange; the defaults are the system's, tests shorten them.
struct CLpdClientTimeouts {
    int ConnectMilliseconds = 30000;
    // For each reply of the server, and for each send that the server does not take data for.
    int ReplyMilliseconds = 60000;
};

// One file to send as a one-file print job.
struct CLpdJobRequest {
    int32_t Port = 515;
    std::u16string Host;   // empty: 127.0.0.1
    std::u16string Queue;  // empty: PASS
    std::u16string JobClass;
    std::u16string JobName;
    std::u16string HostName;  // empty: this computer's name
    std::u16string UserName;  // empty: this account's name
    std::u16string FilePath;
    std::u16string DocumentName;
    CLpdClientTimeouts Timeouts;
    // Once set (by the server's stop), waits for the server's replies end at once and the exchange fails.
    const std::atomic<bool>* Cut = nullptr;
};

// 0 when the server acknowledged the whole job, 1 when no connection was made, -1 when the exchange failed
// after connecting; the outcome's text in the system's 8-bit encoding.
struct CLpdSendResult {
    int32_t Code = 0;
    std::string Text;
};

// Connects to the host's port, names the queue, sends a control file with the H, N, P, C and J lines and
// the print line of the data file, then the file itself, checking the server's one-byte reply after each
// step. "The file is printed" when the server took the whole job. An empty file is not sent ("The file is
// empty", -1): servers read a zero count as "until the connection closes". Blocking and re-entrant; writes
// no log line.
CLpdSendResult SendJobByLpd(const CLpdJobRequest& request);

}  // namespace velmora
