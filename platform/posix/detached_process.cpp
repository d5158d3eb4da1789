#include "platform/posix/detached_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "platform/posix/file_descriptor.h"
#include "platform/posix/service_control_channel.h"
#include "platform/posix/service_database.h"
#include "platform/process.h"

extern char** environ;

namespace velmora::platform::posix {

namespace {

// The program a command line names, searched in PATH when the name holds no separator; empty when none.
std::string FindProgram(const std::string& name) {
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = std::getenv("PATH");
    std::string folders = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        const std::string folder = end > start ? folders.substr(start, end - start) : ".";
        const std::string candidate = folder + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        start = end + 1;
    }
    return {};
}

// What the program is started with; prepared before the fork, since between fork and exec the children
// only make system calls.
struct CProgramStart {
    std::string Program;
    std::vector<std::string> Arguments;
    std::vector<std::string> Environment;
    std::vector<char*> ArgumentPointers;
    std::vector<char*> EnvironmentPointers;
};

// This process's environment without the variables that the added entries replace, then those entries.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& addedEnvironment) {
    std::vector<std::string> environment;
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        bool replaced = false;
        for (const std::string& added : addedEnvironment)
            replaced = replaced || entry.compare(0, added.find('=') + 1, added, 0, added.find('=') + 1) == 0;
        if (!replaced)
            environment.push_back(entry);
    }
    environment.insert(environment.end(), addedEnvironment.begin(), addedEnvironment.end());
    return environment;
}

// False with errno set when the command line names no program that can be found.
bool PrepareStart(const std::u16string& commandLine, const std::vector<std::string>& addedEnvironment,
                  CProgramStart* start) {
    const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
    if (arguments.empty() || arguments[0].empty())
        return Fail(ENOENT);
    for (const std::u16string& argument : arguments)
        start->Arguments.push_back(Native(argument));
    start->Program = FindProgram(start->Arguments[0]);
    if (start->Program.empty())
        return Fail(ENOENT);
    start->Environment = MergedEnvironment(addedEnvironment);
    for (std::string& argument : start->Arguments)
        start->ArgumentPointers.push_back(argument.data());
    start->ArgumentPointers.push_back(nullptr);
    for (std::string& entry : start->Environment)
        start->EnvironmentPointers.push_back(entry.data());
    start->EnvironmentPointers.push_back(nullptr);
    return true;
}

// The pipes between the caller and the children.
struct CStartPipes {
    CFileDescriptor ReportRead;  // the grandchild's id, then the reason why it could not execute the program
    CFileDescriptor ReportWrite;
    CFileDescriptor ReleaseRead;  // closed by the caller once the id is recorded; a byte first means "go on"
    CFileDescriptor ReleaseWrite;
};

// The grandchild: waits to be released, then becomes the program with default signal handling, the null
// device as standard input and output, and nothing else of the caller's.
[[noreturn]] void ExecuteWhenReleased(const CStartPipes& pipes, CProgramStart& start) {
    char go = 0;
    ssize_t got;
    while ((got = read(pipes.ReleaseRead.Get(), &go, 1)) < 0 && errno == EINTR) {
    }
    if (got != 1)
        _exit(127);
    sigset_t signals;
    sigemptyset(&signals);
    sigprocmask(SIG_SETMASK, &signals, nullptr);
    struct sigaction defaultAction {};
    defaultAction.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal)
        sigaction(signal, &defaultAction, nullptr);
    const int null = open("/dev/null", O_RDWR);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    // Nothing of the caller's reaches the program; the report pipe stays open until the program runs.
    if (close_range(STDERR_FILENO + 1, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = STDERR_FILENO + 1; fd < 4096; ++fd)
            fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    (void)!chdir("/");
    execve(start.Program.c_str(), start.ArgumentPointers.data(), start.EnvironmentPointers.data());
    const int32_t error = errno;
    (void)!write(pipes.ReportWrite.Get(), &error, sizeof error);
    _exit(127);
}

// The child: starts a session of its own, forks the grandchild, reports its id and ends.
[[noreturn]] void RunChild(CStartPipes& pipes, CProgramStart& start) {
    pipes.ReportRead.Close();
    pipes.ReleaseWrite.Close();
    setsid();
    const pid_t grandchild = fork();
    if (grandchild == 0)
        ExecuteWhenReleased(pipes, start);
    const int32_t value = grandchild > 0 ? grandchild : -errno;
    (void)!write(pipes.ReportWrite.Get(), &value, sizeof value);
    _exit(0);
}

// The caller's side once the child has ended: the grandchild's id recorded, then released.
bool ReleaseGrandchild(CStartPipes& pipes, const std::function<bool(pid_t)>& record, pid_t* pid) {
    int32_t value = 0;
    if (!ReadExactly(pipes.ReportRead.Get(), &value, sizeof value, CONTROL_TIME_LIMIT_MILLISECONDS) ||
        value <= 0)
        return Fail(value < 0 ? -value : ECHILD);
    *pid = value;
    if (!record(*pid)) {
        const int error = errno;
        // Closing without the byte makes the grandchild end before it runs anything.
        pipes.ReleaseWrite.Close();
        return Fail(error);
    }
    const char go = 1;
    (void)!write(pipes.ReleaseWrite.Get(), &go, 1);
    pipes.ReleaseWrite.Close();
    int32_t error = 0;
    const bool failed =
        ReadExactly(pipes.ReportRead.Get(), &error, sizeof error, CONTROL_TIME_LIMIT_MILLISECONDS);
    return failed ? Fail(error) : true;
}

}  // namespace

bool SpawnDetached(const std::u16string& commandLine, const std::vector<std::string>& addedEnvironment,
                   const std::function<bool(pid_t)>& record, pid_t* pid) {
    CProgramStart start;
    if (!PrepareStart(commandLine, addedEnvironment, &start))
        return false;
    CStartPipes pipes;
    if (!CreatePipe(&pipes.ReportRead, &pipes.ReportWrite))
        return false;
    if (!CreatePipe(&pipes.ReleaseRead, &pipes.ReleaseWrite))
        return false;
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0)
        RunChild(pipes, start);
    pipes.ReportWrite.Close();
    pipes.ReleaseRead.Close();
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    return ReleaseGrandchild(pipes, record, pid);
}

}  // namespace velmora::platform::posix
