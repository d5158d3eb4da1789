#include "platform/registry.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace velmora::platform {

namespace {

constexpr const wchar_t* kKey = L"Software\\Velmora";

}  // namespace

bool ReadRegistryString(const std::u16string& name, std::u16string* value) {
    DWORD size = 0;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kKey, Wide(name), RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    // The value may grow between the two calls: ask again with the size the second call reports.
    for (;;) {
        std::u16string text(size / sizeof(wchar_t) + 1, u'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        const LSTATUS status =
            RegGetValueW(HKEY_LOCAL_MACHINE, kKey, Wide(name), RRF_RT_REG_SZ, nullptr, Wide(text), &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS)
            return false;
        // size counts the terminating null.
        text.resize(size >= sizeof(wchar_t) ? size / sizeof(wchar_t) - 1 : 0);
        *value = std::move(text);
        return true;
    }
}

bool WriteRegistryString(const std::u16string& name, const std::u16string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const auto bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LSTATUS status =
        RegSetValueExW(key, Wide(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace velmora::platform
