#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

#include "platform/ansi.h"
#include "platform/service_manager.h"

namespace velmora::platform {

namespace {

// The Windows error numbers the platform layer reports itself (above every errno value), with the texts
// Windows gives them, so that log lines read the same on both systems.
struct CWindowsError {
    int Code;
    const char16_t* Text;
};

constexpr CWindowsError WINDOWS_ERRORS[] = {
    {ERROR_INVALID_SERVICE_CONTROL, u"The requested control is not valid for this service."},
    {ERROR_SERVICE_REQUEST_TIMEOUT,
     u"The service did not respond to the start or control request in a timely fashion."},
    {ERROR_SERVICE_NO_THREAD, u"A thread could not be created for the service."},
    {ERROR_SERVICE_ALREADY_RUNNING, u"An instance of the service is already running."},
    {ERROR_SERVICE_DISABLED,
     u"The service cannot be started, either because it is disabled or because it has no enabled devices "
     u"associated with it."},
    {ERROR_SERVICE_DOES_NOT_EXIST, u"The specified service does not exist as an installed service."},
    {ERROR_SERVICE_CANNOT_ACCEPT_CTRL, u"The service cannot accept control messages at this time."},
    {ERROR_SERVICE_NOT_ACTIVE, u"The service has not been started."},
    {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
     u"The service process could not connect to the service controller."},
    {ERROR_PROCESS_ABORTED, u"The process terminated unexpectedly."},
    {ERROR_SERVICE_MARKED_FOR_DELETE, u"The specified service has been marked for deletion."},
    {ERROR_SERVICE_EXISTS, u"The specified service already exists."},
    {ERROR_SERVICE_NEVER_STARTED, u"No attempts to start the service have been made since the last boot."},
    {ERROR_SERVICE_NOT_IN_EXE,
     u"The executable program that this service is configured to run in does not implement the service."},
};

}  // namespace

int LastSystemError() {
    return errno;
}

std::u16string SystemErrorText(int code) {
    for (const CWindowsError& error : WINDOWS_ERRORS) {
        if (error.Code == code)
            return error.Text;
    }
    char buffer[256] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return AnsiToUnicode(text ? text : "");
}

}  // namespace velmora::platform
