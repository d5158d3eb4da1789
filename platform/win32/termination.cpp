#include "platform/termination.h"

#include <windows.h>

#include <atomic>

namespace velmora::platform {

namespace {

// Windows calls the handler on a thread of its own. A close, log-off or shutdown ends the process as soon
// as the handler returns: the handler waits for the program's end (the watch being stopped) first, within
// the time Windows gives it.
constexpr DWORD END_WAIT_MILLISECONDS = 4500;

std::function<void()> onTerminationRequest;
HANDLE watchEnded = nullptr;
std::atomic<bool> watching{false};

BOOL WINAPI OnConsoleControl(DWORD control) {
    if (!watching)
        return FALSE;
    onTerminationRequest();
    if (control == CTRL_CLOSE_EVENT || control == CTRL_LOGOFF_EVENT || control == CTRL_SHUTDOWN_EVENT)
        WaitForSingleObject(watchEnded, END_WAIT_MILLISECONDS);
    return TRUE;
}

}  // namespace

void WatchTerminationRequests(std::function<void()> onRequest) {
    if (watching)
        return;
    onTerminationRequest = std::move(onRequest);
    if (!watchEnded)
        watchEnded = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ResetEvent(watchEnded);
    watching = true;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void StopWatchingTerminationRequests() {
    if (!watching)
        return;
    watching = false;
    SetEvent(watchEnded);
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
}

}  // namespace velmora::platform
