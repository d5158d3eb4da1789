#include "core/service_runtime.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "core/app.h"
#include "core/language.h"
#include "core/service_control.h"
#include "platform/file.h"
#include "platform/service_manager.h"
#include "platform/system_error.h"
#include "text/format.h"

namespace velmora {

namespace {

using namespace platform;

constexpr uint32_t kServiceType = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
constexpr uint32_t kAllControls = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
constexpr uint32_t kMainWaitHint = 5000;
constexpr uint32_t kHandlerWaitHint = 100000;

// Written by the service main before any control can arrive, read by the handler.
std::atomic<ServiceStatusHandle> StatusHandle{nullptr};
// The service main's own record.
ServiceStatus MainStatus;

void ReportMainStatus(uint32_t state) {
    MainStatus.CurrentState = state;
    SetServiceStatus(StatusHandle, MainStatus);
}

void ReportHandlerStatus(uint32_t state) {
    ServiceStatus status;
    status.ServiceType = kServiceType;
    status.CurrentState = state;
    status.ControlsAccepted = kAllControls;
    status.WaitHint = kHandlerWaitHint;
    SetServiceStatus(StatusHandle, status);
}

bool MarkerPresent(int index) {
    NativeFile file;
    return !file.Open(App().MarkerPath[index], kOpenRead | kShareDenyNone);
}

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The polling waits: 100 ms longer each time, settling at a second.
int NextWait(int* wait) {
    *wait = std::min(*wait + 100, 1000);
    return *wait;
}

}  // namespace

bool CreateMarker(int index) {
    if (index < 0 || index > 2)
        return false;
    NativeFile file;
    return !file.Open(App().MarkerPath[index], kOpenWrite | kOpenCreate | kShareDenyNone);
}

bool RemoveMarker(int index) {
    if (index < 0 || index > 2)
        return false;
    return !RemoveFile(App().MarkerPath[index]);
}

void RemoveAllMarkers() {
    for (int i = 0; i < 3; ++i)
        RemoveMarker(i);
}

bool IsStopRequested() {
    return MarkerPresent(2);
}

bool IsPauseRequested() {
    return !MarkerPresent(2) && MarkerPresent(0) && !MarkerPresent(1);
}

bool IsPaused() {
    return !MarkerPresent(2) && MarkerPresent(1) && !MarkerPresent(0);
}

void RunServiceDispatcher() {
    const ServiceTableEntry table[] = {{kServiceName, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcher(table)) {
        const int error = LastSystemError();
        App().WriteLog(Format(u"QLS - StartServiceCtrlDispatcher failed (%d): %s", error, SystemErrorText(error)));
    }
}

void ServiceMain(uint32_t argumentCount, char16_t** arguments) {
    CVelmoraVirtualPrinterApp& app = App();
    MainStatus = ServiceStatus{};
    MainStatus.ServiceType = kServiceType;
    MainStatus.CurrentState = SERVICE_STOPPED;
    MainStatus.ControlsAccepted = kAllControls;
    MainStatus.WaitHint = kMainWaitHint;

    const std::u16string name = argumentCount > 0 && arguments[0] ? arguments[0] : kServiceName;
    const ServiceStatusHandle handle = RegisterServiceCtrlHandler(name, ServiceControlHandler);
    if (!handle) {
        app.WriteLog(Format(u"1\tQLS - ServiceMain: RegisterServiceCtrlHandler failed (error=%d)", LastSystemError()));
        return;
    }
    StatusHandle = handle;
    ReportMainStatus(SERVICE_START_PENDING);
    ReportMainStatus(SERVICE_RUNNING);

    int idleWait = 0;
    int pauseWait = 0;
    for (;;) {
        if (!IsStopRequested() && !IsPauseRequested()) {
            if (IsPaused()) {
                Sleep(NextWait(&pauseWait));
                continue;
            }
            if (!app.IsServerRunning()) {
                app.WriteLog(u"1\tQLS - ServiceMain: service has to be started");
                SelectLanguage();
                app.ReloadSettings();
                app.StartServer();
                if (app.AutoDelete != 0)
                    app.AutoDeleteSavedJobs();
                app.StartSpooler();
            }
            Sleep(NextWait(&idleWait));
            continue;
        }

        idleWait = 0;
        pauseWait = 0;
        if (IsPauseRequested()) {
            app.WriteLog(u"1\tQLS - ServiceMain: service has to be paused");
        } else if (IsStopRequested()) {
            app.WriteLog(u"1\tQLS - ServiceMain: service has to be stopped");
        }
        // Stopped while paused: the server is down and its list saved already; nothing is written.
        if (app.IsServerRunning())
            app.StopServer();
        if (IsPauseRequested()) {
            CreateMarker(1);
            RemoveMarker(0);
        } else if (IsStopRequested()) {
            RemoveMarker(2);
            RemoveMarker(1);
            ReportMainStatus(SERVICE_STOP_PENDING);
            MainStatus.ControlsAccepted &= ~(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
            ReportMainStatus(SERVICE_STOPPED);
            return;
        }
    }
}

void ServiceControlHandler(uint32_t control) {
    CVelmoraVirtualPrinterApp& app = App();
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            app.WriteLog(control == SERVICE_CONTROL_STOP
                             ? u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_STOP' received"
                             : u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_SHUTDOWN' received");
            ReportHandlerStatus(SERVICE_STOP_PENDING);
            CreateMarker(2);
            break;
        case SERVICE_CONTROL_PAUSE: {
            app.WriteLog(u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_PAUSE' received");
            ReportHandlerStatus(SERVICE_PAUSE_PENDING);
            CreateMarker(0);
            // The dispatcher thread is not held for ever: a pause that has not completed within the wait
            // hint is withdrawn and the service reports running again.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kHandlerWaitHint);
            int wait = 0;
            bool paused = IsPaused();
            while (!paused && std::chrono::steady_clock::now() < deadline) {
                Sleep(NextWait(&wait));
                paused = IsPaused();
            }
            if (!paused)
                RemoveMarker(0);
            ReportHandlerStatus(paused ? SERVICE_PAUSED : SERVICE_RUNNING);
            break;
        }
        case SERVICE_CONTROL_CONTINUE:
            app.WriteLog(u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_CONTINUE' received");
            ReportHandlerStatus(SERVICE_CONTINUE_PENDING);
            RemoveMarker(1);
            ReportHandlerStatus(SERVICE_RUNNING);
            break;
        case SERVICE_CONTROL_INTERROGATE:
            ReportHandlerStatus(SERVICE_RUNNING);
            break;
        default:
            app.WriteLog(Format(u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL %d' received",
                                static_cast<int32_t>(control)));
            ReportHandlerStatus(SERVICE_RUNNING);
            break;
    }
}

}  // namespace velmora
