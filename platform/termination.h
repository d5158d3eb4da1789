// Requests from outside to end the program: SIGTERM and SIGINT on Linux; on Windows the console's Ctrl-C,
// Ctrl-Break and close, and the user's log-off or the system's shutdown.
#pragma once

#include <functional>

namespace velmora::platform {

// From now on each request calls the function, on a thread of the platform layer's (never inside a signal
// handler), instead of ending the process at once. One watch at a time; a second call does nothing.
void WatchTerminationRequests(std::function<void()> onRequest);
// Gives the requests their default effect back and ends the watch. On Windows a close, log-off or
// shutdown request holds the process (up to the few seconds Windows allows) until this is called, so
// that the program can finish what the request started.
void StopWatchingTerminationRequests();

}  // namespace velmora::platform
