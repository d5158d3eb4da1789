#include "core/service_control.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/file.h"
#include "platform/system_error.h"
#include "text/format.h"

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;
using platform::ScHandle;

// The one manager connection and the one status record of the process; no two of the operations run at
// once, so neither is guarded.
ScHandle ManagerHandle = nullptr;
platform::ServiceStatus Status;

void LogFailure(const char16_t* call) {
    const int error = platform::LastSystemError();
    App().WriteLog(Format(u"%s failed (%d): %s", call, error, platform::SystemErrorText(error)));
}

void CloseManager() {
    if (ManagerHandle) {
        platform::CloseServiceHandle(ManagerHandle);
        ManagerHandle = nullptr;
    }
}

// Sends a control to a running service and waits for the state it leads to.
bool ControlAndWait(ScHandle service, uint32_t control, int pendingState, int targetState) {
    if (!platform::ControlService(service, control, &Status)) {
        LogFailure(u"ControlService");
        return false;
    }
    return WaitForServiceState(service, pendingState, targetState);
}

}  // namespace

ScHandle OpenOrCreateService(bool create) {
    if (!ManagerHandle) {
        ManagerHandle = platform::OpenSCManager(platform::SC_MANAGER_ALL_ACCESS);
        if (!ManagerHandle) {
            LogFailure(u"OpenSCManager");
            return nullptr;
        }
    }
    ScHandle service = platform::OpenService(ManagerHandle, kServiceName, platform::SERVICE_ALL_ACCESS);
    if (service || !create) {
        CloseManager();
        return service;
    }

    App().WriteLog(u"QLS - Create Service");
    const std::u16string program = platform::ProgramFilePath();
    if (program.empty()) {
        LogFailure(u"GetModuleFileName");
        CloseManager();
        return nullptr;
    }
    service =
        platform::CreateService(ManagerHandle, kServiceName, kServiceName, platform::SERVICE_ALL_ACCESS,
                                platform::SERVICE_WIN32_OWN_PROCESS, platform::SERVICE_AUTO_START,
                                platform::SERVICE_ERROR_NORMAL, Format(u"\"%s\" \"-WINSERV\"", program));
    if (!service)
        LogFailure(u"CreateService");
    CloseManager();
    return service;
}

void CloseServiceHandles(ScHandle service) {
    if (service)
        platform::CloseServiceHandle(service);
    CloseManager();
}

int QueryServiceState(ScHandle service) {
    if (!service) {
        ScHandle opened = OpenOrCreateService(false);
        if (!opened)
            return kServiceStateUnknown;
        const int state = QueryServiceState(opened);
        CloseServiceHandles(opened);
        return state;
    }
    if (!platform::QueryServiceStatus(service, &Status))
        return kServiceStateUnknown;
    return static_cast<int>(Status.CurrentState);
}

bool WaitForServiceState(ScHandle service, int pendingState, int targetState) {
    if (!platform::QueryServiceStatus(service, &Status)) {
        LogFailure(u"Initial QueryServiceStatus");
        return false;
    }
    Clock::time_point progressTime = Clock::now();
    uint32_t checkPoint = Status.CheckPoint;
    while (static_cast<int>(Status.CurrentState) == pendingState) {
        // A tenth of the wait hint, but between one and ten seconds.
        const uint32_t pause = std::clamp<uint32_t>(Status.WaitHint / 10, 1000, 10000);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        if (!platform::QueryServiceStatus(service, &Status)) {
            LogFailure(u"QueryServiceStatus");
            break;
        }
        if (Status.CheckPoint > checkPoint) {
            checkPoint = Status.CheckPoint;
            progressTime = Clock::now();
        } else if (Clock::now() - progressTime > std::chrono::milliseconds(Status.WaitHint)) {
            break;
        }
    }
    return static_cast<int>(Status.CurrentState) == targetState;
}

bool HoldService() {
    ScHandle service = OpenOrCreateService(false);
    bool held = true;
    if (service && QueryServiceState(service) == static_cast<int>(platform::SERVICE_RUNNING)) {
        held = ControlAndWait(service, platform::SERVICE_CONTROL_PAUSE, platform::SERVICE_PAUSE_PENDING,
                              platform::SERVICE_PAUSED);
    }
    CloseServiceHandles(service);
    return held;
}

bool ResumeService() {
    ScHandle service = OpenOrCreateService(false);
    bool resumed = true;
    if (service && QueryServiceState(service) == static_cast<int>(platform::SERVICE_PAUSED)) {
        resumed = ControlAndWait(service, platform::SERVICE_CONTROL_CONTINUE,
                                 platform::SERVICE_CONTINUE_PENDING, platform::SERVICE_RUNNING);
    }
    CloseServiceHandles(service);
    return resumed;
}

bool UninstallService() {
    ScHandle service = OpenOrCreateService(false);
    if (!service) {
        CloseServiceHandles(nullptr);
        return true;
    }
    App().WriteLog(u"QLS - UninstallService");
    bool removed = false;
    switch (QueryServiceState(service)) {
        case platform::SERVICE_STOPPED:
            removed = platform::DeleteService(service);
            if (!removed)
                LogFailure(u"ERROR: DeleteService");
            break;
        case platform::SERVICE_START_PENDING:
            App().WriteLog(u"ERROR: The service is starting.");
            break;
        case platform::SERVICE_STOP_PENDING:
            App().WriteLog(u"ERROR: The service is stopping.");
            break;
        case platform::SERVICE_RUNNING:
            App().WriteLog(u"ERROR: The service is running.");
            break;
        case platform::SERVICE_CONTINUE_PENDING:
            App().WriteLog(u"ERROR: The service continue is pending.");
            break;
        case platform::SERVICE_PAUSE_PENDING:
            App().WriteLog(u"ERROR: The service pause is pending.");
            break;
        case platform::SERVICE_PAUSED:
            App().WriteLog(u"ERROR: The service is paused.");
            break;
        default:
            App().WriteLog(u"ERROR: Unknown service status.");
            break;
    }
    CloseServiceHandles(service);
    return removed;
}

void InstallAndStartService(bool silent) {
    ScHandle service = OpenOrCreateService(true);
    if (!service) {
        ReportServiceOutcome(u"Service installation failed.", MessageIcon::Error, silent);
        return;
    }
    bool started = true;
    if (QueryServiceState(service) != static_cast<int>(platform::SERVICE_RUNNING)) {
        if (!platform::StartService(service)) {
            const int error = platform::LastSystemError();
            App().WriteLog(
                Format(u"QLS - StartService failed (%d): %s", error, platform::SystemErrorText(error)));
            started = false;
        } else {
            started =
                WaitForServiceState(service, platform::SERVICE_START_PENDING, platform::SERVICE_RUNNING);
        }
    }
    CloseServiceHandles(service);
    if (started)
        ReportServiceOutcome(u"Service successfully installed and started.", MessageIcon::Information,
                             silent);
    else
        ReportServiceOutcome(u"Service initialization failed.", MessageIcon::Error, silent);
}

void ReportServiceOutcome(const std::u16string& text, MessageIcon icon, bool silent) {
    if (silent)
        App().WriteLog(text);
    else
        App().ShowMessage(text, icon);
}

}  // namespace velmora
