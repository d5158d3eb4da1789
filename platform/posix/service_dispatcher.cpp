// The dispatcher of a service's own process (described in platform/service_manager.h): the service's main
// procedure on a thread of its own, and the control handler on the dispatcher thread, which serves the
// control socket and the stop signals.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/ansi.h"
#include "platform/posix/file_descriptor.h"
#include "platform/posix/service_control_channel.h"
#include "platform/posix/service_database.h"
#include "platform/service_manager.h"

namespace velmora::platform {

using namespace posix;

// The service that this process's dispatcher runs.
struct CServiceStatusRecord {
    std::u16string Name;
    std::string Database;
    std::string Folder;  // the service's folder when the database knows this process as the service
    uint64_t StartTime = 0;
    HandlerFunction Handler = nullptr;
    CServiceStatus Status;
    int WakeWrite = -1;  // the wake-up pipe's write end, owned by StartServiceCtrlDispatcher
};

namespace {

std::mutex DispatcherLock;
CServiceStatusRecord* Dispatcher = nullptr;
// The write end of the dispatcher's wake-up pipe, for the signal handler.
std::atomic<int> SignalWakeFd{-1};

// Wake-up bytes.
constexpr char WAKE_HANDLER = 'R';  // a handler was registered
constexpr char WAKE_STATUS = 'U';   // the status changed
constexpr char WAKE_ENDED = 'E';    // the service main procedure returned
constexpr char WAKE_INTERRUPT = 'I';
constexpr char WAKE_TERMINATE = 'T';

void Wake(int fd, char reason) {
    if (fd >= 0)
        (void)!write(fd, &reason, 1);
}

void OnStopSignal(int signal) {
    const int saved = errno;
    Wake(SignalWakeFd.load(), signal == SIGINT ? WAKE_INTERRUPT : WAKE_TERMINATE);
    errno = saved;
}

// Writes the dispatcher's status into the database; the caller holds DispatcherLock.
void RecordDispatcherStatus(CServiceStatusRecord& dispatcher) {
    if (dispatcher.Folder.empty())
        return;
    CStatusRecord record;
    record.Exists = true;
    record.Status = dispatcher.Status;
    record.ProcessId = getpid();
    record.ProcessStartTime = dispatcher.StartTime;
    record.Connected = true;
    WriteStatus(dispatcher.Folder, record);
    if (dispatcher.Status.CurrentState == SERVICE_STOPPED && MarkedForDeletion(dispatcher.Folder)) {
        CDatabaseLock lock(dispatcher.Database);
        RemoveService(dispatcher.Database, Native(dispatcher.Name));
        dispatcher.Folder.clear();
    }
}

// Makes this process the one the database knows as the service. Foreground processes do so only when
// the service is installed and not running elsewhere; false then means "run without the database".
bool Attach(CServiceStatusRecord& dispatcher, bool startedByManager, CFileDescriptor* listener) {
    const std::string name = Native(dispatcher.Name);
    const std::string folder = ServiceFolder(dispatcher.Database, name);
    CDatabaseLock lock(dispatcher.Database);
    CServiceConfig config;
    if (!IsValidServiceName(name) || !ReadConfig(folder, &config))
        return Fail(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
    CStatusRecord record;
    ReadStatus(folder, &record);
    dispatcher.StartTime = ProcessStartTime(getpid());
    const bool ours = record.ProcessId == getpid() && record.ProcessStartTime == dispatcher.StartTime;
    if (!ours && IsRunning(record))
        return Fail(startedByManager ? ERROR_FAILED_SERVICE_CONTROLLER_CONNECT
                                     : ERROR_SERVICE_ALREADY_RUNNING);

    CFileDescriptor control = ListenForControls(folder);
    if (!control.IsValid())
        return false;
    dispatcher.Folder = folder;
    dispatcher.Status.ServiceType = config.ServiceType;
    dispatcher.Status.CurrentState = SERVICE_START_PENDING;
    dispatcher.Status.WaitHint = 2000;
    RecordDispatcherStatus(dispatcher);
    *listener = std::move(control);
    return true;
}

// Calls the handler with a control on the dispatcher thread; false when no handler is registered.
bool DeliverControl(uint32_t control, CServiceStatus* status) {
    HandlerFunction handler = nullptr;
    {
        std::lock_guard<std::mutex> lock(DispatcherLock);
        handler = Dispatcher->Handler;
    }
    if (!handler)
        return false;
    handler(control);
    std::lock_guard<std::mutex> lock(DispatcherLock);
    *status = Dispatcher->Status;
    return true;
}

void ServeControlRequest(int listener) {
    const CFileDescriptor connection(accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.IsValid())
        return;
    uint32_t control = 0;
    if (ReadExactly(connection.Get(), &control, sizeof control, REQUEST_TIME_LIMIT_MILLISECONDS)) {
        CControlReply reply;
        if (!DeliverControl(control, &reply.Status))
            reply.Result = ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
        SendAll(connection.Get(), &reply, sizeof reply);
    }
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
        state = Dispatcher->Status.CurrentState;
        accepted = Dispatcher->Status.ControlsAccepted;
        registered = Dispatcher->Handler != nullptr;
    }
    if (state == SERVICE_STOPPED || state == SERVICE_STOP_PENDING)
        return true;  // already stopping: nothing more to ask
    const uint32_t needed =
        control == SERVICE_CONTROL_SHUTDOWN ? SERVICE_ACCEPT_SHUTDOWN : SERVICE_ACCEPT_STOP;
    if (!registered || state == SERVICE_START_PENDING || (accepted & needed) == 0)
        return false;
    CServiceStatus ignored;
    DeliverControl(control, &ignored);
    return true;
}

// Stop signals reach the dispatcher thread through the wake-up pipe while the service runs: Ctrl-C
// (SIGINT) only in a program started by hand, SIGTERM in every one.
class CStopSignals {
  public:
    CStopSignals(int wakeFd, bool startedByManager) : CForeground(!startedByManager) {
        struct sigaction onSignal {};
        onSignal.sa_handler = OnStopSignal;
        sigemptyset(&onSignal.sa_mask);
        onSignal.sa_flags = SA_RESTART;
        SignalWakeFd = wakeFd;
        if (CForeground)
            sigaction(SIGINT, &onSignal, &PreviousInterrupt);
        sigaction(SIGTERM, &onSignal, &PreviousTerminate);
    }
    ~CStopSignals() {
        SignalWakeFd = -1;
        if (CForeground)
            sigaction(SIGINT, &PreviousInterrupt, nullptr);
        sigaction(SIGTERM, &PreviousTerminate, nullptr);
    }
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

  private:
    bool CForeground;
    struct sigaction PreviousInterrupt {};
    struct sigaction PreviousTerminate {};
};

// Makes the record this process's dispatcher; false when the process runs one already.
bool ClaimDispatcher(CServiceStatusRecord& dispatcher) {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    if (Dispatcher)
        return false;
    Dispatcher = &dispatcher;
    return true;
}

void ReleaseDispatcher() {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    Dispatcher = nullptr;
}

// Attaches a program that a service manager started, and one started by hand whose service is installed.
// False (with errno set) only when a program that a service manager started cannot attach.
bool AttachIfInstalled(CServiceStatusRecord& dispatcher, bool startedByManager, CFileDescriptor* listener) {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    bool attached = false;
    const std::string name = Native(dispatcher.Name);
    if (startedByManager ||
        (IsValidServiceName(name) && ServiceInstalled(ServiceFolder(dispatcher.Database, name))))
        attached = Attach(dispatcher, startedByManager, listener);
    return attached || !startedByManager;
}

std::thread StartServiceMain(const CServiceTableEntry* table, char16_t** arguments, int wakeFd) {
    try {
        return std::thread([table, arguments, wakeFd] {
            table->ServiceProc(1, arguments);
            Wake(wakeFd, WAKE_ENDED);
        });
    } catch (const std::system_error&) {
        return std::thread();
    }
}

void ReadWakeReasons(int wakeRead, bool* running, bool* signalPending) {
    char reasons[64];
    const ssize_t got = read(wakeRead, reasons, sizeof reasons);
    for (ssize_t i = 0; i < got; ++i) {
        if (reasons[i] == WAKE_ENDED)
            *running = false;
        else if (reasons[i] == WAKE_INTERRUPT || reasons[i] == WAKE_TERMINATE)
            *signalPending = true;
    }
}

// Serves controls and stop signals until the service has reported its stop or its main procedure has
// returned.
void RunDispatchLoop(const CServiceStatusRecord& dispatcher, int wakeRead, int listener,
                     uint32_t signalControl, bool running) {
    bool signalPending = false;
    while (running) {
        pollfd entries[2] = {{wakeRead, POLLIN, 0}, {listener, POLLIN, 0}};
        if (poll(entries, listener >= 0 ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (entries[0].revents & POLLIN)
            ReadWakeReasons(wakeRead, &running, &signalPending);
        if (listener >= 0 && (entries[1].revents & POLLIN))
            ServeControlRequest(listener);
        if (signalPending && running)
            signalPending = !DeliverSignalControl(signalControl);
        std::lock_guard<std::mutex> lock(DispatcherLock);
        if (dispatcher.Status.CurrentState == SERVICE_STOPPED)
            running = false;
    }
}

// Records the stop that the service did not report, and closes its control socket.
void FinishDispatcher(CServiceStatusRecord& dispatcher, CFileDescriptor& listener) {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    if (dispatcher.Status.CurrentState != SERVICE_STOPPED) {
        dispatcher.Status.CurrentState = SERVICE_STOPPED;
        dispatcher.Status.ControlsAccepted = 0;
        dispatcher.Status.CheckPoint = 0;
        dispatcher.Status.WaitHint = 0;
        RecordDispatcherStatus(dispatcher);
    }
    if (listener.IsValid()) {
        listener.Close();
        if (!dispatcher.Folder.empty())
            unlink((dispatcher.Folder + "/control").c_str());
    }
}

}  // namespace

bool StartServiceCtrlDispatcher(const CServiceTableEntry* table) {
    if (!table || !table->ServiceName || !table->ServiceProc)
        return Fail(EINVAL);
    CServiceStatusRecord dispatcher;
    dispatcher.Name = table->ServiceName;
    dispatcher.Database = DatabaseFolder();
    dispatcher.Status.ServiceType = SERVICE_WIN32_OWN_PROCESS;
    dispatcher.Status.CurrentState = SERVICE_START_PENDING;
    const char* mark = std::getenv(STARTED_SERVICE_VARIABLE);
    const bool startedByManager = mark && *mark;
    if (startedByManager)
        dispatcher.Name = AnsiToUnicode(mark);

    CFileDescriptor wakeRead;
    CFileDescriptor wakeWrite;
    if (!CreatePipe(&wakeRead, &wakeWrite, O_NONBLOCK))
        return false;
    dispatcher.WakeWrite = wakeWrite.Get();
    if (!ClaimDispatcher(dispatcher))
        return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    CFileDescriptor listener;
    if (!AttachIfInstalled(dispatcher, startedByManager, &listener)) {
        const int error = errno;
        ReleaseDispatcher();
        return Fail(error);
    }

    std::u16string argument0 = dispatcher.Name;
    char16_t* arguments[] = {argument0.data(), nullptr};
    bool threadStarted = false;
    {
        const CStopSignals signals(wakeWrite.Get(), startedByManager);
        std::thread serviceMain = StartServiceMain(table, arguments, wakeWrite.Get());
        threadStarted = serviceMain.joinable();
        RunDispatchLoop(dispatcher, wakeRead.Get(), listener.Get(),
                        startedByManager ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP, threadStarted);
        if (serviceMain.joinable())
            serviceMain.join();
    }
    FinishDispatcher(dispatcher, listener);
    ReleaseDispatcher();
    return threadStarted ? true : Fail(ERROR_SERVICE_NO_THREAD);
}

ServiceStatusHandle RegisterServiceCtrlHandler(const std::u16string&, HandlerFunction handler) {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    if (!Dispatcher)
        return FailWith<CServiceStatusRecord>(ERROR_SERVICE_NOT_IN_EXE);
    if (!handler)
        return FailWith<CServiceStatusRecord>(EINVAL);
    Dispatcher->Handler = handler;
    Wake(Dispatcher->WakeWrite, WAKE_HANDLER);
    return Dispatcher;
}

bool SetServiceStatus(ServiceStatusHandle handle, const CServiceStatus& status) {
    std::lock_guard<std::mutex> lock(DispatcherLock);
    if (!handle || handle != Dispatcher)
        return Fail(EBADF);
    if (status.CurrentState < SERVICE_STOPPED || status.CurrentState > SERVICE_PAUSED)
        return Fail(EINVAL);
    handle->Status = status;
    RecordDispatcherStatus(*handle);
    Wake(handle->WakeWrite, WAKE_STATUS);
    return true;
}

}  // namespace velmora::platform
