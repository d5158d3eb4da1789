// What processes do the same on every system, above each system's own Poll of a process.
#include "platform/process.h"

namespace velmora::platform {

bool GetExitCode(Process& process, uint32_t* exitCode) {
    if (!process.IsValid())
        return false;
    switch (process.Poll()) {
        case Process::Status::Running:
            *exitCode = kStillActive;
            return true;
        case Process::Status::Ended:
            *exitCode = process.exitCode_;
            return true;
        case Process::Status::Unknown:
            break;
    }
    return false;
}

}  // namespace velmora::platform
