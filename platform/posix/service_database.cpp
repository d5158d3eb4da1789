#include "platform/posix/service_database.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "platform/ansi.h"
#include "platform/posix/systemd_unit.h"

namespace velmora::platform::posix {

namespace {

constexpr char DEFAULT_DATABASE[] = "/var/lib/velmora/services";

// Files of "Name=Value" lines, replaced whole by a rename so that a reader never sees half of one.
using Values = std::map<std::string, std::string>;

bool ReadValues(const std::string& path, Values* values) {
    std::string content;
    if (!ReadWholeFile(path, &content))
        return false;
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

}  // namespace

std::string Native(const std::u16string& text) {
    return UnicodeToAnsi(text);
}

std::string DatabaseFolder() {
    const char* overridden = std::getenv(DATABASE_VARIABLE);
    std::string folder = overridden && *overridden ? overridden : DEFAULT_DATABASE;
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

bool IsValidServiceName(const std::string& name) {
    if (name.empty() || name.size() > 256 || name[0] == '.')
        return false;
    for (const char c : name) {
        if (c == '/' || c == '\\' || c == '\n' || c == '\r' || c == 0)
            return false;
    }
    return true;
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

bool WriteWholeFile(const std::string& path, const std::string& content, mode_t mode) {
    static std::atomic<unsigned> counter{0};
    const std::string temporary =
        path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    CFileDescriptor file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode));
    if (!file.IsValid())
        return false;
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t put = write(file.Get(), content.data() + done, content.size() - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0) {
            const int error = errno;
            file.Close();
            unlink(temporary.c_str());
            return Fail(error);
        }
        done += static_cast<std::size_t>(put);
    }
    if (!file.Close() || rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temporary.c_str());
        return Fail(error);
    }
    return true;
}

bool ReadStatus(const std::string& folder, CStatusRecord* record) {
    *record = CStatusRecord();
    Values values;
    if (!ReadValues(folder + "/status", &values))
        return false;
    record->Exists = true;
    record->Status.ServiceType = NumberValue(values, "ServiceType");
    record->Status.CurrentState = NumberValue(values, "CurrentState");
    record->Status.ControlsAccepted = NumberValue(values, "ControlsAccepted");
    record->Status.Win32ExitCode = NumberValue(values, "Win32ExitCode");
    record->Status.ServiceSpecificExitCode = NumberValue(values, "ServiceSpecificExitCode");
    record->Status.CheckPoint = NumberValue(values, "CheckPoint");
    record->Status.WaitHint = NumberValue(values, "WaitHint");
    record->ProcessId = static_cast<pid_t>(LongValue(values, "ProcessId"));
    record->ProcessStartTime = LongValue(values, "ProcessStartTime");
    record->Connected = LongValue(values, "Connected") != 0;
    return true;
}

bool WriteStatus(const std::string& folder, const CStatusRecord& record) {
    Values values;
    values["ServiceType"] = std::to_string(record.Status.ServiceType);
    values["CurrentState"] = std::to_string(record.Status.CurrentState);
    values["ControlsAccepted"] = std::to_string(record.Status.ControlsAccepted);
    values["Win32ExitCode"] = std::to_string(record.Status.Win32ExitCode);
    values["ServiceSpecificExitCode"] = std::to_string(record.Status.ServiceSpecificExitCode);
    values["CheckPoint"] = std::to_string(record.Status.CheckPoint);
    values["WaitHint"] = std::to_string(record.Status.WaitHint);
    values["ProcessId"] = std::to_string(record.ProcessId);
    values["ProcessStartTime"] = std::to_string(record.ProcessStartTime);
    values["Connected"] = record.Connected ? "1" : "0";
    return WriteValues(folder + "/status", values);
}

bool ReadConfig(const std::string& folder, CServiceConfig* config) {
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

bool WriteConfig(const std::string& folder, const CServiceConfig& config) {
    Values values;
    values["ServiceType"] = std::to_string(config.ServiceType);
    values["StartType"] = std::to_string(config.StartType);
    values["ErrorControl"] = std::to_string(config.ErrorControl);
    values["BinaryPathName"] = Native(config.BinaryPathName);
    values["DisplayName"] = Native(config.DisplayName);
    return WriteValues(folder + "/config", values);
}

bool ServiceInstalled(const std::string& folder) {
    return PathExists(folder + "/config");
}

bool MarkedForDeletion(const std::string& folder) {
    return PathExists(folder + "/deleted");
}

uint64_t ProcessStartTime(pid_t pid) {
    if (pid <= 0)
        return 0;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::string line;
    if (!ReadWholeFile(path, &line))
        return 0;
    // The program name in parentheses may hold anything: the fields start after the last ')'.
    const std::size_t nameEnd = line.rfind(')');
    if (nameEnd == std::string::npos)
        return 0;
    const char* fields = line.c_str() + nameEnd;
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

bool ProcessAlive(const CStatusRecord& record) {
    return record.ProcessId > 0 && ProcessStartTime(record.ProcessId) == record.ProcessStartTime &&
           record.ProcessStartTime != 0;
}

CServiceStatus EffectiveStatus(const CServiceConfig& config, const CStatusRecord& record) {
    CServiceStatus status;
    status.ServiceType = config.ServiceType;
    status.CurrentState = SERVICE_STOPPED;
    if (!record.Exists) {
        status.Win32ExitCode = ERROR_SERVICE_NEVER_STARTED;
        return status;
    }
    if (record.Status.CurrentState == SERVICE_STOPPED) {
        status = record.Status;
        status.ControlsAccepted = 0;
        return status;
    }
    if (ProcessAlive(record))
        return record.Status;
    status.Win32ExitCode = ERROR_PROCESS_ABORTED;
    return status;
}

bool IsRunning(const CStatusRecord& record) {
    return record.Exists && record.Status.CurrentState != SERVICE_STOPPED && ProcessAlive(record);
}

CDatabaseLock::CDatabaseLock(const std::string& database)
    : LockFile(open((database + "/.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {
    while (LockFile.IsValid() && flock(LockFile.Get(), LOCK_EX) != 0) {
        if (errno != EINTR)
            LockFile.Close();
    }
}

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

}  // namespace velmora::platform::posix
