#include "platform/shell.h"

#include <windows.h>
// clang-format off
#include <shellapi.h>
// clang-format on

#include "platform/win32/wide.h"

namespace velmora::platform {

bool OpenWithDefaultApplication(const std::u16string& path) {
    std::u16string file = path;
    // Values above 32 mean success.
    const HINSTANCE result = ShellExecuteW(nullptr, nullptr, Wide(file), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace velmora::platform
