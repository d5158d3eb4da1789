// Code page 1252 (Printer.cfg, control files) and the UTF-8 encoder the settings file is written with.
#include "text/code_page.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "text/utf8.h"

namespace velmora {
namespace {

TEST(CodePage1252Test, CharactersConvertBothWays) {
    // clang-format off
    const std::pair<char, char16_t> cases[] = {
        {'\0', u'\0'}, {'A', u'A'}, {'\x7F', 0x007F}, {'\x80', 0x20AC}, {'\x8A', 0x0160}, {'\x9E', 0x017E},
        {'\x9F', 0x0178}, {'\xA0', 0x00A0}, {'\xE9', 0x00E9}, {'\xFF', 0x00FF},
        // Bytes that Windows-1252 leaves undefined keep their value as C1 controls.
        {'\x81', 0x0081}, {'\x8D', 0x008D}, {'\x8F', 0x008F}, {'\x90', 0x0090}, {'\x9D', 0x009D},
    };
    // clang-format on
    for (const auto& [byte, unit] : cases) {
        SCOPED_TRACE(static_cast<int>(unit));
        EXPECT_EQ(FromBytes1252(std::string(1, byte)), std::u16string(1, unit));
        EXPECT_EQ(ToBytes1252(std::u16string(1, unit)), std::string(1, byte));
    }
    // Latin-1 code points that 1252 replaced with other characters, and anything beyond it, become zero.
    EXPECT_EQ(ToBytes1252(u"a\u0080\u008A\u009F\u0100\u3042\uFFFFb"), std::string("a\0\0\0\0\0\0b", 8));
}

// Also while threads build the tables at once, and again once freed (as the program does at its end).
TEST(CodePage1252Test, EveryByteSurvivesARoundTripWhileTheTablesAreBuilt) {
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    for (int round = 0; round < 2; ++round) {
        FreeCodePageTables();
        std::atomic<int> mismatches{0};
        std::vector<std::jthread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t, &bytes, &mismatches] {
                // Half the threads start with the reverse table, half with the forward one.
                mismatches += (t % 2 == 0 && ToBytes1252(u"\u20AC") != "\x80") +
                              (ToBytes1252(FromBytes1252(bytes)) != bytes);
            });
        }
        threads.clear();
        EXPECT_EQ(mismatches, 0);
    }
}

std::string Encode(const std::u16string& text) {
    std::string out(16, '\0');
    const int n =
        Utf8Encode(out.data(), static_cast<int>(out.size()), text.data(), static_cast<int>(text.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

TEST(Utf8EncodeTest, UnitsEncodeByRange) {
    const std::pair<char16_t, std::string> cases[] = {
        {u'A', "A"},          {0x007F, "\x7F"},         {0x0080, "\xC2\x80"},     {0x00E9, "\xC3\xA9"},
        {0x07FF, "\xDF\xBF"}, {0x0800, "\xE0\xA0\x80"}, {0x20AC, "\xE2\x82\xAC"}, {0xFFFF, "\xEF\xBF\xBF"},
    };
    for (const auto& [unit, bytes] : cases) {
        SCOPED_TRACE(static_cast<int>(unit));
        const std::u16string text(1, unit);
        EXPECT_EQ(Encode(text), bytes);
        EXPECT_EQ(Utf8Encode(nullptr, 0, text.data(), 1), static_cast<int>(bytes.size()));
    }
    EXPECT_EQ(Encode(u"h\u00E9\u20AC"), "h\xC3\xA9\xE2\x82\xAC");
}

TEST(Utf8EncodeTest, SurrogatesAreEncodedAsThreeBytesEach) {
    testing::internal::CaptureStderr();  // each is reported there
    EXPECT_EQ(Encode(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
    testing::internal::GetCapturedStderr();
}

}  // namespace
}  // namespace velmora
