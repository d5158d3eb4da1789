// Child processes of the tests on Linux: fork and exec, the output read through a pipe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "support/test_util.h"

namespace velmora::test {

namespace {

int ExitCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits for the child to end, calling the idle step meanwhile; false after the time.
template <typename Idle>
bool Reap(pid_t pid, int milliseconds, int* status, Idle idle) {
    return pid > 0 && WaitUntil([&] { return waitpid(pid, status, WNOHANG) == pid; }, milliseconds, idle);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options) {
    int pipeFds[2];
    int channels[2] = {-1, -1};
    if (pipe(pipeFds) != 0 || (options.PrintChannels && socketpair(AF_UNIX, SOCK_STREAM, 0, channels) != 0))
        throw std::runtime_error("pipe or socketpair failed");
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        if (options.CaptureErrors)
            dup2(pipeFds[1], STDERR_FILENO);
        const int input = options.Input.empty() ? -1 : open(options.Input.c_str(), O_RDONLY);
        if (input >= 0)
            dup2(input, STDIN_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        // Last: descriptors 3 and 4 may be among those just closed.
        if (options.PrintChannels) {
            dup2(channels[1], 3);
            dup2(channels[1], 4);
        }
        for (const std::string& variable : options.Environment)
            putenv(const_cast<char*>(variable.c_str()));
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    output_ = pipeFds[0];
    if (options.PrintChannels) {
        close(channels[1]);
        channels_ = channels[0];
    }
}

ChildProcess::~ChildProcess() {
    Kill(SIGKILL);
    Wait();
    if (output_ >= 0)
        close(output_);
    if (channels_ >= 0)
        close(channels_);
}

long ChildProcess::ReadOutput(char* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = read(output_, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 ? static_cast<long>(n) : 0;
    }
}

int ChildProcess::RunToEnd(int milliseconds, std::string* output) {
    std::string all = pending_;
    pending_.clear();
    // Reads while the child runs: a child that fills the pipe would otherwise never end. Processes it
    // leaves behind may keep the pipe open, so the child's end, not the pipe's, ends the reading.
    bool open = true;
    const auto drain = [&](int timeout) {
        for (pollfd ready{output_, POLLIN, 0}; open && poll(&ready, 1, timeout) > 0; timeout = 0) {
            char buffer[4096];
            const ssize_t n = read(output_, buffer, sizeof buffer);
            if (n > 0)
                all.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0 || errno != EINTR)
                open = false;
        }
    };
    int status = 0;
    const bool ended = Reap(pid_, milliseconds, &status, [&] { open ? drain(20) : (void)usleep(20000); });
    drain(0);
    if (output)
        *output = all;
    if (!ended) {
        Kill(SIGKILL);
        Wait();
        return -1;
    }
    pid_ = -1;
    return ExitCode(status);
}

int ChildProcess::Wait() {
    if (pid_ <= 0)
        return -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return ExitCode(status);
}

int ChildProcess::WaitFor(int milliseconds) {
    int status = 0;
    if (Reap(pid_, milliseconds, &status, [] { usleep(5000); })) {
        pid_ = -1;
        return ExitCode(status);
    }
    Kill(SIGKILL);
    Wait();
    return -1;
}

void ChildProcess::Kill(int signal) {
    if (pid_ > 0)
        kill(pid_, signal);
}

}  // namespace velmora::test
