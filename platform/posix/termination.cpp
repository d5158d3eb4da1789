#include "platform/termination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "platform/posix/file_descriptor.h"

namespace velmora::platform {

namespace {

// The signal handler only writes a byte (1 = a request) to the pipe; the watcher thread reads it and
// calls the function. A 0 byte ends the watcher.
CFileDescriptor requestRead;
CFileDescriptor requestWrite;
std::thread watcher;
std::function<void()> onTerminationRequest;

void OnSignal(int) {
    const int savedErrno = errno;
    const char request = 1;
    [[maybe_unused]] const ssize_t written = write(requestWrite.Get(), &request, 1);
    errno = savedErrno;
}

void Watch() {
    for (;;) {
        char byte = 0;
        const ssize_t got = read(requestRead.Get(), &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1 || byte == 0)
            return;
        onTerminationRequest();
    }
}

}  // namespace

void WatchTerminationRequests(std::function<void()> onRequest) {
    if (watcher.joinable() || !CreatePipe(&requestRead, &requestWrite))
        return;
    onTerminationRequest = std::move(onRequest);
    watcher = std::thread(Watch);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void StopWatchingTerminationRequests() {
    if (!watcher.joinable())
        return;
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    const char stop = 0;
    [[maybe_unused]] const ssize_t written = write(requestWrite.Get(), &stop, 1);
    watcher.join();
    requestRead.Close();
    requestWrite.Close();
    onTerminationRequest = nullptr;
}

}  // namespace velmora::platform
