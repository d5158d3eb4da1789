#include "platform/service_manager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/ansi.h"
#include "platform/process.h"

extern char** environ;

namespace velmora::platform {

struct ServiceManagerObject {
    bool isService = false;
    std::string database;  // the database folder
    std::string name;      // the service's name (services only)
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kDefaultDatabase[] = "/var/lib/velmora/services";
constexpr char kDefaultUnitFolder[] = "/etc/systemd/system";
constexpr char kStartedServiceVariable[] = "VELMORA_STARTED_SERVICE";
constexpr char kDatabaseVariable[] = "VELMORA_SERVICE_DATABASE";
constexpr char kUnitFolderVariable[] = "VELMORA_SYSTEMD_UNIT_FOLDER";
constexpr char kWantsFolder[] = "multi-user.target.wants";

// How long StartService waits for the program to connect, and ControlService for the handler to return.
constexpr auto kConnectTimeLimit = std::chrono::seconds(30);
constexpr int kControlTimeLimitMilliseconds = 30000;
// How long the dispatcher waits for the control code of a caller that has connected.
constexpr int kRequestTimeLimitMilliseconds = 5000;

bool Fail(int code) {
    errno = code;
    return false;
}

template <typename T>
T* FailWith(int code) {
    errno = code;
    return nullptr;
}

std::string Native(const std::u16string& text) {
    return UnicodeToAnsi(text);
}

std::string DatabaseFolder() {
    const char* overridden = std::getenv(kDatabaseVariable);
    std::string folder = overridden && *overridden ? overridden : kDefaultDatabase;
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string ServiceFolder(const std::string& database, const std::string& name) {
    return database + "/" + name;
}

bool PathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Names become folder names: nothing that leaves the database folder or hides among its own files.
bool IsValidServiceName(const std::string& name) {
    if (name.empty() || name.size() > 256 || name[0] == '.')
        return false;
    for (const char c : name) {
        if (c == '/' || c == '\\' || c == '\n' || c == '\r' || c == 0)
            return false;
    }
    return true;
}

bool IsSingleLine(const std::u16string& text) {
    return text.find_first_of(u"\r\n") == std::u16string::npos;
}

bool MakeFolders(const std::string& path) {
    std::string partial;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t slash = path.find('/', start);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        partial = path.substr(0, end);
        if (!partial.empty() && mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) ? true : Fail(ENOTDIR);
}

// Files of "Name=Value" lines, replaced whole by a rename so that a reader never sees half of one.
using Values = std::map<std::string, std::string>;

bool ReadValues(const std::string& path, Values* values) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string content;
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    values->clear();
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        const std::string line = content.substr(start, end - start);
        const std::size_t equals = line.find('=');
        if (equals != std::string::npos)
            (*values)[line.substr(0, equals)] = line.substr(equals + 1);
        start = end + 1;
    }
    return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t put = write(fd, content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            const int error = errno;
            close(fd);
            unlink(temporary.c_str());
            return Fail(error);
        }
        done += static_cast<std::size_t>(put);
    }
    if (close(fd) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return Fail(error);
    }
    return true;
}

bool WriteValues(const std::string& path, const Values& values) {
    std::string content;
    for (const auto& [name, value] : values)
        content += name + "=" + value + "\n";
    return WriteWholeFile(path, content, 0644);
}

uint32_t NumberValue(const Values& values, const char* name) {
    const auto found = values.find(name);
    return found == values.end() ? 0
                                 : static_cast<uint32_t>(std::strtoull(found->second.c_str(), nullptr, 10));
}

uint64_t LongValue(const Values& values, const char* name) {
    const auto found = values.find(name);
    return found == values.end() ? 0 : std::strtoull(found->second.c_str(), nullptr, 10);
}

// What the database holds about a service's status: the status it reported and who reported it.
struct StatusRecord {
    ServiceStatus status;
    pid_t processId = 0;
    uint64_t processStartTime = 0;  // tells a process from a later one that got the same id
    bool connected = false;         // its dispatcher receives controls
    bool exists = false;            // a status was ever recorded
};

bool ReadStatus(const std::string& folder, StatusRecord* record) {
    *record = StatusRecord();
    Values values;
    if (!ReadValues(folder + "/status", &values))
        return false;
    record->exists = true;
    record->status.ServiceType = NumberValue(values, "ServiceType");
    record->status.CurrentState = NumberValue(values, "CurrentState");
    record->status.ControlsAccepted = NumberValue(values, "ControlsAccepted");
    record->status.Win32ExitCode = NumberValue(values, "Win32ExitCode");
    record->status.ServiceSpecificExitCode = NumberValue(values, "ServiceSpecificExitCode");
    record->status.CheckPoint = NumberValue(values, "CheckPoint");
    record->status.WaitHint = NumberValue(values, "WaitHint");
    record->processId = static_cast<pid_t>(LongValue(values, "ProcessId"));
    record->processStartTime = LongValue(values, "ProcessStartTime");
    record->connected = LongValue(values, "Connected") != 0;
    return true;
}

bool WriteStatus(const std::string& folder, const StatusRecord& record) {
    Values values;
    values["ServiceType"] = std::to_string(record.status.ServiceType);
    values["CurrentState"] = std::to_string(record.status.CurrentState);
    values["ControlsAccepted"] = std::to_string(record.status.ControlsAccepted);
    values["Win32ExitCode"] = std::to_string(record.status.Win32ExitCode);
    values["ServiceSpecificExitCode"] = std::to_string(record.status.ServiceSpecificExitCode);
    values["CheckPoint"] = std::to_string(record.status.CheckPoint);
    values["WaitHint"] = std::to_string(record.status.WaitHint);
    values["ProcessId"] = std::to_string(record.processId);
    values["ProcessStartTime"] = std::to_string(record.processStartTime);
    values["Connected"] = record.connected ? "1" : "0";
    return WriteValues(folder + "/status", values);
}

bool ReadConfig(const std::string& folder, ServiceConfig* config) {
    Values values;
    if (!ReadValues(folder + "/config", &values))
        return false;
    config->ServiceType = NumberValue(values, "ServiceType");
    config->StartType = NumberValue(values, "StartType");
    config->ErrorControl = NumberValue(values, "ErrorControl");
    config->BinaryPathName = AnsiToUnicode(values["BinaryPathName"]);
    config->DisplayName = AnsiToUnicode(values["DisplayName"]);
    return true;
}

bool ServiceInstalled(const std::string& folder) {
    return PathExists(folder + "/config");
}

bool MarkedForDeletion(const std::string& folder) {
    return PathExists(folder + "/deleted");
}

// The start time of a process in clock ticks since boot (field 22 of /proc/<pid>/stat); 0 when the
// process does not exist or has ended (a zombie waiting for its parent counts as ended).
uint64_t ProcessStartTime(pid_t pid) {
    if (pid <= 0)
        return 0;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buffer[1024];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer - 1)) < 0 && errno == EINTR) {
    }
    close(fd);
    if (got <= 0)
        return 0;
    buffer[got] = 0;
    // The program name in parentheses may hold anything: the fields start after the last ')'.
    const char* fields = std::strrchr(buffer, ')');
    if (!fields)
        return 0;
    char state = 0;
    unsigned long long startTime = 0;
    if (std::sscanf(fields + 1,
                    " %c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                    &state, &startTime) != 2) {
        return 0;
    }
    if (state == 'Z' || state == 'X')
        return 0;
    return startTime;
}

bool ProcessAlive(const StatusRecord& record) {
    return record.processId > 0 && ProcessStartTime(record.processId) == record.processStartTime &&
           record.processStartTime != 0;
}

// The service's status as it stands: what it reported, or stopped once its process is gone.
ServiceStatus EffectiveStatus(const ServiceConfig& config, const StatusRecord& record) {
    ServiceStatus status;
    status.ServiceType = config.ServiceType;
    status.CurrentState = SERVICE_STOPPED;
    if (!record.exists) {
        status.Win32ExitCode = ERROR_SERVICE_NEVER_STARTED;
        return status;
    }
    if (record.status.CurrentState == SERVICE_STOPPED) {
        status = record.status;
        status.ControlsAccepted = 0;
        return status;
    }
    if (ProcessAlive(record))
        return record.status;
    status.Win32ExitCode = ERROR_PROCESS_ABORTED;
    return status;
}

bool IsRunning(const StatusRecord& record) {
    return record.exists && record.status.CurrentState != SERVICE_STOPPED && ProcessAlive(record);
}

// The database's lock, taken by every change of an installation and by every start.
class DatabaseLock {
  public:
    explicit DatabaseLock(const std::string& database) {
        fd_ = open((database + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd_ < 0)
            return;
        while (flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                close(fd_);
                fd_ = -1;
                return;
            }
        }
    }
    ~DatabaseLock() {
        if (fd_ >= 0)
            close(fd_);
    }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;
    bool Held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// ---- systemd

std::string UnitFolder(bool* overridden) {
    const char* folder = std::getenv(kUnitFolderVariable);
    *overridden = folder && *folder;
    if (*overridden)
        return folder;
    return PathExists("/run/systemd/system") ? kDefaultUnitFolder : "";
}

// One argument of ExecStart: quoted, with the characters systemd treats specially escaped.
std::string UnitArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (c == '%' || c == '$')
            quoted += c;
        quoted += c;
    }
    return quoted + "\"";
}

void ReloadSystemd() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    char program[] = "systemctl";
    char command[] = "daemon-reload";
    char* argv[] = {program, command, nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, program, &actions, nullptr, argv, environ) == 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

bool WriteUnit(const std::string& name, const ServiceConfig& config) {
    bool overridden = false;
    const std::string folder = UnitFolder(&overridden);
    if (folder.empty())
        return true;
    std::string command;
    for (const std::u16string& argument : SplitCommandLine(config.BinaryPathName))
        command += (command.empty() ? "" : " ") + UnitArgument(Native(argument));
    std::string unit;
    unit += "[Unit]\n";
    std::string description;
    for (const char c : Native(config.DisplayName))
        description += c == '%' ? std::string("%%") : std::string(1, c);
    unit += "Description=" + description + "\n";
    unit += "After=network-online.target\n";
    unit += "Wants=network-online.target\n\n";
    unit += "[Service]\n";
    unit += "Type=simple\n";
    unit += "ExecStart=" + command + "\n";
    // The service saves its job list when it stops.
    unit += "TimeoutStopSec=120\n\n";
    unit += "[Install]\n";
    unit += "WantedBy=multi-user.target\n";
    const std::string unitPath = folder + "/" + name + ".service";
    if (!MakeFolders(folder) || !WriteWholeFile(unitPath, unit, 0644))
        return false;
    if (config.StartType == SERVICE_AUTO_START) {
        // What "systemctl enable" does for WantedBy=multi-user.target.
        const std::string wants = folder + "/" + kWantsFolder;
        const std::string link = wants + "/" + name + ".service";
        if (!MakeFolders(wants) || (symlink(unitPath.c_str(), link.c_str()) != 0 && errno != EEXIST)) {
            const int error = errno;
            unlink(unitPath.c_str());
            return Fail(error);
        }
    }
    if (!overridden)
        ReloadSystemd();
    return true;
}

void RemoveUnit(const std::string& name) {
    bool overridden = false;
    const std::string folder = UnitFolder(&overridden);
    if (folder.empty())
        return;
    const std::string unitPath = folder + "/" + name + ".service";
    const std::string link = folder + "/" + kWantsFolder + "/" + name + ".service";
    const bool existed = PathExists(unitPath) || PathExists(link);
    unlink(link.c_str());
    unlink(unitPath.c_str());
    if (existed && !overridden)
        ReloadSystemd();
}

// Removes a service's folder and unit; the caller holds the database lock.
bool RemoveService(const std::string& database, const std::string& name) {
    const std::string folder = ServiceFolder(database, name);
    // The configuration first: from then on the service counts as not installed.
    if (unlink((folder + "/config").c_str()) != 0 && errno != ENOENT)
        return false;
    for (const char* file : {"status", "deleted", "control"})
        unlink((folder + "/" + file).c_str());
    rmdir(folder.c_str());
    RemoveUnit(name);
    return true;
}

// ---- the control socket

// Binds or connects a socket to the control socket in a service's folder. A path too long for a socket
// address is reached through the folder's descriptor.
template <typename Operation>
int WithControlAddress(const std::string& folder, Operation operation) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = folder + "/control";
    int folderFd = -1;
    if (path.size() >= sizeof address.sun_path) {
        folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0)
            return -1;
        path = "/proc/self/fd/" + std::to_string(folderFd) + "/control";
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int result = operation(reinterpret_cast<const sockaddr*>(&address), socklen_t{sizeof address});
    const int error = errno;
    if (folderFd >= 0)
        close(folderFd);
    errno = error;
    return result;
}

// Waits up to the time for the descriptor to be readable; false on time-out or failure.
bool WaitReadable(int fd, int milliseconds) {
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

bool ReadExactly(int fd, void* buffer, std::size_t size, int milliseconds) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        if (!WaitReadable(fd, milliseconds))
            return false;
        const ssize_t got = read(fd, bytes + done, size - done);
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

// A control's answer: 0 or an error number, then the status.
struct ControlReply {
    int32_t result = 0;
    ServiceStatus status;
};

// ---- starting a program detached

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

// Runs the command line as a grandchild in its own session, so that it belongs to no caller. The
// process waits before executing the program until record() has written down its id, so the
// database knows the process before it can report anything. True with the id in *pid once the program
// runs; false with the reason in errno.
template <typename Record>
bool SpawnDetached(const std::u16string& commandLine, const std::vector<std::string>& addedEnvironment,
                   Record record, pid_t* pid) {
    const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
    if (arguments.empty() || arguments[0].empty())
        return Fail(ENOENT);
    std::vector<std::string> argumentBytes;
    for (const std::u16string& argument : arguments)
        argumentBytes.push_back(Native(argument));
    const std::string program = FindProgram(argumentBytes[0]);
    if (program.empty())
        return Fail(ENOENT);

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

    // Everything the children use is prepared here: between fork and exec they only make system calls.
    std::vector<char*> argv;
    for (std::string& argument : argumentBytes)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    int report[2];   // the grandchild's id, then the reason why it could not execute the program
    int release[2];  // closed by us once the id is recorded; a byte first means "go on"
    if (pipe2(report, O_CLOEXEC) != 0)
        return false;
    if (pipe2(release, O_CLOEXEC) != 0) {
        const int error = errno;
        close(report[0]);
        close(report[1]);
        return Fail(error);
    }

    const pid_t child = fork();
    if (child < 0) {
        const int error = errno;
        for (const int fd : {report[0], report[1], release[0], release[1]})
            close(fd);
        return Fail(error);
    }
    if (child == 0) {
        close(report[0]);
        close(release[1]);
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0) {
            const int32_t value = grandchild > 0 ? grandchild : -errno;
            (void)!write(report[1], &value, sizeof value);
            _exit(0);
        }
        char go = 0;
        ssize_t got;
        while ((got = read(release[0], &go, 1)) < 0 && errno == EINTR) {
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
        execve(program.c_str(), argv.data(), envp.data());
        const int32_t error = errno;
        (void)!write(report[1], &error, sizeof error);
        _exit(127);
    }

    close(report[1]);
    close(release[0]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    int32_t value = 0;
    if (!ReadExactly(report[0], &value, sizeof value, kControlTimeLimitMilliseconds) || value <= 0) {
        close(report[0]);
        close(release[1]);
        return Fail(value < 0 ? -value : ECHILD);
    }
    *pid = value;
    if (!record(*pid)) {
        const int error = errno;
        // Closing without the byte makes the grandchild end before it runs anything.
        close(release[1]);
        close(report[0]);
        return Fail(error);
    }
    const char go = 1;
    (void)!write(release[1], &go, 1);
    close(release[1]);
    int32_t error = 0;
    const bool failed = ReadExactly(report[0], &error, sizeof error, kControlTimeLimitMilliseconds);
    close(report[0]);
    return failed ? Fail(error) : true;
}

// ---- the dispatcher of this process

}  // namespace

struct ServiceStatusRecord {
    std::u16string name;
    std::string database;
    std::string folder;  // the service's folder when the database knows this process as the service
    uint64_t startTime = 0;
    HandlerFunction handler = nullptr;
    ServiceStatus status;
    int wakeWrite = -1;
};

namespace {

std::mutex DispatcherLock;
ServiceStatusRecord* Dispatcher = nullptr;
// The write end of the dispatcher's wake-up pipe, for the signal handler.
std::atomic<int> SignalWakeFd{-1};

// Wake-up bytes.
constexpr char kWakeHandler = 'R';  // a handler was registered
constexpr char kWakeStatus = 'U';   // the status changed
constexpr char kWakeEnded = 'E';    // the service main procedure returned
constexpr char kWakeInterrupt = 'I';
constexpr char kWakeTerminate = 'T';

void Wake(int fd, char reason) {
    if (fd >= 0)
        (void)!write(fd, &reason, 1);
}

void OnStopSignal(int signal) {
    const int saved = errno;
    Wake(SignalWakeFd.load(), signal == SIGINT ? kWakeInterrupt : kWakeTerminate);
    errno = saved;
}

// Writes the dispatcher's status into the database; the caller holds DispatcherLock.
void RecordDispatcherStatus(ServiceStatusRecord& dispatcher) {
    if (dispatcher.folder.empty())
        return;
    StatusRecord record;
    record.exists = true;
    record.status = dispatcher.status;
    record.processId = getpid();
    record.processStartTime = dispatcher.startTime;
    record.connected = true;
    WriteStatus(dispatcher.folder, record);
    if (dispatcher.status.CurrentState == SERVICE_STOPPED && MarkedForDeletion(dispatcher.folder)) {
        DatabaseLock lock(dispatcher.database);
        RemoveService(dispatcher.database, Native(dispatcher.name));
        dispatcher.folder.clear();
    }
}

// Makes this process the one the database knows as the service. Foreground processes do so only when
// the service is installed and not running elsewhere; false then means "run without the database".
bool Attach(ServiceStatusRecord& dispatcher, bool startedByManager, int* listener) {
    const std::string name = Native(dispatcher.name);
    const std::string folder = ServiceFolder(dispatcher.database, name);
    DatabaseLock lock(dispatcher.database);
    ServiceConfig config;
    if (!IsValidServiceName(name) || !ReadConfig(folder, &config))
        return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    StatusRecord record;
    ReadStatus(folder, &record);
    dispatcher.startTime = ProcessStartTime(getpid());
    const bool ours = record.processId == getpid() && record.processStartTime == dispatcher.startTime;
    if (!ours && IsRunning(record))
        return Fail(startedByManager ? ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                                     : ERROR_SERVICE_ALREADY_RUNNING);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    unlink((folder + "/control").c_str());
    if (WithControlAddress(folder, [fd](const sockaddr* a, socklen_t l) { return bind(fd, a, l); }) != 0 ||
        listen(fd, 16) != 0) {
        const int error = errno;
        close(fd);
        return Fail(error);
    }
    dispatcher.folder = folder;
    dispatcher.status.ServiceType = config.ServiceType;
    dispatcher.status.CurrentState = SERVICE_START_PENDING;
    dispatcher.status.WaitHint = 2000;
    RecordDispatcherStatus(dispatcher);
    *listener = fd;
    return true;
}

// Calls the handler with a control on the dispatcher thread; false when no handler is registered.
bool DeliverControl(uint32_t control, ServiceStatus* status) {
    HandlerFunction handler = nullptr;
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        handler = Dispatcher->handler;
    }
    if (!handler)
        return false;
    handler(control);
    std::lock_guard<std::mutex> lock(DispatcherLock);
    *status = Dispatcher->status;
    return true;
}

void ServeControlRequest(int listener) {
    const int connection = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0)
        return;
    uint32_t control = 0;
    if (ReadExactly(connection, &control, sizeof control, kRequestTimeLimitMilliseconds)) {
        ControlReply reply;
        if (!DeliverControl(control, &reply.status))
            reply.result = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        SendAll(connection, &reply, sizeof reply);
    }
    close(connection);
}

// A stop signal becomes the control the service accepts for it once its handler can take it: a stop
// (shutdown for a program a service manager started, whose only sender of SIGTERM is the system going
// down), delivered only in a state in which a control manager would send one.
bool DeliverSignalControl(uint32_t control) {
    uint32_t state = 0;
    uint32_t accepted = 0;
    bool registered = false;
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        state = Dispatcher->status.CurrentState;
        accepted = Dispatcher->status.ControlsAccepted;
        registered = Dispatcher->handler != nullptr;
    }
    if (state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING)
        return true;  // already stopping: nothing more to ask
    const uint32_t needed =
        control == SERVICE_CONTROL_SHUTDOWN ? SERVICE_ACCEPT_SHUTDOWN : SERVICE_ACCEPT_STOP;
    if (!registered || state == SERVICE_START_PENDING || (accepted & needed) == 0)
        return false;
    ServiceStatus ignored;
    DeliverControl(control, &ignored);
    return true;
}

}  // namespace

// ---- the manager

ScHandle OpenSCManager(uint32_t) {
    const std::string database = DatabaseFolder();
    struct stat info;
    if (stat(database.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
        return FailWith<ServiceManagerObject>(ENOTDIR);
    auto* manager = new ServiceManagerObject;
    manager->database = database;
    return manager;
}

ScHandle OpenService(ScHandle manager, const std::u16string& serviceName, uint32_t) {
    if (!manager || manager->isService)
        return FailWith<ServiceManagerObject>(EBADF);
    const std::string name = Native(serviceName);
    if (!IsValidServiceName(name) || !ServiceInstalled(ServiceFolder(manager->database, name)))
        return FailWith<ServiceManagerObject>(ERROR_SERVICE_DOES_NOT_EXIST);
    auto* service = new ServiceManagerObject;
    service->isService = true;
    service->database = manager->database;
    service->name = name;
    return service;
}

ScHandle CreateService(ScHandle manager, const std::u16string& serviceName, const std::u16string& displayName,
                       uint32_t, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                       const std::u16string& binaryPathName) {
    if (!manager || manager->isService)
        return FailWith<ServiceManagerObject>(EBADF);
    const std::string name = Native(serviceName);
    if (!IsValidServiceName(name) || !IsSingleLine(displayName) || !IsSingleLine(binaryPathName) ||
        binaryPathName.empty() || startType > SERVICE_DISABLED) {
        return FailWith<ServiceManagerObject>(EINVAL);
    }
    if (!MakeFolders(manager->database))
        return nullptr;
    DatabaseLock lock(manager->database);
    if (!lock.Held())
        return nullptr;
    const std::string folder = ServiceFolder(manager->database, name);
    if (ServiceInstalled(folder)) {
        return FailWith<ServiceManagerObject>(MarkedForDeletion(folder) ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                                        : ERROR_SERVICE_EXISTS);
    }
    // A folder left without a configuration by an interrupted removal is no installation.
    rmdir(folder.c_str());
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        return nullptr;

    ServiceConfig config;
    config.ServiceType = serviceType;
    config.StartType = startType;
    config.ErrorControl = errorControl;
    config.BinaryPathName = binaryPathName;
    config.DisplayName = displayName.empty() ? serviceName : displayName;
    if (!WriteUnit(name, config)) {
        const int error = errno;
        rmdir(folder.c_str());
        return FailWith<ServiceManagerObject>(error);
    }
    Values values;
    values["ServiceType"] = std::to_string(config.ServiceType);
    values["StartType"] = std::to_string(config.StartType);
    values["ErrorControl"] = std::to_string(config.ErrorControl);
    values["BinaryPathName"] = Native(config.BinaryPathName);
    values["DisplayName"] = Native(config.DisplayName);
    if (!WriteValues(folder + "/config", values)) {
        const int error = errno;
        RemoveUnit(name);
        rmdir(folder.c_str());
        return FailWith<ServiceManagerObject>(error);
    }
    auto* service = new ServiceManagerObject;
    service->isService = true;
    service->database = manager->database;
    service->name = name;
    return service;
}

bool DeleteService(ScHandle service) {
    if (!service || !service->isService)
        return Fail(EBADF);
    DatabaseLock lock(service->database);
    if (!lock.Held())
        return false;
    const std::string folder = ServiceFolder(service->database, service->name);
    if (!ServiceInstalled(folder))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (MarkedForDeletion(folder))
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    StatusRecord record;
    ReadStatus(folder, &record);
    if (IsRunning(record))
        return WriteWholeFile(folder + "/deleted", "", 0644);
    return RemoveService(service->database, service->name);
}

bool CloseServiceHandle(ScHandle handle) {
    if (!handle)
        return Fail(EBADF);
    delete handle;
    return true;
}

bool QueryServiceConfig(ScHandle service, ServiceConfig* config) {
    if (!service || !service->isService)
        return Fail(EBADF);
    if (!ReadConfig(ServiceFolder(service->database, service->name), config))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    return true;
}

bool QueryServiceStatus(ScHandle service, ServiceStatus* status) {
    if (!service || !service->isService)
        return Fail(EBADF);
    const std::string folder = ServiceFolder(service->database, service->name);
    ServiceConfig config;
    if (!ReadConfig(folder, &config))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    StatusRecord record;
    ReadStatus(folder, &record);
    *status = EffectiveStatus(config, record);
    if (status->CurrentState == SERVICE_STOPPED && MarkedForDeletion(folder)) {
        // The process ended without reporting the stop that would have completed the deletion.
        DatabaseLock lock(service->database);
        RemoveService(service->database, service->name);
    }
    return true;
}

bool StartService(ScHandle service) {
    if (!service || !service->isService)
        return Fail(EBADF);
    const std::string folder = ServiceFolder(service->database, service->name);
    pid_t pid = 0;
    uint64_t startTime = 0;
    {
        DatabaseLock lock(service->database);
        if (!lock.Held())
            return false;
        ServiceConfig config;
        if (!ReadConfig(folder, &config))
            return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
        if (MarkedForDeletion(folder))
            return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
        if (config.StartType == SERVICE_DISABLED)
            return Fail(ERROR_SERVICE_DISABLED);
        StatusRecord record;
        ReadStatus(folder, &record);
        if (IsRunning(record))
            return Fail(ERROR_SERVICE_ALREADY_RUNNING);

        const std::vector<std::string> environment = {
            std::string(kStartedServiceVariable) + "=" + service->name,
            std::string(kDatabaseVariable) + "=" + service->database,
        };
        const auto recordStart = [&](pid_t started) {
            StatusRecord pending;
            pending.exists = true;
            pending.status.ServiceType = config.ServiceType;
            pending.status.CurrentState = SERVICE_START_PENDING;
            pending.status.WaitHint = 2000;
            pending.processId = started;
            pending.processStartTime = startTime = ProcessStartTime(started);
            return WriteStatus(folder, pending);
        };
        if (!SpawnDetached(config.BinaryPathName, environment, recordStart, &pid)) {
            const int error = errno;
            StatusRecord stopped;
            stopped.exists = true;
            stopped.status.ServiceType = config.ServiceType;
            stopped.status.CurrentState = SERVICE_STOPPED;
            stopped.status.Win32ExitCode = static_cast<uint32_t>(error);
            WriteStatus(folder, stopped);
            return Fail(error);
        }
    }

    // The program is running; it counts as started once its dispatcher receives controls.
    const Clock::time_point deadline = Clock::now() + kConnectTimeLimit;
    for (;;) {
        StatusRecord record;
        if (ReadStatus(folder, &record) && record.processId == pid && record.connected)
            return true;
        if (ProcessStartTime(pid) != startTime)
            return Fail(ERROR_PROCESS_ABORTED);
        if (Clock::now() > deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A program that never connects is not a service: it is ended, as a control manager does.
    kill(pid, SIGKILL);
    StatusRecord stopped;
    stopped.exists = true;
    stopped.status.CurrentState = SERVICE_STOPPED;
    stopped.status.Win32ExitCode = ERROR_SERVICE_REQUEST_TIMEOUT;
    WriteStatus(folder, stopped);
    return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

bool ControlService(ScHandle service, uint32_t control, ServiceStatus* status) {
    if (!service || !service->isService)
        return Fail(EBADF);
    const std::string folder = ServiceFolder(service->database, service->name);
    ServiceConfig config;
    if (!ReadConfig(folder, &config))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    const bool userControl = control >= SERVICE_USER_CONTROL_FIRST && control <= SERVICE_USER_CONTROL_LAST;
    if (!userControl && (control < SERVICE_CONTROL_STOP || control > SERVICE_CONTROL_SHUTDOWN))
        return Fail(ERROR_INVALID_SERVICE_CONTROL);
    StatusRecord record;
    ReadStatus(folder, &record);
    const ServiceStatus current = EffectiveStatus(config, record);
    *status = current;
    if (current.CurrentState == SERVICE_STOPPED)
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    if (current.CurrentState == SERVICE_START_PENDING || current.CurrentState == SERVICE_STOP_PENDING)
        return Fail(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    if (!record.connected)
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    uint32_t needed = 0;
    if (control == SERVICE_CONTROL_STOP)
        needed = SERVICE_ACCEPT_STOP;
    else if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE)
        needed = SERVICE_ACCEPT_PAUSE_CONTINUE;
    else if (control == SERVICE_CONTROL_SHUTDOWN)
        needed = SERVICE_ACCEPT_SHUTDOWN;
    if ((current.ControlsAccepted & needed) != needed)
        return Fail(ERROR_INVALID_SERVICE_CONTROL);

    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (WithControlAddress(folder, [fd](const sockaddr* a, socklen_t l) { return connect(fd, a, l); }) != 0) {
        close(fd);
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    }
    ControlReply reply;
    const bool sent = SendAll(fd, &control, sizeof control);
    const bool answered = sent && ReadExactly(fd, &reply, sizeof reply, kControlTimeLimitMilliseconds);
    close(fd);
    if (!answered) {
        // A dispatcher that went away while we asked is a service that stopped meanwhile.
        ReadStatus(folder, &record);
        return Fail(IsRunning(record) ? ERROR_SERVICE_REQUEST_TIMEOUT : ERROR_SERVICE_NOT_ACTIVE);
    }
    if (reply.result != 0)
        return Fail(reply.result);
    *status = reply.status;
    return true;
}

// ---- the service's process

bool StartServiceCtrlDispatcher(const ServiceTableEntry* table) {
    if (!table || !table->ServiceName || !table->ServiceProc)
        return Fail(EINVAL);
    ServiceStatusRecord dispatcher;
    dispatcher.name = table->ServiceName;
    dispatcher.database = DatabaseFolder();
    dispatcher.status.ServiceType = SERVICE_WIN32_OWN_PROCESS;
    dispatcher.status.CurrentState = SERVICE_START_PENDING;

    const char* mark = std::getenv(kStartedServiceVariable);
    const bool startedByManager = mark && *mark;
    if (startedByManager)
        dispatcher.name = AnsiToUnicode(mark);

    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    dispatcher.wakeWrite = wake[1];
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        if (Dispatcher) {
            close(wake[0]);
            close(wake[1]);
            return Fail(ERROR_SERVICE_ALREADY_RUNNING);
        }
        Dispatcher = &dispatcher;
    }
    const auto release = [&] {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        Dispatcher = nullptr;
        close(wake[0]);
        close(wake[1]);
    };

    int listener = -1;
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        bool attached = false;
        const std::string name = Native(dispatcher.name);
        if (startedByManager ||
            (IsValidServiceName(name) && ServiceInstalled(ServiceFolder(dispatcher.database, name))))
            attached = Attach(dispatcher, startedByManager, &listener);
        if (!attached && startedByManager) {
            const int error = errno;
            Dispatcher = nullptr;
            close(wake[0]);
            close(wake[1]);
            return Fail(error);
        }
    }

    // Stop signals reach the dispatcher thread through the wake-up pipe.
    struct sigaction onSignal {};
    onSignal.sa_handler = OnStopSignal;
    sigemptyset(&onSignal.sa_mask);
    onSignal.sa_flags = SA_RESTART;
    struct sigaction previousInterrupt {};
    struct sigaction previousTerminate {};
    SignalWakeFd = wake[1];
    if (!startedByManager)
        sigaction(SIGINT, &onSignal, &previousInterrupt);
    sigaction(SIGTERM, &onSignal, &previousTerminate);
    const uint32_t signalControl = startedByManager ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP;

    std::u16string argument0 = dispatcher.name;
    char16_t* arguments[] = {argument0.data(), nullptr};
    std::thread serviceMain;
    try {
        serviceMain = std::thread([table, &arguments, wakeFd = wake[1]] {
            table->ServiceProc(1, arguments);
            Wake(wakeFd, kWakeEnded);
        });
    } catch (const std::system_error&) {
        serviceMain = std::thread();
    }

    bool signalPending = false;
    bool running = serviceMain.joinable();
    while (running) {
        pollfd entries[2] = {{wake[0], POLLIN, 0}, {listener, POLLIN, 0}};
        if (poll(entries, listener >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (entries[0].revents & POLLIN) {
            char reasons[64];
            const ssize_t got = read(wake[0], reasons, sizeof reasons);
            for (ssize_t i = 0; i < got; ++i) {
                if (reasons[i] == kWakeEnded)
                    running = false;
                else if (reasons[i] == kWakeInterrupt || reasons[i] == kWakeTerminate)
                    signalPending = true;
            }
        }
        if (listener >= 0 && (entries[1].revents & POLLIN))
            ServeControlRequest(listener);
        if (signalPending && running)
            signalPending = !DeliverSignalControl(signalControl);
        std::lock_guard<std::mutex> lock(DispatcherLock);
        if (dispatcher.status.CurrentState == SERVICE_STOPPED)
            running = false;
    }
    const int threadError = serviceMain.joinable() ? 0 : ERROR_SERVICE_NO_THREAD;
    if (serviceMain.joinable())
        serviceMain.join();

    SignalWakeFd = -1;
    if (!startedByManager)
        sigaction(SIGINT, &previousInterrupt, nullptr);
    sigaction(SIGTERM, &previousTerminate, nullptr);
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        if (dispatcher.status.CurrentState != SERVICE_STOPPED) {
            dispatcher.status.CurrentState = SERVICE_STOPPED;
            dispatcher.status.ControlsAccepted = 0;
            dispatcher.status.CheckPoint = 0;
            dispatcher.status.WaitHint = 0;
            RecordDispatcherStatus(dispatcher);
        }
        if (listener >= 0) {
            close(listener);
            if (!dispatcher.folder.empty())
                unlink((dispatcher.folder + "/control").c_str());
        }
    }
    release();
    return threadError == 0 ? true : Fail(threadError);
}

ServiceStatusHandle RegisterServiceCtrlHandler(const std::u16string&, HandlerFunction handler) {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    if (!Dispatcher)
        return FailWith<ServiceStatusRecord>(ERROR_SERVICE_NOT_IN_EXE);
    if (!handler)
        return FailWith<ServiceStatusRecord>(EINVAL);
    Dispatcher->handler = handler;
    Wake(Dispatcher->wakeWrite, kWakeHandler);
    return Dispatcher;
}

bool SetServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    if (!handle || handle != Dispatcher)
        return Fail(EBADF);
    if (status.CurrentState < SERVICE_STOPPED || status.CurrentState > SERVICE_PAUSED)
        return Fail(EINVAL);
    handle->status = status;
    RecordDispatcherStatus(*handle);
    Wake(handle->wakeWrite, kWakeStatus);
    return true;
}

}  // namespace velmora::platform
