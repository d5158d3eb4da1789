// The encoder the settings file's client list is written with (the product decodes nothing itself).
#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

std::string Encode(const std::u16string& text) {
    std::string out(16, '\0');
    const int n =
        Utf8Encode(out.data(), static_cast<int>(out.size()), text.data(), static_cast<int>(text.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

TEST(Utf8EncodeTest, UnitsEncodeByRange) {
    struct Case {
        char16_t Unit;
        std::string Bytes;
    };
    const Case cases[] = {
        {u'A', "A"},          {0x007F, "\x7F"},         {0x0080, "\xC2\x80"},     {0x00E9, "\xC3\xA9"},
        {0x07FF, "\xDF\xBF"}, {0x0800, "\xE0\xA0\x80"}, {0x20AC, "\xE2\x82\xAC"}, {0xFFFF, "\xEF\xBF\xBF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.Unit));
        const std::u16string text(1, c.Unit);
        EXPECT_EQ(Encode(text), c.Bytes);
        EXPECT_EQ(Utf8Encode(nullptr, 0, text.data(), 1), static_cast<int>(c.Bytes.size()));
    }
    EXPECT_EQ(Encode(u"h\u00E9\u20AC"), "h\xC3\xA9\xE2\x82\xAC");
}

TEST(Utf8EncodeTest, SurrogatesAreReportedAndEncodedAsThreeBytesEach) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Encode(u"\U0001F600"), "\xED\xA0\xBD\xED\xB8\x80");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "encountered part of a surrogate pair : ignoring\n"
              "encountered part of a surrogate pair : ignoring\n");
}

TEST(Utf8EncodeTest, SizeQueryTerminatorAndShortDestination) {
    const char16_t text[] = u"A";
    EXPECT_EQ(Utf8Encode(nullptr, 0, text, -1), 2);
    EXPECT_EQ(Utf8Encode(nullptr, 0, u"\u00E9\u20AC", 2), 5);
    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(Utf8Encode(out, 4, text, -1), 2);
    EXPECT_EQ(std::string(out, 4), std::string("A\0##", 4));
    EXPECT_EQ(Utf8Encode(out, 4, nullptr, 3), 0);
    EXPECT_EQ(Utf8Encode(out, -1, u"A", 1), -2);
    EXPECT_EQ(Utf8Encode(nullptr, 4, u"A", 1), -1);
    // The units that fit stay written; the one that does not fit is not split.
    char small[3] = {'#', '#', '#'};
    EXPECT_EQ(Utf8Encode(small, 3, u"a\u20AC", 2), -2);
    EXPECT_EQ(std::string(small, 3), "a##");
}

}  // namespace
}  // namespace velmora
