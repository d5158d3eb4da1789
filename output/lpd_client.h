// The LPD forwarding client: sends one file to a remote LPD print queue as a one-file print job.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

// Time limits of one exchange; the defaults are the system's, tests shorten them.
struct LpdClientTimeouts {
    int connectMilliseconds = 30000;
    // For each reply of the server, and for each send that the server does not take data for.
    int replyMilliseconds = 60000;
};

// Connects to host:port (empty host: 127.0.0.1), names the queue (empty: PASS), sends a control file with
// the H, N, P, C and J lines and the print line of the data file, then the file itself, checking the
// server's one-byte reply after each step. An empty host name or user name stands for this computer's or
// account's name.
//
// Returns 0 when the server acknowledged the whole job ("The file is printed"), 1 when no connection was
// made, -1 when the exchange failed after connecting. The outcome text is written to errorText,
// zero-terminated and cut to errorTextSize. An empty file is not sent ("The file is empty", -1): servers
// read a zero count as "until the connection closes". Blocking and re-entrant; writes no log line.
int32_t SendJobByLpd(int32_t port, const std::u16string& host, const std::u16string& queue,
                     const std::u16string& jobClass, const std::u16string& jobName,
                     const std::u16string& hostName, const std::u16string& userName,
                     const std::u16string& filePath, const std::u16string& documentName, char* errorText,
                     std::size_t errorTextSize, const LpdClientTimeouts& timeouts = {});

}  // namespace velmora
