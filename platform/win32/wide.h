// UTF-16 text as the wide-character Win32 API takes it: wchar_t is 16 bits on Windows, so the system's
// std::u16string and the API's wide strings share one representation.
#pragma once

#include <string>
#include <string_view>

namespace velmora::platform {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the wide Win32 API needs 16-bit wchar_t");

inline const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline wchar_t* Wide(std::u16string& text) {
    return reinterpret_cast<wchar_t*>(text.data());
}

inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

inline std::u16string FromWide(const wchar_t* text) {
    return text ? FromWide(text, std::wstring_view(text).size()) : std::u16string();
}

}  // namespace velmora::platform
