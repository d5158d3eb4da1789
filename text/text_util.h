// Small text helpers shared by every subsystem.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// ASCII text as UTF-16 (every byte taken as its own value).
std::u16string AsciiToUtf16(std::string_view ascii);
// Leading white space, an optional sign, decimal digits; anything else stops the number; no digits give 0.
// Values beyond the 32-bit range saturate, as the Windows runtime's _wtoi does.
int32_t ParseInt32(std::u16string_view text);
// ASCII-only case-insensitive comparison.
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

}  // namespace velmora
