// What the LPD benchmarks share: a temporary folder, this process's memory from /proc, and a client that
// speaks the whole RFC 1179 receive-job exchange with a time limit on every reply.
#pragma once

#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace velmora::bench {

using Clock = std::chrono::steady_clock;

inline constexpr int SMALL_JOB_BYTES = 10 * 1024;
inline constexpr std::size_t SEND_BLOCK = 64 * 1024;
// Every reply comes within this time or the job counts as failed: a stuck server never stalls the run.
inline constexpr int REPLY_TIMEOUT_SECONDS = 15;

// Set by the program's SIGINT and SIGTERM handler: clients give up at their next step.
inline std::atomic<bool> interrupted{false};

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The value at the percent of a sorted list (nearest rank); 0 for an empty one.
// The value of an option "--name=value" when argument is that option (name given with its "="), else null.
inline const char* OptionValue(const char* argument, const char* name) {
    const std::size_t length = std::strlen(name);
    return std::strncmp(argument, name, length) == 0 ? argument + length : nullptr;
}

// A listening socket on 127.0.0.1 on a port the system chose; -1 with the reason on failure.
inline int OpenLoopbackListener(uint16_t* port, std::string* reason) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 4096) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        *reason = std::string("loopback listener: ") + std::strerror(errno);
        if (listener >= 0)
            close(listener);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return listener;
}

inline double Percentile(const std::vector<double>& sorted, int percent) {
    if (sorted.empty())
        return 0;
    const std::size_t rank = (sorted.size() * static_cast<std::size_t>(percent) + 99) / 100;
    return sorted[std::min(sorted.size() - 1, std::max<std::size_t>(rank, 1) - 1)];
}

// ---------------------------------------------------------------------------------------------------
// Memory, from /proc.

// A "<field>:  <n>" line of /proc/<pid>/status (kB for the Vm... fields); -1 when the process is gone.
inline long StatusKb(const std::string& pid, const char* field) {
    std::ifstream status("/proc/" + pid + "/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    }
    return -1;
}

// Sets this process's VmHWM back to its current resident size, so that a later VmHWM is the peak of what
// ran in between.
inline bool ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// Memory of this process: the peak since Begin less the resident size then.
class InProcessMemory {
  public:
    void Begin() {
        ResetPeakMemory();
        before_ = StatusKb("self", "VmRSS");
    }
    long End() const { return StatusKb("self", "VmHWM") - before_; }

  private:
    long before_ = 0;
};

// ---------------------------------------------------------------------------------------------------
// The client side.

class ClientSocket {
  public:
    ClientSocket() = default;
    ~ClientSocket() {
        if (fd_ >= 0)
            close(fd_);
    }
    ClientSocket(const ClientSocket&) = delete;
    ClientSocket& operator=(const ClientSocket&) = delete;

    // The time limits bound the connect too.
    bool Connect(uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0)
            return false;
        const timeval timeout = {REPLY_TIMEOUT_SECONDS, 0};
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    bool Send(const void* data, std::size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const ssize_t sent = send(fd_, bytes, size, MSG_NOSIGNAL);
            if (sent <= 0) {
                if (sent < 0 && errno == EINTR && !interrupted)
                    continue;
                return false;
            }
            bytes += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }
    bool Send(const std::string& text) { return Send(text.data(), text.size()); }
    // The one-byte LPD reply: true for 0 (success).
    bool Acknowledged() {
        char reply = 1;
        ssize_t received;
        do {
            received = recv(fd_, &reply, 1, 0);
        } while (received < 0 && errno == EINTR && !interrupted);
        return received == 1 && reply == 0;
    }
    // Ends the sending side and waits until the peer has closed the connection.
    bool FinishAndWaitForClose() {
        if (shutdown(fd_, SHUT_WR) != 0)
            return false;
        char buffer[256];
        for (;;) {
            const ssize_t received = recv(fd_, buffer, sizeof buffer, 0);
            if (received == 0)
                return true;
            if (received < 0 && (errno != EINTR || interrupted))
                return false;
        }
    }

  private:
    int fd_ = -1;
};

// The data of every job: printable lines, neither PDF nor PCL, so no server spends time on page counts.
inline const std::string& DataBlock() {
    static const std::string block = [] {
        std::string text;
        for (int line = 0; text.size() < SEND_BLOCK; ++line) {
            char row[64];
            std::snprintf(row, sizeof row, "Velmora load test, line %06d: the quick brown fox\n", line);
            text += row;
        }
        text.resize(SEND_BLOCK);
        return text;
    }();
    return block;
}

inline std::string ControlFile(int number) {
    char text[160];
    std::snprintf(
        text, sizeof text,
        "Hlocalhost\nPbench\nJload test %06d\nCA\nLbench\nldfA%06dlocalhost\nUdfA%06dlocalhost\nNload test\n",
        number, number, number);
    return text;
}

inline std::string FileLine(char subcommand, std::size_t size, const char* kind, int number) {
    char text[80];
    std::snprintf(text, sizeof text, "%c%zu %sA%06dlocalhost\n", subcommand, size, kind, number);
    return text;
}

inline bool SendData(ClientSocket& client, int64_t size) {
    const std::string& block = DataBlock();
    for (int64_t left = size; left > 0 && !interrupted;) {
        const std::size_t part = static_cast<std::size_t>(std::min<int64_t>(left, block.size()));
        if (!client.Send(block.data(), part))
            return false;
        left -= static_cast<int64_t>(part);
    }
    return !interrupted;
}

// One job the way real LPD clients send it: each file's terminating zero byte goes out in a write of its
// own. True when every reply was a success.
inline bool SendLpdJob(uint16_t port, int number, int64_t dataSize) {
    static const char END_MARK = '\0';
    ClientSocket client;
    if (!client.Connect(port) || !client.Send("\x02PASS\n") || !client.Acknowledged())
        return false;
    const std::string control = ControlFile(number);
    if (!client.Send(FileLine('\x02', control.size(), "cf", number)) || !client.Acknowledged() ||
        !client.Send(control) || !client.Send(&END_MARK, 1) || !client.Acknowledged())
        return false;
    if (!client.Send(FileLine('\x03', static_cast<std::size_t>(dataSize), "df", number)) ||
        !client.Acknowledged() || !SendData(client, dataSize) || !client.Send(&END_MARK, 1) ||
        !client.Acknowledged())
        return false;
    return true;
}

// ---------------------------------------------------------------------------------------------------
// A temporary folder, removed with everything in it.

class TempFolder {
  public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velmora-lpd-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path_ = pattern;
    }
    ~TempFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    bool Valid() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace velmora::bench
