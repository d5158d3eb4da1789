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

class FormatArg {
public:
    enum class Kind { Signed, Unsigned, Text, Bytes };

    template <typename T>
        requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char16_t> &&
                 !std::is_same_v<T, char>)
    FormatArg(T value) {
        if constexpr (std::is_signed_v<T>) {
            kind_ = Kind::Signed;
            signed_ = value;
        } else {
            kind_ = Kind::Unsigned;
            unsigned_ = value;
        }
    }
    FormatArg(bool value) : kind_(Kind::Signed), signed_(value ? 1 : 0) {}
    FormatArg(char16_t value) : kind_(Kind::Unsigned), unsigned_(value) {}
    FormatArg(char value) : kind_(Kind::Unsigned), unsigned_(static_cast<unsigned char>(value)) {}
    FormatArg(std::u16string_view text) : kind_(Kind::Text), text_(text) {}
    FormatArg(const std::u16string& text) : kind_(Kind::Text), text_(text) {}
    FormatArg(const char16_t* text) : kind_(Kind::Text), text_(text ? text : u"") {}
    FormatArg(std::string_view bytes) : kind_(Kind::Bytes), bytes_(bytes) {}
    FormatArg(const std::string& bytes) : kind_(Kind::Bytes), bytes_(bytes) {}
    FormatArg(const char* bytes) : kind_(Kind::Bytes), bytes_(bytes ? bytes : "") {}

    Kind kind() const { return kind_; }
    int64_t AsSigned() const;
    uint64_t AsUnsigned() const;
    std::u16string AsText() const;

private:
    Kind kind_;
    int64_t signed_ = 0;
    uint64_t unsigned_ = 0;
    std::u16string_view text_;
    std::string_view bytes_;
};

std::u16string FormatArgs(std::u16string_view format, const std::vector<FormatArg>& args);

template <typename... Args>
std::u16string Format(std::u16string_view format, const Args&... args) {
    return FormatArgs(format, std::vector<FormatArg>{FormatArg(args)...});
}

}  // namespace velmora
