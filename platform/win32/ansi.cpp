#include "platform/ansi.h"

#include <windows.h>

#include <climits>

#include "platform/win32/wide.h"

namespace velmora::platform {

// The process code page (CP_ACP). Bytes it does not define become U+FFFD; characters it cannot express
// become its default character.
std::u16string AnsiToUnicode(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX)
        return std::u16string();
    const int size = static_cast<int>(bytes.size());
    const int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return std::u16string();
    std::u16string text(static_cast<std::size_t>(length), u'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, Wide(text), length);
    return text;
}

std::string UnicodeToAnsi(std::u16string_view text) {
    if (text.empty() || text.size() > INT_MAX)
        return std::string();
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int size = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, wide, size, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::string bytes(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

}  // namespace velmora::platform
