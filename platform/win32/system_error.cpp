#include "platform/system_error.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace velmora::platform {

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

std::u16string SystemErrorText(int code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        static_cast<DWORD>(code), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || !buffer)
        return u"Unknown error " + FromWide(std::to_wstring(code).c_str());
    std::u16string text = FromWide(buffer, length);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' '))
        text.pop_back();
    return text;
}

}  // namespace velmora::platform
