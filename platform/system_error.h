// The operating system's own description of an error number.
#pragma once

#include <string>

namespace velmora::platform {

// The last error of the calling thread (errno on Linux, GetLastError on Windows). On Linux the platform
// layer also leaves Windows error numbers there where it has Windows meaning (the service manager's).
int LastSystemError();
// The system's description of an error number, without a trailing line break; on Linux Windows' own text
// for the Windows error numbers the platform layer reports.
std::u16string SystemErrorText(int code);

}  // namespace velmora::platform
