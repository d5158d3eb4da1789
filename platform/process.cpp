// What processes do the same on every system, above each system's own Poll of a process.
#include "platform/process.h"

namespace velmora::platform {

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
