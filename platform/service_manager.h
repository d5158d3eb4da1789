// The service control manager, with the meaning of the Win32 one: a database of installed services (each
// one's configuration and the status it last reported), the operations that install, remove, start and
// control a service, and, inside the service's own process, the dispatcher that runs the service's main
// procedure and hands every control to the handler the service registered.
//
// On Linux the database is the folder /var/lib/velmora/services, or the folder named by the environment
// variable VELMORA_SERVICE_DATABASE. Each service has a sub-folder there named after it, holding its
// configuration ("config"), the status it last reported together with its process id ("status") and, while
// its dispatcher runs, the socket on which the dispatcher receives controls ("control").
//
// StartService runs the recorded command line (split by the Windows rules, never through a shell) as a
// detached process: its own session, not a child of the caller, standard input and output on the null
// device, and VELMORA_STARTED_SERVICE=<service name> added to its environment. That mark is how the
// dispatcher knows that a service manager started it. A program that calls the dispatcher without the mark
// was started by hand (or by systemd): it runs the service in the foreground, Ctrl-C (SIGINT) and SIGTERM
// become stop requests, and when the service is installed and not already running, the database shows it
// as running and controls reach it as if it had been started by StartService. In a program that a service
// manager started, SIGTERM (the system going down) is a shutdown request. Either is handed to the handler
// on the dispatcher thread, once the service runs and accepts that control.
//
// Where systemd runs (/run/systemd/system exists), CreateService also writes the unit "<name>.service"
// into /etc/systemd/system, running the recorded command line, and enables it for multi-user.target when
// the start type is automatic, so that the service starts at boot; DeleteService disables and removes it.
// The environment variable VELMORA_SYSTEMD_UNIT_FOLDER names another folder for the unit: it is then
// written there whether systemd runs or not, and systemctl is never called.
//
// Failures: the functions return false or null and leave the reason as the calling thread's last system
// error (LastSystemError in platform/system_error.h): one of the ERROR_ numbers below, which keep their
// Windows numbers and texts, or the system's own error number when a file or process operation fails.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handle_owner.h"

namespace velmora::platform {

// Access rights (accepted and not checked: the database folder's permissions decide).
inline constexpr uint32_t SC_MANAGER_ALL_ACCESS = 0xF003F;
inline constexpr uint32_t SERVICE_ALL_ACCESS = 0xF01FF;

// Service types.
inline constexpr uint32_t SERVICE_WIN32_OWN_PROCESS = 0x10;
inline constexpr uint32_t SERVICE_WIN32_SHARE_PROCESS = 0x20;

// Start types.
inline constexpr uint32_t SERVICE_AUTO_START = 2;
inline constexpr uint32_t SERVICE_DEMAND_START = 3;
inline constexpr uint32_t SERVICE_DISABLED = 4;

// Error control.
inline constexpr uint32_t SERVICE_ERROR_IGNORE = 0;
inline constexpr uint32_t SERVICE_ERROR_NORMAL = 1;

// Service states.
inline constexpr uint32_t SERVICE_STOPPED = 1;
inline constexpr uint32_t SERVICE_START_PENDING = 2;
inline constexpr uint32_t SERVICE_STOP_PENDING = 3;
inline constexpr uint32_t SERVICE_RUNNING = 4;
inline constexpr uint32_t SERVICE_CONTINUE_PENDING = 5;
inline constexpr uint32_t SERVICE_PAUSE_PENDING = 6;
inline constexpr uint32_t SERVICE_PAUSED = 7;

// Control codes; 128 to 255 are the service's own.
inline constexpr uint32_t SERVICE_CONTROL_STOP = 1;
inline constexpr uint32_t SERVICE_CONTROL_PAUSE = 2;
inline constexpr uint32_t SERVICE_CONTROL_CONTINUE = 3;
inline constexpr uint32_t SERVICE_CONTROL_INTERROGATE = 4;
inline constexpr uint32_t SERVICE_CONTROL_SHUTDOWN = 5;
inline constexpr uint32_t SERVICE_USER_CONTROL_FIRST = 128;
inline constexpr uint32_t SERVICE_USER_CONTROL_LAST = 255;

// Controls accepted, as a service reports them.
inline constexpr uint32_t SERVICE_ACCEPT_STOP = 0x1;
inline constexpr uint32_t SERVICE_ACCEPT_PAUSE_CONTINUE = 0x2;
inline constexpr uint32_t SERVICE_ACCEPT_SHUTDOWN = 0x4;

// Error numbers of the service manager.
inline constexpr int ERROR_INVALID_SERVICE_CONTROL = 1052;
inline constexpr int ERROR_SERVICE_REQUEST_TIMEOUT = 1053;
inline constexpr int ERROR_SERVICE_NO_THREAD = 1054;
inline constexpr int ERROR_SERVICE_ALREADY_RUNNING = 1056;
inline constexpr int ERROR_SERVICE_DISABLED = 1058;
inline constexpr int ERROR_SERVICE_DOES_NOT_EXIST = 1060;
inline constexpr int ERROR_SERVICE_CANNOT_ACCEPT_CTRL = 1061;
inline constexpr int ERROR_SERVICE_NOT_ACTIVE = 1062;
inline constexpr int ERROR_FAILED_SERVICE_CONTROLLER_CONNECT = 1063;
inline constexpr int ERROR_PROCESS_ABORTED = 1067;
inline constexpr int ERROR_SERVICE_MARKED_FOR_DELETE = 1072;
inline constexpr int ERROR_SERVICE_EXISTS = 1073;
inline constexpr int ERROR_SERVICE_NEVER_STARTED = 1077;
inline constexpr int ERROR_SERVICE_NOT_IN_EXE = 1083;

// SERVICE_STATUS.
struct CServiceStatus {
    uint32_t ServiceType = 0;
    uint32_t CurrentState = 0;
    uint32_t ControlsAccepted = 0;
    uint32_t Win32ExitCode = 0;
    uint32_t ServiceSpecificExitCode = 0;
    uint32_t CheckPoint = 0;
    uint32_t WaitHint = 0;
};

// The part of QUERY_SERVICE_CONFIG this system uses.
struct CServiceConfig {
    uint32_t ServiceType = 0;
    uint32_t StartType = 0;
    uint32_t ErrorControl = 0;
    std::u16string BinaryPathName;
    std::u16string DisplayName;
};

// A connection to the manager or an opened service (SC_HANDLE); each one is closed with
// CloseServiceHandle.
struct CServiceManagerObject;
using ScHandle = CServiceManagerObject*;

// The local manager's database. A database folder that does not exist yet is an empty database.
ScHandle OpenSCManager(uint32_t desiredAccess);
// ERROR_SERVICE_DOES_NOT_EXIST when the service is not installed.
ScHandle OpenService(ScHandle manager, const std::u16string& serviceName, uint32_t desiredAccess);
// Installs the service, stopped. ERROR_SERVICE_EXISTS when it is installed already,
// ERROR_SERVICE_MARKED_FOR_DELETE when it is installed and marked for deletion. Without a load-order group,
// dependencies or account: the service runs as the account that starts it.
ScHandle CreateService(ScHandle manager, const std::u16string& serviceName, const std::u16string& displayName,
                       uint32_t desiredAccess, uint32_t serviceType, uint32_t startType,
                       uint32_t errorControl, const std::u16string& binaryPathName);
// Removes a stopped service at once; a service that still runs is marked for deletion and removed when it
// stops.
bool DeleteService(ScHandle service);
bool CloseServiceHandle(ScHandle handle);

struct CServiceHandleTraits {
    using HandleType = ScHandle;
    static constexpr ScHandle Invalid() { return nullptr; }
    static bool Close(ScHandle handle) { return CloseServiceHandle(handle); }
};
// Owns a manager connection or an opened service and closes it with CloseServiceHandle.
using CServiceHandle = CHandleOwner<CServiceHandleTraits>;

bool QueryServiceConfig(ScHandle service, CServiceConfig* config);

// Starts the service's program without arguments and returns once its dispatcher has connected (up to 30
// seconds); the service is then start pending until it reports otherwise. ERROR_SERVICE_ALREADY_RUNNING,
// ERROR_SERVICE_DISABLED, ERROR_SERVICE_MARKED_FOR_DELETE; ERROR_PROCESS_ABORTED when the program ends
// without connecting, ERROR_SERVICE_REQUEST_TIMEOUT when it neither connects nor ends in time.
bool StartService(ScHandle service);
// Sends a control to the service's handler and waits (up to 30 seconds) until the handler has returned;
// *status receives the status the service last reported. ERROR_SERVICE_NOT_ACTIVE when the service does not
// run, ERROR_SERVICE_CANNOT_ACCEPT_CTRL while it starts or stops, ERROR_INVALID_SERVICE_CONTROL for a code
// it does not accept (stop, pause and continue, and shutdown need their SERVICE_ACCEPT_ bit; interrogation
// and codes 128 to 255 are always delivered), ERROR_SERVICE_REQUEST_TIMEOUT when the handler did not return
// in time.
bool ControlService(ScHandle service, uint32_t control, CServiceStatus* status);
// The status the service last reported; SERVICE_STOPPED (with ERROR_PROCESS_ABORTED as exit code) once its
// process has ended without reporting it, SERVICE_STOPPED with ERROR_SERVICE_NEVER_STARTED before its first
// start.
bool QueryServiceStatus(ScHandle service, CServiceStatus* status);

// In the service's process. Argument 0 is the service name.
using ServiceMainFunction = void (*)(uint32_t argumentCount, char16_t** arguments);
using HandlerFunction = void (*)(uint32_t control);

struct CServiceTableEntry {
    const char16_t* ServiceName;
    ServiceMainFunction ServiceProc;
};

struct CServiceStatusRecord;
using ServiceStatusHandle = CServiceStatusRecord*;

// Runs the first service of the table (ended by an entry with a null name): its main procedure on a new
// thread, and the control handler on the calling thread (the dispatcher thread). Returns once the service
// has reported SERVICE_STOPPED and its main procedure has returned, or once the main procedure has returned
// without that report. ERROR_SERVICE_ALREADY_RUNNING when this process already runs a dispatcher,
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT when the manager that started the process no longer knows the
// service.
bool StartServiceCtrlDispatcher(const CServiceTableEntry* table);
// Registers the service's control handler; null (ERROR_SERVICE_NOT_IN_EXE) outside the dispatcher's service.
ServiceStatusHandle RegisterServiceCtrlHandler(const std::u16string& serviceName, HandlerFunction handler);
// Reports the service's status to the manager.
bool SetServiceStatus(ServiceStatusHandle handle, const CServiceStatus& status);

}  // namespace velmora::platform
