#include "text/code_page.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velmora {
namespace {

TEST(CodePage1252Test, CharactersConvertBothWays) {
    struct Case {
        uint16_t Byte;
        char16_t Unit;
    };
    const Case cases[] = {
        {0x00, u'\0'},
        {0x41, u'A'},
        {0x7F, 0x007F},
        {0x80, 0x20AC},
        {0x8A, 0x0160},
        {0x9E, 0x017E},
        {0x9F, 0x0178},
        {0xA0, 0x00A0},
        {0xE9, 0x00E9},
        {0xFF, 0x00FF},
        // Bytes that Windows-1252 leaves undefined keep their value as C1 controls.
        {0x81, 0x0081},
        {0x8D, 0x008D},
        {0x8F, 0x008F},
        {0x90, 0x0090},
        {0x9D, 0x009D},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Byte);
        EXPECT_EQ(CodePageToUnicode(1252, c.Byte), c.Unit);
        EXPECT_EQ(UnicodeToCodePage(1252, c.Unit), c.Byte);
    }
}

TEST(CodePage1252Test, UnrepresentableCharactersBecomeZero) {
    // Latin-1 code points that 1252 replaced with other characters, and anything beyond the table.
    for (char16_t unit : {char16_t{0x0080}, char16_t{0x008A}, char16_t{0x009F}, char16_t{0x0100},
                          char16_t{0x3042}, char16_t{0xFFFF}}) {
        SCOPED_TRACE(static_cast<int>(unit));
        EXPECT_EQ(UnicodeToCodePage(1252, unit), 0);
    }
    // A code above 0xFF is not a byte of a single-byte code page.
    EXPECT_EQ(CodePageToUnicode(1252, 0x100), u'\0');
}

TEST(CodePage1252Test, EveryByteSurvivesARoundTrip) {
    std::array<unsigned char, 256> bytes{};
    for (int i = 0; i < 256; ++i) {
        bytes[i] = static_cast<unsigned char>(i);
    }
    std::array<char16_t, 256> units{};
    std::array<unsigned char, 256> back{};
    EXPECT_EQ(BytesToUnicode1252(units.data(), bytes.data(), bytes.size()), units.data());
    EXPECT_EQ(UnicodeToBytes1252(back.data(), units.data(), units.size()), back.data());
    EXPECT_EQ(back, bytes);

    // 256 distinct characters: the table is a bijection on bytes.
    std::vector<bool> seen(65536, false);
    for (char16_t unit : units) {
        EXPECT_FALSE(seen[unit]) << static_cast<int>(unit);
        seen[unit] = true;
    }
}

TEST(CodePage1252Test, BufferOperationsWriteExactlyNAndNoTerminator) {
    const unsigned char bytes[] = {'a', 0x80, 'b'};
    char16_t units[5] = {u'x', u'x', u'x', u'x', u'x'};
    BytesToUnicode1252(units, bytes, 2);
    EXPECT_EQ(std::u16string(units, 5), std::u16string(u"a\u20ACxxx"));
    BytesToUnicode1252(units, bytes, 0);
    EXPECT_EQ(units[0], u'a');

    const char16_t text[] = u"\u00E9\u0100z";
    unsigned char out[4] = {'#', '#', '#', '#'};
    UnicodeToBytes1252(out, text, 3);
    EXPECT_EQ(out[0], 0xE9);
    EXPECT_EQ(out[1], 0x00);
    EXPECT_EQ(out[2], 'z');
    EXPECT_EQ(out[3], '#');
}

TEST(CodePage1252Test, StringForms) {
    EXPECT_EQ(FromBytes1252("caf\xE9 \x80"), u"caf\u00E9 \u20AC");
    EXPECT_EQ(ToBytes1252(u"caf\u00E9 \u20AC"), "caf\xE9 \x80");
    EXPECT_EQ(ToBytes1252(u"a\u0100b"), std::string("a\0b", 3));
    EXPECT_EQ(FromBytes1252(std::string_view("\0x", 2)), std::u16string(u"\0x", 2));
    EXPECT_EQ(ToBytes1252(u""), "");
}

TEST(CodePageTest, UnknownCodePageReportsAndYieldsZero) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(CodePageToUnicode(1, 'A'), u'\0');
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Code page not found : 1\n");

    testing::internal::CaptureStderr();
    EXPECT_EQ(UnicodeToCodePage(-7, u'A'), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Code page not found : -7\n");
}

TEST(CodePageTest, Utf16IsTheIdentity) {
    EXPECT_EQ(CodePageToUnicode(1200, 0x3042), 0x3042);
    EXPECT_EQ(UnicodeToCodePage(1200, 0xFFFF), 0xFFFF);
}

TEST(CodePageTest, TablesAreRebuiltAfterBeingFreed) {
    EXPECT_EQ(UnicodeToCodePage(1252, 0x20AC), 0x80);
    FreeCodePageTables();
    FreeCodePageTables();
    // Reverse first, so it has to build its forward table itself.
    EXPECT_EQ(UnicodeToCodePage(1252, 0x20AC), 0x80);
    EXPECT_EQ(CodePageToUnicode(1252, 0x80), 0x20AC);
}

TEST(CodePageTest, ConcurrentFirstUseSeesCompleteTables) {
    FreeCodePageTables();
    constexpr int THREADS = 8;
    std::vector<int> mismatches(THREADS, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([t, &mismatches] {
            for (int b = 0; b < 256; ++b) {
                // Half the threads start with the reverse table, half with the forward one.
                const auto byte = static_cast<uint16_t>(t % 2 == 0 ? b : 255 - b);
                const char16_t unit = CodePageToUnicode(1252, byte);
                if (UnicodeToCodePage(1252, unit) != byte) {
                    ++mismatches[t];
                }
            }
            const std::string bytes = "\x80\xE9 ok";
            if (ToBytes1252(FromBytes1252(bytes)) != bytes) {
                ++mismatches[t];
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    for (int t = 0; t < THREADS; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
    }
}

TEST(UnicodeCopyTest, CopyAndDuplicate) {
    char16_t destination[4] = {u'-', u'-', u'-', u'-'};
    CopyUnicode(destination, u"abc", 3);
    EXPECT_EQ(std::u16string(destination, 4), u"abc-");

    std::unique_ptr<char16_t[]> whole(DuplicateUnicode(u"h\u00E9llo", -1));
    EXPECT_EQ(std::u16string(whole.get()), u"h\u00E9llo");

    // An explicit count copies exactly that many units, even past a zero, and terminates the copy.
    const char16_t withZero[] = {u'a', u'\0', u'b', u'c'};
    std::unique_ptr<char16_t[]> part(DuplicateUnicode(withZero, 3));
    EXPECT_EQ(std::u16string(part.get(), 4), std::u16string(u"a\0b\0", 4));

    std::unique_ptr<char16_t[]> empty(DuplicateUnicode(u"abc", 0));
    EXPECT_EQ(empty[0], u'\0');
}

}  // namespace
}  // namespace velmora
