// The operating system's own description of an error number.
#pragma once

#include <string>

namespace velmora::platform {

// The last error of the calling thread (errno on Linux, GetLastError on Windows).
int LastSystemError();
// The system's description of an error number, without a trailing line break.
std::u16string SystemErrorText(int code);

}  // namespace velmora::platform
