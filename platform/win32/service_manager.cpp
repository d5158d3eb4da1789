// The header's names are the Win32 ones: it comes before windows.h, whose macros of the same names are
// undone below, and the Windows functions are called by their wide names.
#include "platform/service_manager.h"

#include <windows.h>
// clang-format off
#include <tlhelp32.h>
// clang-format on

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/win32/wide.h"

#undef OpenSCManager
#undef OpenService
#undef CreateService
#undef QueryServiceConfig
#undef StartService
#undef StartServiceCtrlDispatcher
#undef RegisterServiceCtrlHandler

namespace velmora::platform {

struct CServiceManagerObject {
    SC_HANDLE Handle = nullptr;
};

struct CServiceStatusRecord {
    SERVICE_STATUS_HANDLE Handle = nullptr;  // null in the foreground
};

namespace {

CServiceStatus FromNative(const SERVICE_STATUS& native) {
    CServiceStatus status;
    status.ServiceType = native.dwServiceType;
    status.CurrentState = native.dwCurrentState;
    status.ControlsAccepted = native.dwControlsAccepted;
    status.Win32ExitCode = native.dwWin32ExitCode;
    status.ServiceSpecificExitCode = native.dwServiceSpecificExitCode;
    status.CheckPoint = native.dwCheckPoint;
    status.WaitHint = native.dwWaitHint;
    return status;
}

ScHandle Wrap(SC_HANDLE handle) {
    if (!handle)
        return nullptr;
    return new CServiceManagerObject{handle};
}

// The service this process runs. The control manager calls plain Windows procedures; these forward to the
// service's own.
std::mutex DispatcherLock;
ServiceMainFunction RunningMain = nullptr;
HandlerFunction RunningHandler = nullptr;

void WINAPI ServiceMainEntry(DWORD argumentCount, LPWSTR* arguments) {
    ServiceMainFunction main = nullptr;
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        main = RunningMain;
    }
    if (main)
        main(argumentCount, reinterpret_cast<char16_t**>(arguments));
}

void WINAPI HandlerEntry(DWORD control) {
    HandlerFunction handler = nullptr;
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        handler = RunningHandler;
    }
    if (handler)
        handler(control);
}

// A program started by hand rather than by the control manager runs its service in the foreground:
// Ctrl-C, Ctrl-Break and closing the console become a stop request, handed to the service's handler on
// the dispatcher thread once the service runs and accepts it.
struct CForeground {
    CServiceStatus Status;
    CServiceStatusRecord Record;
    bool StopRequested = false;
    bool MainEnded = false;
};
CForeground* RunningForeground = nullptr;  // guarded by DispatcherLock
// Outlives every foreground run: the console's handler may still wait on it when the run has ended.
std::condition_variable ForegroundChanged;

BOOL WINAPI OnConsoleControl(DWORD event) {
    std::unique_lock<std::mutex> lock(DispatcherLock);
    if (!RunningForeground)
        return FALSE;
    RunningForeground->StopRequested = true;
    ForegroundChanged.notify_all();
    // The system ends the process as soon as this returns from a close, log-off or shutdown: give the
    // service the few seconds Windows allows to stop.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        ForegroundChanged.wait_for(lock, std::chrono::seconds(4),
                                   [] { return !RunningForeground || RunningForeground->MainEnded; });
    }
    return TRUE;
}

bool RunInForeground(const CServiceTableEntry& entry) {
    CForeground foreground;
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        if (RunningForeground || RunningMain) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return false;
        }
        foreground.Status.CurrentState = SERVICE_START_PENDING;
        RunningForeground = &foreground;
        RunningMain = entry.ServiceProc;
        RunningHandler = nullptr;
    }
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);

    std::u16string argument0 = entry.ServiceName;
    char16_t* arguments[] = {argument0.data(), nullptr};
    std::thread serviceMain;
    try {
        serviceMain = std::thread([&foreground, &arguments, main = entry.ServiceProc] {
            main(1, arguments);
            std::lock_guard<std::mutex> lock(DispatcherLock);
            foreground.MainEnded = true;
            ForegroundChanged.notify_all();
        });
    } catch (const std::system_error&) {
        serviceMain = std::thread();
    }

    std::unique_lock<std::mutex> lock(DispatcherLock);
    while (serviceMain.joinable() && !foreground.MainEnded &&
           foreground.Status.CurrentState != SERVICE_STOPPED) {
        // A stop request waits until a control manager would send it: once the service runs and accepts it.
        const uint32_t state = foreground.Status.CurrentState;
        if (foreground.StopRequested && RunningHandler && state != SERVICE_START_PENDING &&
            state != SERVICE_STOP_PENDING &&
            (foreground.Status.ControlsAccepted & SERVICE_ACCEPT_STOP) != 0) {
            foreground.StopRequested = false;
            const HandlerFunction handler = RunningHandler;
            lock.unlock();
            handler(SERVICE_CONTROL_STOP);
            lock.lock();
            continue;
        }
        ForegroundChanged.wait(lock);
    }
    lock.unlock();
    const bool started = serviceMain.joinable();
    if (started)
        serviceMain.join();
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    lock.lock();
    RunningForeground = nullptr;
    RunningMain = nullptr;
    RunningHandler = nullptr;
    ForegroundChanged.notify_all();
    lock.unlock();
    if (!started)
        SetLastError(ERROR_SERVICE_NO_THREAD);
    return started;
}

// The control manager starts every service process itself (services.exe). A program with another parent
// was started by hand: asking the manager for its dispatcher connection would only fail, on Wine after a
// wait of ten seconds. When this process is missing from the list, the manager is asked.
bool StartedByHand() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    bool found = false;
    for (bool more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            found = true;
        }
    }
    // The manager outlives the services it starts: a parent that is gone (or, on Wine, a Unix process)
    // is not the manager either.
    bool byManager = !found;
    if (found) {
        entry.dwSize = sizeof entry;
        for (bool more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
            if (entry.th32ProcessID == parent) {
                byManager = lstrcmpiW(entry.szExeFile, L"services.exe") == 0;
                break;
            }
        }
    }
    CloseHandle(snapshot);
    return !byManager;
}

}  // namespace

// ---- the manager

ScHandle OpenSCManager(uint32_t desiredAccess) {
    return Wrap(OpenSCManagerW(nullptr, nullptr, desiredAccess));
}

ScHandle OpenService(ScHandle manager, const std::u16string& serviceName, uint32_t desiredAccess) {
    if (!manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return Wrap(OpenServiceW(manager->Handle, Wide(serviceName), desiredAccess));
}

ScHandle CreateService(ScHandle manager, const std::u16string& serviceName, const std::u16string& displayName,
                       uint32_t desiredAccess, uint32_t serviceType, uint32_t startType,
                       uint32_t errorControl, const std::u16string& binaryPathName) {
    if (!manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return Wrap(CreateServiceW(manager->Handle, Wide(serviceName), Wide(displayName), desiredAccess,
                               serviceType, startType, errorControl, Wide(binaryPathName), nullptr, nullptr,
                               nullptr, nullptr, nullptr));
}

bool DeleteService(ScHandle service) {
    if (!service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return ::DeleteService(service->Handle);
}

bool CloseServiceHandle(ScHandle handle) {
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const bool closed = ::CloseServiceHandle(handle->Handle);
    const DWORD error = GetLastError();
    delete handle;
    SetLastError(error);
    return closed;
}

bool QueryServiceConfig(ScHandle service, CServiceConfig* config) {
    if (!service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    DWORD needed = 0;
    if (QueryServiceConfigW(service->Handle, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        return false;
    // QUERY_SERVICE_CONFIGW holds pointers: the buffer must be aligned for them.
    std::vector<QUERY_SERVICE_CONFIGW> buffer(needed / sizeof(QUERY_SERVICE_CONFIGW) + 1);
    if (!QueryServiceConfigW(service->Handle, buffer.data(),
                             static_cast<DWORD>(buffer.size() * sizeof(QUERY_SERVICE_CONFIGW)), &needed)) {
        return false;
    }
    const QUERY_SERVICE_CONFIGW& native = buffer.front();
    config->ServiceType = native.dwServiceType;
    config->StartType = native.dwStartType;
    config->ErrorControl = native.dwErrorControl;
    config->BinaryPathName = FromWide(native.lpBinaryPathName);
    config->DisplayName = FromWide(native.lpDisplayName);
    return true;
}

bool StartService(ScHandle service) {
    if (!service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return StartServiceW(service->Handle, 0, nullptr);
}

bool ControlService(ScHandle service, uint32_t control, CServiceStatus* status) {
    if (!service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    SERVICE_STATUS native = {};
    const bool sent = ::ControlService(service->Handle, control, &native);
    const DWORD error = GetLastError();
    *status = FromNative(native);
    SetLastError(error);
    return sent;
}

bool QueryServiceStatus(ScHandle service, CServiceStatus* status) {
    if (!service) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    SERVICE_STATUS native = {};
    if (!::QueryServiceStatus(service->Handle, &native))
        return false;
    *status = FromNative(native);
    return true;
}

// ---- the service's process

bool StartServiceCtrlDispatcher(const CServiceTableEntry* table) {
    if (!table || !table->ServiceName || !table->ServiceProc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (StartedByHand())
        return RunInForeground(*table);
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        if (RunningMain) {
            SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
            return false;
        }
        RunningMain = table->ServiceProc;
    }
    std::u16string name = table->ServiceName;
    SERVICE_TABLE_ENTRYW native[] = {{Wide(name), ServiceMainEntry}, {nullptr, nullptr}};
    if (StartServiceCtrlDispatcherW(native)) {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        RunningMain = nullptr;
        RunningHandler = nullptr;
        return true;
    }
    const DWORD error = GetLastError();
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        RunningMain = nullptr;
    }
    // No control manager started this process: it was started by hand.
    if (error == ERROR_FAILED_SERVICE_CONTROLLER_CONNECT)
        return RunInForeground(*table);
    SetLastError(error);
    return false;
}

ServiceStatusHandle RegisterServiceCtrlHandler(const std::u16string& serviceName, HandlerFunction handler) {
    if (!handler) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(DispatcherLock);
    if (RunningForeground) {
        RunningHandler = handler;
        ForegroundChanged.notify_all();
        return &RunningForeground->Record;
    }
    if (!RunningMain) {
        SetLastError(ERROR_SERVICE_NOT_IN_EXE);
        return nullptr;
    }
    RunningHandler = handler;
    const SERVICE_STATUS_HANDLE native = RegisterServiceCtrlHandlerW(Wide(serviceName), HandlerEntry);
    if (!native)
        return nullptr;
    // One service per process: its record lives as long as the process.
    static CServiceStatusRecord record;
    record.Handle = native;
    return &record;
}

bool SetServiceStatus(ServiceStatusHandle handle, const CServiceStatus& status) {
    if (!handle) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!handle->Handle) {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        if (!RunningForeground || handle != &RunningForeground->Record) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        if (status.CurrentState < SERVICE_STOPPED || status.CurrentState > SERVICE_PAUSED) {
            SetLastError(ERROR_INVALID_DATA);
            return false;
        }
        RunningForeground->Status = status;
        ForegroundChanged.notify_all();
        return true;
    }
    SERVICE_STATUS native = {};
    native.dwServiceType = status.ServiceType;
    native.dwCurrentState = status.CurrentState;
    native.dwControlsAccepted = status.ControlsAccepted;
    native.dwWin32ExitCode = status.Win32ExitCode;
    native.dwServiceSpecificExitCode = status.ServiceSpecificExitCode;
    native.dwCheckPoint = status.CheckPoint;
    native.dwWaitHint = status.WaitHint;
    return ::SetServiceStatus(handle->Handle, &native);
}

}  // namespace velmora::platform
