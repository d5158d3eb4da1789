// What processes do the same on every system, above each system's own Poll of a process.
#include "platform/process.h"

#include <utility>

namespace velmora::platform {

CProcess::CProcess(CProcess&& other) noexcept
    : Pid(std::exchange(other.Pid, -1)),
      Finished(std::exchange(other.Finished, false)),
      ExitCode(other.ExitCode),
      ProcessHandle(std::exchange(other.ProcessHandle, nullptr)) {}

CProcess& CProcess::operator=(CProcess&& other) noexcept {
    if (this != &other) {
        Close();
        Pid = std::exchange(other.Pid, -1);
        Finished = std::exchange(other.Finished, false);
        ExitCode = other.ExitCode;
        ProcessHandle = std::exchange(other.ProcessHandle, nullptr);
    }
    return *this;
}

bool GetExitCode(CProcess& process, uint32_t* exitCode) {
    if (!process.IsValid())
        return false;
    switch (process.Poll()) {
        case CProcess::Status::Running:
            *exitCode = PROCESS_STILL_ACTIVE;
            return true;
        case CProcess::Status::Ended:
            *exitCode = process.ExitCode;
            return true;
        case CProcess::Status::Unknown:
            break;
    }
    return false;
}

}  // namespace velmora::platform
