#include "platform/posix/file_descriptor.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace velmora::platform {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

bool WaitForInput(int fd, int milliseconds) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left < 0)
            return false;
        pollfd entry{fd, POLLIN, 0};
        const int ready = poll(&entry, 1, static_cast<int>(left));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

bool ReadExactly(int descriptor, void* buffer, std::size_t size, int milliseconds) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        if (!WaitForInput(descriptor, milliseconds))
            return false;
        const ssize_t got = read(descriptor, bytes + done, size - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

bool SendAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put = send(fd, bytes + done, size - done, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool CreatePipe(CFileDescriptor* readEnd, CFileDescriptor* writeEnd, int extraFlags) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | extraFlags) != 0)
        return false;
    *readEnd = CFileDescriptor(ends[0]);
    *writeEnd = CFileDescriptor(ends[1]);
    return true;
}

void ReadToEnd(int descriptor, std::string* content) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        content->append(buffer, static_cast<std::size_t>(got));
    }
}

bool ReadWholeFile(const std::string& path, std::string* content) {
    const CFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsValid())
        return false;
    content->clear();
    ReadToEnd(file.Get(), content);
    return true;
}

}  // namespace velmora::platform
