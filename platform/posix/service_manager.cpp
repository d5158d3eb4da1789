// The service manager's operations on the database (described in platform/service_manager.h); the
// dispatcher of a service's own process is in service_dispatcher.cpp.
#include "platform/service_manager.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/detached_process.h"
#include "platform/posix/file_descriptor.h"
#include "platform/posix/service_control_channel.h"
#include "platform/posix/service_database.h"
#include "platform/posix/systemd_unit.h"

namespace velmora::platform {

using namespace posix;

namespace {

using Clock = std::chrono::steady_clock;

// How long StartService waits for the program to connect.
constexpr auto CONNECT_TIME_LIMIT = std::chrono::seconds(30);

bool IsSingleLine(const std::u16string& text) {
    return text.find_first_of(u"\r\n") == std::u16string::npos;
}

ScHandle NewService(const std::string& database, const std::string& name) {
    auto* service = new CServiceManagerObject;
    service->IsService = true;
    service->Database = database;
    service->Name = name;
    return service;
}

// The service's folder, configuration and status record; false with errno set when the handle is no
// service's or the service is not installed.
bool ReadService(ScHandle service, std::string* folder, CServiceConfig* config, CStatusRecord* record) {
    if (!service || !service->IsService)
        return Fail(EBADF);
    *folder = ServiceFolder(service->Database, service->Name);
    if (!ReadConfig(*folder, config))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    ReadStatus(*folder, record);
    return true;
}

// Records the outcome of a start that did not get the program running.
void RecordStopped(const std::string& folder, uint32_t serviceType, uint32_t exitCode) {
    CStatusRecord stopped;
    stopped.Exists = true;
    stopped.Status.ServiceType = serviceType;
    stopped.Status.CurrentState = SERVICE_STOPPED;
    stopped.Status.Win32ExitCode = exitCode;
    WriteStatus(folder, stopped);
}

// Starts the service's program under the database lock, once it may start; its id and start time.
bool LaunchService(const CServiceManagerObject& service, pid_t* pid, uint64_t* startTime) {
    const std::string folder = ServiceFolder(service.Database, service.Name);
    CDatabaseLock lock(service.Database);
    if (!lock.Held())
        return false;
    CServiceConfig config;
    if (!ReadConfig(folder, &config))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (MarkedForDeletion(folder))
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (config.StartType == SERVICE_DISABLED)
        return Fail(ERROR_SERVICE_DISABLED);
    CStatusRecord record;
    ReadStatus(folder, &record);
    if (IsRunning(record))
        return Fail(ERROR_SERVICE_ALREADY_RUNNING);

    const std::vector<std::string> environment = {
        std::string(STARTED_SERVICE_VARIABLE) + "=" + service.Name,
        std::string(DATABASE_VARIABLE) + "=" + service.Database,
    };
    const auto recordStart = [&](pid_t started) {
        CStatusRecord pending;
        pending.Exists = true;
        pending.Status.ServiceType = config.ServiceType;
        pending.Status.CurrentState = SERVICE_START_PENDING;
        pending.Status.WaitHint = 2000;
        pending.ProcessId = started;
        pending.ProcessStartTime = *startTime = ProcessStartTime(started);
        return WriteStatus(folder, pending);
    };
    if (!SpawnDetached(config.BinaryPathName, environment, recordStart, pid)) {
        const int error = errno;
        RecordStopped(folder, config.ServiceType, static_cast<uint32_t>(error));
        return Fail(error);
    }
    return true;
}

// The program is running; it counts as started once its dispatcher receives controls.
bool AwaitDispatcher(const std::string& folder, pid_t pid, uint64_t startTime) {
    const Clock::time_point deadline = Clock::now() + CONNECT_TIME_LIMIT;
    for (;;) {
        CStatusRecord record;
        if (ReadStatus(folder, &record) && record.ProcessId == pid && record.Connected)
            return true;
        if (ProcessStartTime(pid) != startTime)
            return Fail(ERROR_PROCESS_ABORTED);
        if (Clock::now() > deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A program that never connects is not a service: it is ended, as a control manager does.
    kill(pid, SIGKILL);
    RecordStopped(folder, 0, ERROR_SERVICE_REQUEST_TIMEOUT);
    return Fail(ERROR_SERVICE_REQUEST_TIMEOUT);
}

// Why the service cannot take the control in the status it is in; 0 when it can.
int ControlRefusal(const CServiceStatus& current, const CStatusRecord& record, uint32_t control) {
    if (current.CurrentState == SERVICE_STOPPED)
        return ERROR_SERVICE_NOT_ACTIVE;
    if (current.CurrentState == SERVICE_START_PENDING || current.CurrentState == SERVICE_STOP_PENDING)
        return ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
    if (!record.Connected)
        return ERROR_SERVICE_NOT_ACTIVE;
    uint32_t needed = 0;
    if (control == SERVICE_CONTROL_STOP)
        needed = SERVICE_ACCEPT_STOP;
    else if (control == SERVICE_CONTROL_PAUSE || control == SERVICE_CONTROL_CONTINUE)
        needed = SERVICE_ACCEPT_PAUSE_CONTINUE;
    else if (control == SERVICE_CONTROL_SHUTDOWN)
        needed = SERVICE_ACCEPT_SHUTDOWN;
    if ((current.ControlsAccepted & needed) != needed)
        return ERROR_INVALID_SERVICE_CONTROL;
    return 0;
}

}  // namespace

ScHandle OpenSCManager(uint32_t) {
    const std::string database = DatabaseFolder();
    struct stat info;
    if (stat(database.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))
        return FailWith<CServiceManagerObject>(ENOTDIR);
    auto* manager = new CServiceManagerObject;
    manager->Database = database;
    return manager;
}

ScHandle OpenService(ScHandle manager, const std::u16string& serviceName, uint32_t) {
    if (!manager || manager->IsService)
        return FailWith<CServiceManagerObject>(EBADF);
    const std::string name = Native(serviceName);
    if (!IsValidServiceName(name) || !ServiceInstalled(ServiceFolder(manager->Database, name)))
        return FailWith<CServiceManagerObject>(ERROR_SERVICE_DOES_NOT_EXIST);
    return NewService(manager->Database, name);
}

ScHandle CreateService(ScHandle manager, const std::u16string& serviceName, const std::u16string& displayName,
                       uint32_t, uint32_t serviceType, uint32_t startType, uint32_t errorControl,
                       const std::u16string& binaryPathName) {
    if (!manager || manager->IsService)
        return FailWith<CServiceManagerObject>(EBADF);
    const std::string name = Native(serviceName);
    if (!IsValidServiceName(name) || !IsSingleLine(displayName) || !IsSingleLine(binaryPathName) ||
        binaryPathName.empty() || startType > SERVICE_DISABLED) {
        return FailWith<CServiceManagerObject>(EINVAL);
    }
    if (!MakeFolders(manager->Database))
        return nullptr;
    CDatabaseLock lock(manager->Database);
    if (!lock.Held())
        return nullptr;
    const std::string folder = ServiceFolder(manager->Database, name);
    if (ServiceInstalled(folder)) {
        return FailWith<CServiceManagerObject>(MarkedForDeletion(folder) ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                                         : ERROR_SERVICE_EXISTS);
    }
    // A folder left without a configuration by an interrupted removal is no installation.
    rmdir(folder.c_str());
    if (mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
        return nullptr;

    CServiceConfig config;
    config.ServiceType = serviceType;
    config.StartType = startType;
    config.ErrorControl = errorControl;
    config.BinaryPathName = binaryPathName;
    config.DisplayName = displayName.empty() ? serviceName : displayName;
    if (!WriteUnit(name, config)) {
        const int error = errno;
        rmdir(folder.c_str());
        return FailWith<CServiceManagerObject>(error);
    }
    if (!WriteConfig(folder, config)) {
        const int error = errno;
        RemoveUnit(name);
        rmdir(folder.c_str());
        return FailWith<CServiceManagerObject>(error);
    }
    return NewService(manager->Database, name);
}

bool DeleteService(ScHandle service) {
    if (!service || !service->IsService)
        return Fail(EBADF);
    CDatabaseLock lock(service->Database);
    if (!lock.Held())
        return false;
    const std::string folder = ServiceFolder(service->Database, service->Name);
    if (!ServiceInstalled(folder))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    if (MarkedForDeletion(folder))
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    CStatusRecord record;
    ReadStatus(folder, &record);
    if (IsRunning(record))
        return WriteWholeFile(folder + "/deleted", "", 0644);
    return RemoveService(service->Database, service->Name);
}

bool CloseServiceHandle(ScHandle handle) {
    if (!handle)
        return Fail(EBADF);
    delete handle;
    return true;
}

bool QueryServiceConfig(ScHandle service, CServiceConfig* config) {
    if (!service || !service->IsService)
        return Fail(EBADF);
    if (!ReadConfig(ServiceFolder(service->Database, service->Name), config))
        return Fail(ERROR_SERVICE_DOES_NOT_EXIST);
    return true;
}

bool QueryServiceStatus(ScHandle service, CServiceStatus* status) {
    std::string folder;
    CServiceConfig config;
    CStatusRecord record;
    if (!ReadService(service, &folder, &config, &record))
        return false;
    *status = EffectiveStatus(config, record);
    if (status->CurrentState == SERVICE_STOPPED && MarkedForDeletion(folder)) {
        // The process ended without reporting the stop that would have completed the deletion.
        CDatabaseLock lock(service->Database);
        RemoveService(service->Database, service->Name);
    }
    return true;
}

bool StartService(ScHandle service) {
    if (!service || !service->IsService)
        return Fail(EBADF);
    pid_t pid = 0;
    uint64_t startTime = 0;
    if (!LaunchService(*service, &pid, &startTime))
        return false;
    return AwaitDispatcher(ServiceFolder(service->Database, service->Name), pid, startTime);
}

bool ControlService(ScHandle service, uint32_t control, CServiceStatus* status) {
    std::string folder;
    CServiceConfig config;
    CStatusRecord record;
    if (!ReadService(service, &folder, &config, &record))
        return false;
    const bool userControl = control >= SERVICE_USER_CONTROL_FIRST && control <= SERVICE_USER_CONTROL_LAST;
    if (!userControl && (control < SERVICE_CONTROL_STOP || control > SERVICE_CONTROL_SHUTDOWN))
        return Fail(ERROR_INVALID_SERVICE_CONTROL);
    *status = EffectiveStatus(config, record);
    if (const int refusal = ControlRefusal(*status, record, control))
        return Fail(refusal);

    CFileDescriptor connection;
    if (!ConnectToControls(folder, &connection))
        return false;
    CControlReply reply;
    const bool answered = ExchangeControl(connection.Get(), control, &reply);
    connection.Close();
    if (!answered) {
        // A dispatcher that went away while we asked is a service that stopped meanwhile.
        ReadStatus(folder, &record);
        return Fail(IsRunning(record) ? ERROR_SERVICE_REQUEST_TIMEOUT : ERROR_SERVICE_NOT_ACTIVE);
    }
    if (reply.Result != 0)
        return Fail(reply.Result);
    *status = reply.Status;
    return true;
}

}  // namespace velmora::platform
