#include "platform/identity.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace velmora::platform {

std::u16string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size))
        return std::u16string();
    return FromWide(name, size);
}

std::u16string UserName() {
    // UNLEN (256) characters and the terminating null.
    wchar_t name[257] = {};
    DWORD size = 257;
    if (!GetUserNameW(name, &size) || size == 0)
        return std::u16string();
    return FromWide(name, size - 1);
}

}  // namespace velmora::platform
