// A small printf-style formatter for UTF-16 text, used by every log line and message text.
//
// Conversions: %d %i (signed), %u (unsigned), %x %X (hexadecimal), %s (UTF-16 text), %S (byte text,
// one byte per unit through code page 1252), %c (one character), %%. Flags '-' and '0' and a decimal
// width are honoured (for example %02X). A conversion without a matching argument, or with an argument of
// the wrong kind, is written as its best reading of the argument; a missing argument writes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace velmora {

class CFormatArg {
  public:
    enum class Kind { Signed, Unsigned, Text, Bytes };

    template <typename T>
    requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char16_t> &&
             !std::is_same_v<T, char>) CFormatArg(T value) {
        if constexpr (std::is_signed_v<T>) {
            ArgKind = Kind::Signed;
            SignedValue = value;
        } else {
            ArgKind = Kind::Unsigned;
            UnsignedValue = value;
        }
    }
    CFormatArg(bool value) : ArgKind(Kind::Signed), SignedValue(value ? 1 : 0) {}
    CFormatArg(char16_t value) : ArgKind(Kind::Unsigned), UnsignedValue(value) {}
    CFormatArg(char value) : ArgKind(Kind::Unsigned), UnsignedValue(static_cast<unsigned char>(value)) {}
    CFormatArg(std::u16string_view text) : ArgKind(Kind::Text), TextValue(text) {}
    CFormatArg(const std::u16string& text) : ArgKind(Kind::Text), TextValue(text) {}
    CFormatArg(const char16_t* text) : ArgKind(Kind::Text), TextValue(text ? text : u"") {}
    CFormatArg(std::string_view bytes) : ArgKind(Kind::Bytes), BytesValue(bytes) {}
    CFormatArg(const std::string& bytes) : ArgKind(Kind::Bytes), BytesValue(bytes) {}
    CFormatArg(const char* bytes) : ArgKind(Kind::Bytes), BytesValue(bytes ? bytes : "") {}

    Kind kind() const { return ArgKind; }
    int64_t AsSigned() const;
    uint64_t AsUnsigned() const;
    std::u16string AsText() const;

  private:
    Kind ArgKind;
    int64_t SignedValue = 0;
    uint64_t UnsignedValue = 0;
    std::u16string_view TextValue;
    std::string_view BytesValue;
};

std::u16string FormatArgs(std::u16string_view format, const std::vector<CFormatArg>& args);

template <typename... Args>
std::u16string Format(std::u16string_view format, const Args&... args) {
    return FormatArgs(format, std::vector<CFormatArg>{CFormatArg(args)...});
}

}  // namespace velmora
