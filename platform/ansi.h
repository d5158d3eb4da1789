// The platform's "ANSI" conversion between byte strings and UTF-16: the process code page on Windows,
// UTF-8 on Linux. Paths handed to the system go through it too.
#pragma once

#include <string>
#include <string_view>

namespace velmora::platform {

std::u16string AnsiToUnicode(std::string_view bytes);
std::string UnicodeToAnsi(std::u16string_view text);

}  // namespace velmora::platform
