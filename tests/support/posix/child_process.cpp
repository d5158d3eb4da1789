// Child processes of the tests on Linux: fork and exec, the output read through a pipe.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

#include "support/test_util.h"

namespace velmora::test {

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment)
    : ChildProcess(program, arguments, Options{environment, {}, false}) {}

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options) {
    const std::vector<std::string>& environment = options.Environment;
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        throw std::runtime_error("pipe failed");
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int channels[2] = {-1, -1};
    if (options.PrintChannels && socketpair(AF_UNIX, SOCK_STREAM, 0, channels) != 0)
        throw std::runtime_error("socketpair failed");
    pid_ = fork();
    if (pid_ == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        if (options.CaptureErrors)
            dup2(pipeFds[1], STDERR_FILENO);
        if (!options.Input.empty()) {
            const int input = open(options.Input.c_str(), O_RDONLY);
            if (input >= 0)
                dup2(input, STDIN_FILENO);
        }
        close(pipeFds[0]);
        close(pipeFds[1]);
        // Last: descriptors 3 and 4 may be among those just closed.
        if (options.PrintChannels) {
            dup2(channels[1], 3);
            dup2(channels[1], 4);
        }
        for (const std::string& variable : environment)
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
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        Wait();
    }
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
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    bool open = true;
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
        pollfd ready{output_, POLLIN, 0};
        if (open && poll(&ready, 1, 20) > 0) {
            char buffer[4096];
            const ssize_t n = read(output_, buffer, sizeof buffer);
            if (n > 0)
                all.append(buffer, static_cast<std::size_t>(n));
            else if (n == 0)
                open = false;
        } else if (!open) {
            usleep(20000);
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            for (pollfd more{output_, POLLIN, 0}; poll(&more, 1, 0) > 0;) {
                char buffer[4096];
                const ssize_t n = read(output_, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                all.append(buffer, static_cast<std::size_t>(n));
            }
            if (output)
                *output = all;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    if (output)
        *output = all;
    Kill(SIGKILL);
    Wait();
    return -1;
}

int ChildProcess::Wait() {
    if (pid_ <= 0)
        return -1;
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int ChildProcess::WaitFor(int milliseconds) {
    for (int waited = 0; pid_ > 0 && waited < milliseconds; waited += 10) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        usleep(10000);
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
