#include "app/service_control.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/file.h"
#include "platform/system_error.h"
#include "text/format.h"

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

using platform::ScHandle;

void CServiceControl::LogFailure(const char16_t* call) {
    const int error = platform::LastSystemError();
    Reporter.WriteLog(Format(u"%s failed (%d): %s", call, error, platform::SystemErrorText(error)));
}

void CServiceControl::CloseManager() {
    if (ManagerHandle) {
        platform::CloseServiceHandle(ManagerHandle);
        ManagerHandle = nullptr;
    }
}

// Sends a control to a running service and waits for the state it leads to.
bool CServiceControl::ControlAndWait(ScHandle service, uint32_t control, int pendingState, int targetState) {
    if (!platform::ControlService(service, control, &Status)) {
        LogFailure(u"ControlService");
        return false;
    }
    return WaitForServiceState(service, pendingState, targetState);
}

ScHandle CServiceControl::OpenOrCreateService(bool create) {
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

    Reporter.WriteLog(u"QLS - Create Service");
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

void CServiceControl::CloseServiceHandles(ScHandle service) {
    if (service)
        platform::CloseServiceHandle(service);
    CloseManager();
}

int CServiceControl::QueryServiceState(ScHandle service) {
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

bool CServiceControl::WaitForServiceState(ScHandle service, int pendingState, int targetState) {
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

bool CServiceControl::HoldService() {
    ScHandle service = OpenOrCreateService(false);
    bool held = true;
    if (service && QueryServiceState(service) == static_cast<int>(platform::SERVICE_RUNNING)) {
        held = ControlAndWait(service, platform::SERVICE_CONTROL_PAUSE, platform::SERVICE_PAUSE_PENDING,
                              platform::SERVICE_PAUSED);
    }
    CloseServiceHandles(service);
    return held;
}

bool CServiceControl::ResumeService() {
    ScHandle service = OpenOrCreateService(false);
    bool resumed = true;
    if (service && QueryServiceState(service) == static_cast<int>(platform::SERVICE_PAUSED)) {
        resumed = ControlAndWait(service, platform::SERVICE_CONTROL_CONTINUE,
                                 platform::SERVICE_CONTINUE_PENDING, platform::SERVICE_RUNNING);
    }
    CloseServiceHandles(service);
    return resumed;
}

bool CServiceControl::UninstallService() {
    ScHandle service = OpenOrCreateService(false);
    if (!service) {
        CloseServiceHandles(nullptr);
        return true;
    }
    Reporter.WriteLog(u"QLS - UninstallService");
    bool removed = false;
    const int state = QueryServiceState(service);
    if (state == platform::SERVICE_STOPPED) {
        removed = platform::DeleteService(service);
        if (!removed)
            LogFailure(u"ERROR: DeleteService");
    } else {
        LogRefusedRemoval(state);
    }
    CloseServiceHandles(service);
    return removed;
}

void CServiceControl::LogRefusedRemoval(int state) {
    switch (state) {
        case platform::SERVICE_START_PENDING:
            Reporter.WriteLog(u"ERROR: The service is starting.");
            break;
        case platform::SERVICE_STOP_PENDING:
            Reporter.WriteLog(u"ERROR: The service is stopping.");
            break;
        case platform::SERVICE_RUNNING:
            Reporter.WriteLog(u"ERROR: The service is running.");
            break;
        case platform::SERVICE_CONTINUE_PENDING:
            Reporter.WriteLog(u"ERROR: The service continue is pending.");
            break;
        case platform::SERVICE_PAUSE_PENDING:
            Reporter.WriteLog(u"ERROR: The service pause is pending.");
            break;
        case platform::SERVICE_PAUSED:
            Reporter.WriteLog(u"ERROR: The service is paused.");
            break;
        default:
            Reporter.WriteLog(u"ERROR: Unknown service status.");
            break;
    }
}

void CServiceControl::InstallAndStartService(bool silent) {
    ScHandle service = OpenOrCreateService(true);
    if (!service) {
        ReportServiceOutcome(u"Service installation failed.", MessageIcon::Error, silent);
        return;
    }
    bool started = true;
    if (QueryServiceState(service) != static_cast<int>(platform::SERVICE_RUNNING)) {
        if (!platform::StartService(service)) {
            const int error = platform::LastSystemError();
            Reporter.WriteLog(
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

void CServiceControl::ReportServiceOutcome(const std::u16string& text, MessageIcon icon, bool silent) {
    if (silent)
        Reporter.WriteLog(text);
    else
        Reporter.ShowMessage(text, icon);
}

}  // namespace velmora
