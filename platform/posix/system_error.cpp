#include "platform/system_error.h"

#include <cerrno>
#include <cstring>

#include "platform/ansi.h"

namespace velmora::platform {

int LastSystemError() {
    return errno;
}

std::u16string SystemErrorText(int code) {
    char buffer[256] = {};
    // The GNU strerror_r may return a static text instead of filling the buffer.
    const char* text = strerror_r(code, buffer, sizeof buffer);
    return AnsiToUnicode(text ? text : "");
}

}  // namespace velmora::platform
