#include "platform/process.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/ansi.h"
#include "platform/posix/file_descriptor.h"

extern char** environ;

namespace velmora::platform {

namespace {

using Clock = std::chrono::steady_clock;

// How long apart the two looks at a process are that decide whether it is idle.
constexpr int IDLE_SAMPLE_MILLISECONDS = 100;

// What /proc/<pid>/stat tells about a process.
struct CProcessStat {
    char State = 0;
    int Parent = 0;
    unsigned long long CpuTicks = 0;  // user and system time together
};

// The file's content; false when it cannot be read or is empty.
bool ReadSmallFile(const std::string& path, std::string* content) {
    return ReadWholeFile(path, content) && !content->empty();
}

bool ReadProcessStat(int pid, CProcessStat* stat) {
    std::string line;
    if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", &line))
        return false;
    // The program name in parentheses may itself hold spaces and parentheses: the fields start after the
    // last closing one.
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos)
        return false;
    unsigned long long user = 0;
    unsigned long long system = 0;
    if (std::sscanf(line.c_str() + nameEnd + 1, " %c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu",
                    &stat->State, &stat->Parent, &user, &system) != 4) {
        return false;
    }
    stat->CpuTicks = user + system;
    return true;
}

bool ParseProcessId(const char* name, int* pid) {
    if (*name < '1' || *name > '9')
        return false;
    char* end = nullptr;
    const long value = std::strtol(name, &end, 10);
    if (*end != 0 || value <= 0 || value > INT32_MAX)
        return false;
    *pid = static_cast<int>(value);
    return true;
}

uint32_t ExitCodeOf(int status) {
    if (WIFEXITED(status))
        return static_cast<uint32_t>(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return 128u + static_cast<uint32_t>(WTERMSIG(status));
    return PROCESS_STILL_ACTIVE;
}

// Children whose handle went while they still ran: each is a zombie once it ends until it is collected.
// One thread of its own collects them, looking every 100 ms while any is left, and ends with the process.
class CUnreapedChildren {
  public:
    ~CUnreapedChildren() {
        {
            std::lock_guard<std::mutex> lock(Lock);
            Ending = true;
        }
        Changed.notify_all();
        if (Collector.joinable())
            Collector.join();
    }
    void Add(pid_t pid) {
        std::lock_guard<std::mutex> lock(Lock);
        Children.push_back(pid);
        if (!Collector.joinable())
            Collector = std::thread(&CUnreapedChildren::Run, this);
        Changed.notify_all();
    }

  private:
    void Run() {
        std::unique_lock<std::mutex> lock(Lock);
        while (!Ending) {
            std::erase_if(Children, [](pid_t pid) {
                pid_t result = 0;
                while ((result = waitpid(pid, nullptr, WNOHANG)) < 0 && errno == EINTR) {
                }
                return result != 0;
            });
            if (Children.empty())
                Changed.wait(lock);
            else
                Changed.wait_for(lock, std::chrono::milliseconds(100));
        }
    }

    std::mutex Lock;
    std::condition_variable Changed;
    std::vector<pid_t> Children;
    bool Ending = false;
    std::thread Collector;
};

CUnreapedChildren UnreapedChildren;

}  // namespace

CProcess::~CProcess() {
    Close();
}

CProcess::Status CProcess::Poll() {
    if (Finished)
        return Status::Ended;
    int status = 0;
    pid_t result;
    while ((result = waitpid(Pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (result == 0)
        return Status::Running;
    if (result != Pid)
        return Status::Unknown;
    Finished = true;
    ExitCode = ExitCodeOf(status);
    return Status::Ended;
}

void CProcess::Close() {
    if (Pid > 0 && Poll() == Status::Running)
        UnreapedChildren.Add(Pid);
    Pid = -1;
    Finished = false;
    ExitCode = 0;
}

bool StartProcess(const std::u16string& commandLine, CProcess* process, int* error) {
    const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
    if (arguments.empty() || arguments[0].empty()) {
        *error = ENOENT;
        return false;
    }
    std::vector<std::string> bytes;
    bytes.reserve(arguments.size());
    for (const std::u16string& argument : arguments)
        bytes.push_back(UnicodeToAnsi(argument));
    std::vector<char*> argv;
    for (std::string& argument : bytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // Signals this process blocks or ignores (a service waits for SIGTERM itself) would otherwise stay
    // blocked or ignored in the program, which could then not be asked to close.
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    // posix_spawnp reports a program that cannot be executed (missing, not executable) as its result.
    const int result = posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        *error = result;
        return false;
    }
    CProcess started;
    started.Pid = pid;
    *process = std::move(started);
    return true;
}

uint32_t WaitForInputIdle(CProcess& process, uint32_t milliseconds) {
    if (!process.IsValid())
        return PROCESS_WAIT_FAILED;
    const Clock::time_point start = Clock::now();
    // A process descriptor wakes the wait as soon as the process ends; without one, the wait sleeps.
    const CFileDescriptor pidfd(static_cast<int>(syscall(SYS_pidfd_open, process.Pid, 0)));
    uint32_t outcome = PROCESS_WAIT_FAILED;
    bool havePrevious = false;
    CProcessStat previous;
    for (;;) {
        const CProcess::Status status = process.Poll();
        if (status == CProcess::Status::Ended) {
            outcome = PROCESS_WAIT_READY;
            break;
        }
        CProcessStat now;
        if (!ReadProcessStat(process.Pid, &now)) {
            // Gone from /proc: it ended and someone else collected it.
            outcome = status == CProcess::Status::Unknown ? PROCESS_WAIT_READY : PROCESS_WAIT_FAILED;
            break;
        }
        if (now.State == 'Z' || now.State == 'X') {
            outcome = PROCESS_WAIT_READY;
            break;
        }
        if (havePrevious && previous.State == 'S' && now.State == 'S' && previous.CpuTicks == now.CpuTicks) {
            outcome = PROCESS_WAIT_READY;
            break;
        }
        previous = now;
        havePrevious = true;

        int pause = IDLE_SAMPLE_MILLISECONDS;
        if (milliseconds != PROCESS_WAIT_INFINITE) {
            const int64_t elapsed =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            const int64_t remaining = static_cast<int64_t>(milliseconds) - elapsed;
            if (remaining <= 0) {
                outcome = PROCESS_WAIT_TIMEOUT;
                break;
            }
            pause = static_cast<int>(std::min<int64_t>(pause, remaining));
        }
        if (pidfd.IsValid()) {
            pollfd entry{pidfd.Get(), POLLIN, 0};
            poll(&entry, 1, pause);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        }
    }
    return outcome;
}

bool TerminateProcessTree(ProcessId processId, uint32_t milliseconds) {
    // 0 would signal our own process group and 1 every process we may signal.
    if (processId <= 1 || processId > INT32_MAX)
        return true;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(milliseconds);

    // Every parent link first, so that the tree is known before any of it ends and its children move to
    // another parent.
    const CFolderListing proc(opendir("/proc"));
    if (!proc)
        return false;
    std::vector<std::pair<int, int>> links;  // process, parent
    while (const dirent* entry = readdir(proc.get())) {
        if (Clock::now() > deadline)
            return false;
        int pid = 0;
        CProcessStat stat;
        if (ParseProcessId(entry->d_name, &pid) && ReadProcessStat(pid, &stat))
            links.emplace_back(pid, stat.Parent);
    }

    std::vector<int> tree{static_cast<int>(processId)};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        for (const auto& [pid, parent] : links) {
            if (parent == tree[i] && pid != tree[i])
                tree.push_back(pid);
        }
    }
    for (const int pid : tree)
        kill(pid, SIGTERM);
    return true;
}

std::vector<ProcessId> ListProcesses() {
    std::vector<ProcessId> ids;
    const CFolderListing proc(opendir("/proc"));
    if (!proc)
        return ids;
    while (const dirent* entry = readdir(proc.get())) {
        int pid = 0;
        if (ParseProcessId(entry->d_name, &pid))
            ids.push_back(static_cast<ProcessId>(pid));
    }
    return ids;
}

std::u16string ProcessBaseName(ProcessId processId) {
    const std::string folder = "/proc/" + std::to_string(processId);
    char target[4096];
    const ssize_t length = readlink((folder + "/exe").c_str(), target, sizeof target - 1);
    if (length > 0) {
        std::string path(target, static_cast<std::size_t>(length));
        // A program file replaced while it runs still names the same program.
        static constexpr char DELETED_SUFFIX[] = " (deleted)";
        if (path.ends_with(DELETED_SUFFIX))
            path.resize(path.size() - (sizeof DELETED_SUFFIX - 1));
        return AnsiToUnicode(path.substr(path.rfind('/') + 1));
    }
    // The program file of another user's process is not readable; its short name is.
    std::string name;
    if (!ReadSmallFile(folder + "/comm", &name))
        return {};
    while (!name.empty() && name.back() == '\n')
        name.pop_back();
    // The short name is cut to 15 bytes; the start of the command line (readable for every process, as
    // for a program with file capabilities, whose program file is not) completes it when it agrees.
    std::string commandLine;
    if (ReadSmallFile(folder + "/cmdline", &commandLine)) {
        std::string program = commandLine.substr(0, commandLine.find('\0'));
        program = program.substr(program.rfind('/') + 1);
        if (program.size() > name.size() && program.starts_with(name))
            name = program;
    }
    return AnsiToUnicode(name);
}

}  // namespace velmora::platform
