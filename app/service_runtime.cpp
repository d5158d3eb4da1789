#include "app/service_runtime.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

#include "app/app.h"
#include "app/service_control.h"
#include "core/language.h"
#include "platform/file.h"
#include "platform/service_manager.h"
#include "platform/system_error.h"
#include "text/format.h"

namespace velmora {

namespace {

using namespace platform;

constexpr uint32_t RUNTIME_SERVICE_TYPE = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;
constexpr uint32_t ALL_CONTROLS =
    SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
constexpr uint32_t MAIN_WAIT_HINT = 5000;
constexpr uint32_t HANDLER_WAIT_HINT = 100000;

// Written by the service main before any control can arrive, read by the handler.
std::atomic<ServiceStatusHandle> StatusHandle{nullptr};
// The service main's own record.
CServiceStatus MainStatus;
// The application whose server the service runs: the control manager calls the service main and the
// handler as plain functions, while RunServiceDispatcher runs.
std::atomic<CVelmoraVirtualPrinterApp*> ServiceApp{nullptr};

void ReportMainStatus(uint32_t state) {
    MainStatus.CurrentState = state;
    SetServiceStatus(StatusHandle, MainStatus);
}

void ReportHandlerStatus(uint32_t state) {
    CServiceStatus status;
    status.ServiceType = RUNTIME_SERVICE_TYPE;
    status.CurrentState = state;
    status.ControlsAccepted = ALL_CONTROLS;
    status.WaitHint = HANDLER_WAIT_HINT;
    SetServiceStatus(StatusHandle, status);
}

// The marker changes made in this process. The files stay the truth (a desktop program changes them
// too), but the service main and the handler wake at once for each other's changes instead of at their
// next look at the files.
class CMarkerChanges {
  public:
    void Notify() {
        {
            std::lock_guard<std::mutex> lock(Lock);
            ++Generation;
        }
        Changed.notify_all();
    }
    uint64_t Current() {
        std::lock_guard<std::mutex> lock(Lock);
        return Generation;
    }
    // Waits until a change after the one seen, for at most the time.
    void WaitFor(uint64_t seen, int milliseconds) {
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return Generation != seen; });
    }

  private:
    std::mutex Lock;
    std::condition_variable Changed;
    uint64_t Generation = 0;
};

CMarkerChanges MarkerChanges;

// The polling waits: 100 ms longer each time, settling at a second.
int NextWait(int* wait) {
    *wait = std::min(*wait + 100, 1000);
    return *wait;
}

void ServiceControlHandler(uint32_t control);

// Asks the service main to pause and waits for it to have paused. The dispatcher thread is not held for
// ever: a pause that has not completed within the wait hint is withdrawn and the service runs on.
bool AwaitPause(const CServiceMarkers& markers) {
    markers.CreateMarker(MARKER_PAUSE_REQUESTED);
    MarkerChanges.Notify();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(HANDLER_WAIT_HINT);
    int wait = 0;
    for (;;) {
        const uint64_t seen = MarkerChanges.Current();
        if (markers.IsPaused())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            break;
        MarkerChanges.WaitFor(seen, NextWait(&wait));
    }
    markers.RemoveMarker(MARKER_PAUSE_REQUESTED);
    MarkerChanges.Notify();
    return false;
}

// Brings the server up unless it runs.
void KeepServerRunning(CVelmoraVirtualPrinterApp& app) {
    if (app.LpdServer.IsServerRunning())
        return;
    app.WriteLog(u"1\tQLS - ServiceMain: service has to be started");
    SelectLanguage();
    app.ReloadSettings();
    app.StartServer();
    if (app.Settings.AutoDelete != 0)
        app.Jobs.AutoDeleteSavedJobs();
    app.Spooler.StartSpooler();
}

// Takes the server down for a pause or a stop; false once the service has stopped.
bool AnswerRequest(CVelmoraVirtualPrinterApp& app) {
    const CServiceMarkers& markers = app.Markers;
    if (markers.IsPauseRequested()) {
        app.WriteLog(u"1\tQLS - ServiceMain: service has to be paused");
    } else if (markers.IsStopRequested()) {
        app.WriteLog(u"1\tQLS - ServiceMain: service has to be stopped");
    }
    // Stopped while paused: the server is down and its list saved already; nothing is written.
    if (app.LpdServer.IsServerRunning())
        app.StopServer();
    if (markers.IsPauseRequested()) {
        markers.CreateMarker(MARKER_PAUSED);
        markers.RemoveMarker(MARKER_PAUSE_REQUESTED);
        MarkerChanges.Notify();
    } else if (markers.IsStopRequested()) {
        markers.RemoveMarker(MARKER_STOP_REQUESTED);
        markers.RemoveMarker(MARKER_PAUSED);
        ReportMainStatus(SERVICE_STOP_PENDING);
        MainStatus.ControlsAccepted &= ~(SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN);
        ReportMainStatus(SERVICE_STOPPED);
        return false;
    }
    return true;
}

void ServiceMain(uint32_t argumentCount, char16_t** arguments) {
    CVelmoraVirtualPrinterApp& app = *ServiceApp.load();
    MainStatus = CServiceStatus{};
    MainStatus.ServiceType = RUNTIME_SERVICE_TYPE;
    MainStatus.CurrentState = SERVICE_STOPPED;
    MainStatus.ControlsAccepted = ALL_CONTROLS;
    MainStatus.WaitHint = MAIN_WAIT_HINT;

    const std::u16string name = argumentCount > 0 && arguments[0] ? arguments[0] : SERVICE_NAME;
    const ServiceStatusHandle handle = RegisterServiceCtrlHandler(name, ServiceControlHandler);
    if (!handle) {
        app.WriteLog(
            Format(u"1\tQLS - ServiceMain: RegisterServiceCtrlHandler failed (error=%d)", LastSystemError()));
        return;
    }
    StatusHandle = handle;
    ReportMainStatus(SERVICE_START_PENDING);
    ReportMainStatus(SERVICE_RUNNING);

    const CServiceMarkers& markers = app.Markers;
    int idleWait = 0;
    int pauseWait = 0;
    for (;;) {
        const uint64_t seen = MarkerChanges.Current();
        if (!markers.IsStopRequested() && !markers.IsPauseRequested()) {
            if (markers.IsPaused()) {
                MarkerChanges.WaitFor(seen, NextWait(&pauseWait));
                continue;
            }
            KeepServerRunning(app);
            MarkerChanges.WaitFor(seen, NextWait(&idleWait));
            continue;
        }
        idleWait = 0;
        pauseWait = 0;
        if (!AnswerRequest(app))
            return;
    }
}

void ServiceControlHandler(uint32_t control) {
    CVelmoraVirtualPrinterApp& app = *ServiceApp.load();
    const CServiceMarkers& markers = app.Markers;
    switch (control) {
        case SERVICE_CONTROL_STOP:
        case SERVICE_CONTROL_SHUTDOWN:
            app.WriteLog(control == SERVICE_CONTROL_STOP
                             ? u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_STOP' received"
                             : u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_SHUTDOWN' received");
            ReportHandlerStatus(SERVICE_STOP_PENDING);
            markers.CreateMarker(MARKER_STOP_REQUESTED);
            MarkerChanges.Notify();
            break;
        case SERVICE_CONTROL_PAUSE: {
            app.WriteLog(u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_PAUSE' received");
            ReportHandlerStatus(SERVICE_PAUSE_PENDING);
            const bool paused = AwaitPause(markers);
            ReportHandlerStatus(paused ? SERVICE_PAUSED : SERVICE_RUNNING);
            break;
        }
        case SERVICE_CONTROL_CONTINUE:
            app.WriteLog(u"1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_CONTINUE' received");
            ReportHandlerStatus(SERVICE_CONTINUE_PENDING);
            markers.RemoveMarker(MARKER_PAUSED);
            MarkerChanges.Notify();
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

}  // namespace

void RunServiceDispatcher(CVelmoraVirtualPrinterApp& app) {
    ServiceApp = &app;
    const CServiceTableEntry table[] = {{SERVICE_NAME, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcher(table)) {
        const int error = LastSystemError();
        app.WriteLog(
            Format(u"QLS - StartServiceCtrlDispatcher failed (%d): %s", error, SystemErrorText(error)));
    }
    ServiceApp = nullptr;
}

}  // namespace velmora
