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

// Sends a control to a running service and waits for the state it leads to.
bool CServiceControl::ControlAndWait(ScHandle service, uint32_t control, int pendingState, int targetState) {
    if (!platform::ControlService(service, control, &Status)) {
        LogFailure(u"ControlService");
        return false;
    }
    return WaitForServiceState(service, pendingState, targetState);
}

platform::CServiceHandle CServiceControl::OpenOrCreateService(bool create) {
    // The manager's connection lasts for this call only.
    const platform::CServiceHandle manager(platform::OpenSCManager(platform::SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        LogFailure(u"OpenSCManager");
        return {};
    }
    platform::CServiceHandle service(
        platform::OpenService(manager.Get(), SERVICE_NAME, platform::SERVICE_ALL_ACCESS));
    if (service || !create)
        return service;

    Reporter.WriteLog(u"QLS - Create Service");
    const std::u16string program = platform::ProgramFilePath();
    if (program.empty()) {
        LogFailure(u"GetModuleFileName");
        return {};
    }
    service = platform::CServiceHandle(
        platform::CreateService(manager.Get(), SERVICE_NAME, SERVICE_NAME, platform::SERVICE_ALL_ACCESS,
                                platform::SERVICE_WIN32_OWN_PROCESS, platform::SERVICE_AUTO_START,
                                platform::SERVICE_ERROR_NORMAL, Format(u"\"%s\" \"-WINSERV\"", program)));
    if (!service)
        LogFailure(u"CreateService");
    return service;
}

int CServiceControl::QueryServiceState() {
    const platform::CServiceHandle service = OpenOrCreateService(false);
    return service ? QueryServiceState(service.Get()) : SERVICE_STATE_UNKNOWN;
}

int CServiceControl::QueryServiceState(ScHandle service) {
    if (!platform::QueryServiceStatus(service, &Status))
        return SERVICE_STATE_UNKNOWN;
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
    const platform::CServiceHandle service = OpenOrCreateService(false);
    if (service && QueryServiceState(service.Get()) == static_cast<int>(platform::SERVICE_RUNNING)) {
        return ControlAndWait(service.Get(), platform::SERVICE_CONTROL_PAUSE, platform::SERVICE_PAUSE_PENDING,
                              platform::SERVICE_PAUSED);
    }
    return true;
}

bool CServiceControl::ResumeService() {
    const platform::CServiceHandle service = OpenOrCreateService(false);
    if (service && QueryServiceState(service.Get()) == static_cast<int>(platform::SERVICE_PAUSED)) {
        return ControlAndWait(service.Get(), platform::SERVICE_CONTROL_CONTINUE,
                              platform::SERVICE_CONTINUE_PENDING, platform::SERVICE_RUNNING);
    }
    return true;
}

bool CServiceControl::UninstallService() {
    const platform::CServiceHandle service = OpenOrCreateService(false);
    if (!service)
        return true;
    Reporter.WriteLog(u"QLS - UninstallService");
    const int state = QueryServiceState(service.Get());
    if (state != platform::SERVICE_STOPPED) {
        LogRefusedRemoval(state);
        return false;
    }
    const bool removed = platform::DeleteService(service.Get());
    if (!removed)
        LogFailure(u"ERROR: DeleteService");
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
    platform::CServiceHandle service = OpenOrCreateService(true);
    if (!service) {
        ReportServiceOutcome(u"Service installation failed.", MessageIcon::Error, silent);
        return;
    }
    bool started = true;
    if (QueryServiceState(service.Get()) != static_cast<int>(platform::SERVICE_RUNNING)) {
        if (!platform::StartService(service.Get())) {
            const int error = platform::LastSystemError();
            Reporter.WriteLog(
                Format(u"QLS - StartService failed (%d): %s", error, platform::SystemErrorText(error)));
            started = false;
        } else {
            started = WaitForServiceState(service.Get(), platform::SERVICE_START_PENDING,
                                          platform::SERVICE_RUNNING);
        }
    }
    service.Close();
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
