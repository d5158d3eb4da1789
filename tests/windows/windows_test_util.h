// Small helpers of the Windows tests.
#pragma once

#include <windows.h>

#include <string>

#include "support/test_util.h"

namespace velmora::test {

// Wine tells itself apart by an export of its ntdll that Windows does not have.
inline bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

inline std::wstring Widen(const std::string& text) {
    const std::u16string wide = U16(text);
    return std::wstring(wide.begin(), wide.end());
}

}  // namespace velmora::test
