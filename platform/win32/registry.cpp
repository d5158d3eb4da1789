#include "platform/registry.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace velmora::platform {

namespace {

constexpr const wchar_t* KEY = L"Software\\Velmora";

}  // namespace

bool ReadRegistryString(const std::u16string& name, std::u16string* value) {
    // The key is opened for full access, as the system always has: an account that may not change it reads
    // no value either.
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return false;
    DWORD size = 0;
    LSTATUS status = RegGetValueW(key, nullptr, Wide(name), RRF_RT_REG_SZ, nullptr, nullptr, &size);
    std::u16string text;
    // The value may grow between two calls: ask again with the size the failed call reports.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        text.assign(size / sizeof(wchar_t) + 1, u'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        status = RegGetValueW(key, nullptr, Wide(name), RRF_RT_REG_SZ, nullptr, Wide(text), &size);
        if (status == ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return false;
    // size counts the terminating null.
    text.resize(size >= sizeof(wchar_t) ? size / sizeof(wchar_t) - 1 : 0);
    *value = std::move(text);
    return true;
}

bool WriteRegistryString(const std::u16string& name, const std::u16string& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
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
