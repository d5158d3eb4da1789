// The service manager tests' service: service NAME EVENTS [normal|stuck-start|slow-start|exit]. Appends
// "pid N", "mark VELMORA_STARTED_SERVICE|-", "main NAME", "control CODE on dispatcher|other" and
// "dispatcher returned" to EVENTS. Codes 132 ... 137 report state code - 130, unknown ones the state.
// stuck-start stays start pending; slow-start is pending 2.5 s with growing check points; exit returns 3.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ansi.h"
#include "platform/service_manager.h"

namespace sm = velmora::platform;

namespace {

std::string EventsPath;
std::string Behaviour = "normal";
std::u16string ServiceName;
sm::ServiceStatusHandle StatusHandle = nullptr;

std::mutex Lock;
std::condition_variable Changed;
bool StopRequested = false;
std::atomic<uint32_t> CurrentState{sm::SERVICE_STOPPED};

void Event(const std::string& line) {
    std::ofstream(EventsPath, std::ios::app) << line + "\n";
}

void Report(uint32_t state, uint32_t checkPoint = 0, uint32_t waitHint = 0) {
    CurrentState = state;
    sm::CServiceStatus status;
    status.ServiceType = sm::SERVICE_WIN32_OWN_PROCESS;
    status.CurrentState = state;
    status.ControlsAccepted =
        state == sm::SERVICE_START_PENDING || state == sm::SERVICE_STOPPED
            ? 0
            : sm::SERVICE_ACCEPT_STOP | sm::SERVICE_ACCEPT_PAUSE_CONTINUE | sm::SERVICE_ACCEPT_SHUTDOWN;
    status.CheckPoint = checkPoint;
    status.WaitHint = waitHint;
    sm::SetServiceStatus(StatusHandle, status);
}

void Handler(uint32_t control) {
    const bool onDispatcher = syscall(SYS_gettid) == getpid();
    Event("control " + std::to_string(control) + " on " + (onDispatcher ? "dispatcher" : "other"));
    switch (control) {
        case sm::SERVICE_CONTROL_STOP:
        case sm::SERVICE_CONTROL_SHUTDOWN: {
            Report(sm::SERVICE_STOP_PENDING, 0, 3000);
            std::lock_guard<std::mutex> guard(Lock);
            StopRequested = true;
            Changed.notify_all();
            break;
        }
        case sm::SERVICE_CONTROL_PAUSE:
            Report(sm::SERVICE_PAUSE_PENDING, 0, 3000);
            Report(sm::SERVICE_PAUSED);
            break;
        case sm::SERVICE_CONTROL_CONTINUE:
            Report(sm::SERVICE_CONTINUE_PENDING, 0, 3000);
            Report(sm::SERVICE_RUNNING);
            break;
        default:
            if (control >= 130 + sm::SERVICE_START_PENDING && control <= 130 + sm::SERVICE_PAUSED)
                Report(control - 130, 0, 3000);
            else
                Report(CurrentState);
            break;
    }
}

void ServiceMain(uint32_t argumentCount, char16_t** arguments) {
    Event("main " + (argumentCount > 0 ? velmora::platform::UnicodeToAnsi(arguments[0]) : std::string()));
    StatusHandle = sm::RegisterServiceCtrlHandler(arguments[0], Handler);
    if (!StatusHandle) {
        Event("register failed " + std::to_string(errno));
        return;
    }
    if (Behaviour == "stuck-start") {
        Report(sm::SERVICE_START_PENDING, 0, 1000);
    } else if (Behaviour == "slow-start") {
        for (uint32_t checkPoint = 1; checkPoint <= 10; ++checkPoint) {
            Report(sm::SERVICE_START_PENDING, checkPoint, 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        Report(sm::SERVICE_RUNNING);
    } else {
        Report(sm::SERVICE_START_PENDING, 0, 3000);
        Report(sm::SERVICE_RUNNING);
    }
    {
        std::unique_lock<std::mutex> guard(Lock);
        Changed.wait(guard, [] { return StopRequested; });
    }
    Report(sm::SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3)
        return 2;
    ServiceName = velmora::platform::AnsiToUnicode(argv[1]);
    EventsPath = argv[2];
    if (argc > 3)
        Behaviour = argv[3];
    Event("pid " + std::to_string(getpid()));
    const char* mark = std::getenv("VELMORA_STARTED_SERVICE");
    Event(std::string("mark ") + (mark ? mark : "-"));
    if (Behaviour == "exit")
        return 3;
    const sm::CServiceTableEntry table[] = {{ServiceName.c_str(), ServiceMain}, {nullptr, nullptr}};
    const bool returned = sm::StartServiceCtrlDispatcher(table);
    Event(returned ? "dispatcher returned" : "dispatcher failed " + std::to_string(errno));
    return returned ? 0 : 1;
}
