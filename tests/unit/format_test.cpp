#include "text/format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "text/text_util.h"

namespace velmora {
namespace {

std::string Narrow(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        out += c < 0x80 ? std::string(1, static_cast<char>(c)) : "\\u" + std::to_string(static_cast<int>(c));
    return out;
}

TEST(FormatTest, Conversions) {
    struct Case {
        std::u16string Format;
        std::vector<CFormatArg> Args;
        std::u16string Expected;
    };
    const std::u16string owned = u"owned";
    const std::string bytes = "caf\xE9 \x80";
    // clang-format off
    const Case cases[] = {
        {u"%d", {42}, u"42"}, {u"%i", {-42}, u"-42"}, {u"%d", {INT64_MIN}, u"-9223372036854775808"},
        {u"%d", {UINT64_MAX}, u"18446744073709551615"}, {u"%u", {4000000000u}, u"4000000000"},
        {u"%x", {255}, u"ff"}, {u"%X", {0xBEEFu}, u"BEEF"},
        // Negative 32-bit values show their 32-bit pattern, as an HRESULT does.
        {u"%08X", {int32_t{-2147467259}}, u"80004005"}, {u"%u", {-1}, u"4294967295"}, {u"%d", {true}, u"1"},
        {u"%c", {u'\u00E9'}, u"\u00E9"}, {u"%c", {65}, u"A"}, {u"%5d|", {42}, u"   42|"},
        {u"%-5d|", {42}, u"42   |"}, {u"%05d", {42}, u"00042"}, {u"%05d", {-42}, u"-0042"},
        {u"%6s|", {u"ab"}, u"    ab|"}, {u"%-3S|", {"ab"}, u"ab |"},
        {u"%06s|", {u"ab"}, u"    ab|"},  // zeros pad numbers only
        {u"%ld %lu %lld %hd %zu", {1, 2u, 3, 4, 5u}, u"1 2 3 4 5"},
        {u"[%s]", {u"h\u00E9llo"}, u"[h\u00E9llo]"}, {u"[%s]", {owned}, u"[owned]"},
        {u"[%s]", {static_cast<const char16_t*>(nullptr)}, u"[]"}, {u"[%S]", {bytes}, u"[caf\u00E9 \u20AC]"},
        {u"[%s]", {static_cast<const char*>(nullptr)}, u"[]"},
        // A text argument reads as its text under any conversion; a number under %s as its decimal form.
        {u"%d", {u"text"}, u"text"}, {u"%05x", {"\x80"}, u"    \u20AC"}, {u"%s", {-17}, u"-17"},
        // A missing argument writes nothing and the rest of the format goes on.
        {u"a%db%sc", {}, u"abc"}, {u"100%%", {}, u"100%"},
        {u"%d%%", {5, 6}, u"5%"},  // extra arguments are ignored
        // Not a conversion of ours: copied as written, without taking an argument.
        {u"%q %d", {7}, u"%q 7"}, {u"%1 : %s", {u"file"}, u"%1 : file"}, {u"%.2f", {1}, u"%.2f"},
        {u"trailing %-0", {}, u"trailing %-0"},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(Narrow(FormatArgs(c.Format, c.Args)), Narrow(c.Expected)) << "format: " << Narrow(c.Format);
}

TEST(TextUtilTest, ParseInt32) {
    // clang-format off
    const std::pair<std::u16string, int32_t> cases[] = {
        {u"515", 515}, {u"  \t\n\v\f\r-12", -12}, {u"+7", 7}, {u"12abc", 12}, {u"", 0}, {u"-", 0},
        {u"+-3", 0}, {u"- 3", 0}, {u"2147483647", INT32_MAX}, {u"2147483648", INT32_MAX},
        {u"-2147483648", INT32_MIN}, {u"-2147483649", INT32_MIN}, {u"99999999999999999999999999", INT32_MAX},
        {u"0000000000000000000000000042", 42}, {u"\u00A012", 0}, {u"\uFF11", 0}};  // ASCII only
    // clang-format on
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ParseInt32(text), value) << Narrow(text);
}

TEST(TextUtilTest, EqualsNoCaseFoldsAsciiLettersOnly) {
    EXPECT_TRUE(EqualsNoCase(u"Queue_AZ1", u"qUEUE_az1"));
    EXPECT_FALSE(EqualsNoCase(u"abc", u"abcd"));
    EXPECT_FALSE(EqualsNoCase(u"[", u"{"));  // 0x5B and 0x7B differ by 32 but are not letters
    EXPECT_FALSE(EqualsNoCase(u"\u00E9", u"\u00C9"));
}

}  // namespace
}  // namespace velmora
