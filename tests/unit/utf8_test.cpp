#include "text/utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace velmora {
namespace {

// Runs fn with the standard error stream captured and returns what it wrote there.
template <typename Fn>
std::string StderrOf(Fn&& fn) {
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

std::string Encode(const std::u16string& text, int* result = nullptr) {
    std::string out(16, '\0');
    const int n =
        Utf8Encode(out.data(), static_cast<int>(out.size()), text.data(), static_cast<int>(text.size()));
    if (result != nullptr) {
        *result = n;
    }
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

struct Decoded {
    int Result = 0;
    std::u16string Units;
    std::string Diagnostics;
};

Decoded Decode(const std::string& bytes, int capacity = 16, int* errorCounter = nullptr) {
    Decoded d;
    std::vector<char16_t> buffer(static_cast<std::size_t>(capacity) + 1, u'#');
    int count = capacity;
    d.Diagnostics = StderrOf([&] {
        d.Result =
            Utf8Decode(buffer.data(), &count, bytes.data(), static_cast<int>(bytes.size()), errorCounter);
    });
    d.Units.assign(buffer.data(), static_cast<std::size_t>(count));
    return d;
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
        EXPECT_EQ(Utf8EncodedLength(1, text.data()), static_cast<int>(c.Bytes.size()));
    }
    EXPECT_EQ(Encode(u"h\u00E9\u20AC"), "h\xC3\xA9\xE2\x82\xAC");
}

TEST(Utf8EncodeTest, SurrogatesAreReportedAndEncodedAsThreeBytes) {
    std::string bytes;
    EXPECT_EQ(StderrOf([&] { bytes = Encode(u"\xD83D"); }),
              "encountered part of a surrogate pair : ignoring\n");
    EXPECT_EQ(bytes, "\xED\xA0\xBD");

    // A pair becomes six bytes, one diagnostic per unit.
    EXPECT_EQ(StderrOf([&] { bytes = Encode(u"\U0001F600"); }),
              "encountered part of a surrogate pair : ignoring\n"
              "encountered part of a surrogate pair : ignoring\n");
    EXPECT_EQ(bytes, "\xED\xA0\xBD\xED\xB8\x80");
}

TEST(Utf8EncodeTest, SizeQueryAndTerminator) {
    const char16_t text[] = u"A";
    EXPECT_EQ(Utf8Encode(nullptr, 0, text, -1), 2);
    EXPECT_EQ(Utf8Encode(nullptr, 0, u"\u00E9\u20AC", 2), 5);

    char out[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(Utf8Encode(out, 4, text, -1), 2);
    EXPECT_EQ(std::string(out, 4), std::string("A\0##", 4));
}

TEST(Utf8EncodeTest, ArgumentErrorsAndShortDestination) {
    char out[8] = {};
    EXPECT_EQ(Utf8Encode(out, 8, nullptr, 3), 0);
    EXPECT_EQ(Utf8Encode(out, -1, u"A", 1), -2);
    EXPECT_EQ(Utf8Encode(nullptr, 4, u"A", 1), -1);

    // The units that fit stay written; the one that does not fit is not split.
    char small[3] = {'#', '#', '#'};
    EXPECT_EQ(Utf8Encode(small, 3, u"a\u20AC", 2), -2);
    EXPECT_EQ(std::string(small, 3), "a##");
}

TEST(Utf8DecodeTest, WellFormedSequences) {
    Decoded d = Decode("A\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(d.Result, 6);
    EXPECT_EQ(d.Units, u"A\u00E9\u20AC");
    EXPECT_EQ(d.Diagnostics, "");

    // Overlong forms and unchecked continuation bytes are taken as they come.
    d = Decode("\xC0\x81\xE0\x41\x41");
    EXPECT_EQ(d.Result, 5);
    EXPECT_EQ(d.Units, u"\u0001\u0041");
}

TEST(Utf8DecodeTest, FourByteSequenceBecomesQuestionMark) {
    const Decoded d = Decode("\xF0\x9F\x98\x80\x41");
    EXPECT_EQ(d.Result, 5);
    EXPECT_EQ(d.Units, u"?A");
    EXPECT_EQ(d.Diagnostics, "got surrogate pair; ignoring\n");
}

TEST(Utf8DecodeTest, StrayContinuationByteIsSkippedNotConsumed) {
    const Decoded d = Decode("\x41\x80\x42");
    EXPECT_EQ(d.Result, 2);
    EXPECT_EQ(d.Units, u"AB");
    EXPECT_EQ(d.Diagnostics, "invalid byte value 0x80 in UTF-8 sequence, ignoring it!\n");
}

TEST(Utf8DecodeTest, TruncatedFinalSequenceIsDropped) {
    const Decoded d = Decode("A\xE2\x82");
    EXPECT_EQ(d.Result, 1);
    EXPECT_EQ(d.Units, u"A");
    EXPECT_EQ(d.Diagnostics, "");
}

TEST(Utf8DecodeTest, ErrorCounterLimitsDiagnostics) {
    int counter = 998;
    Decoded d = Decode("\x80\xBF\x81", 16, &counter);
    EXPECT_EQ(d.Diagnostics,
              "invalid byte value 0x80 in UTF-8 sequence, ignoring it!\n"
              "invalid byte value 0xBF in UTF-8 sequence, ignoring it!\n"
              "more invalid byte values in UTF-8 sequence, ignoring...\n");
    EXPECT_EQ(counter, 1001);
    EXPECT_EQ(d.Result, 0);
    EXPECT_EQ(d.Units, u"");

    // The same counter keeps later calls quiet, also for four-byte sequences.
    d = Decode("\x80\xF0\x9F\x98\x80", 16, &counter);
    EXPECT_EQ(d.Diagnostics, "");
    EXPECT_EQ(d.Units, u"?");
    EXPECT_EQ(counter, 1001);

    // Reaching the limit on entry still announces it once.
    counter = 1000;
    d = Decode("\x80\x80", 16, &counter);
    EXPECT_EQ(d.Diagnostics, "more invalid byte values in UTF-8 sequence, ignoring...\n");
    EXPECT_EQ(counter, 1001);

    counter = 5;
    d = Decode("\xF0\x9F\x98\x80", 16, &counter);
    EXPECT_EQ(d.Diagnostics, "got surrogate pair; ignoring\n");
    EXPECT_EQ(counter, 6);
}

TEST(Utf8DecodeTest, CapacityAndSizeQuery) {
    Decoded d = Decode("abc", 2);
    EXPECT_EQ(d.Result, -2);
    EXPECT_EQ(d.Units, u"ab");  // the count is left at the capacity

    d = Decode("abc", 3);
    EXPECT_EQ(d.Result, 3);
    EXPECT_EQ(d.Units, u"abc");

    int count = 0;
    EXPECT_EQ(Utf8Decode(nullptr, &count, "A\xC3\xA9\xF0\x9F\x98\x80", 7), 4);
    EXPECT_EQ(count, 4);

    // n = -1 decodes the terminator as a unit too.
    char16_t out[4] = {u'#', u'#', u'#', u'#'};
    count = 4;
    EXPECT_EQ(Utf8Decode(out, &count, "\xC3\xA9", -1), 3);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::u16string(out, 3), std::u16string(u"\u00E9\0#", 3));
}

TEST(Utf8DecodeTest, ArgumentErrors) {
    char16_t out[4];
    int count = 4;
    EXPECT_EQ(Utf8Decode(out, &count, nullptr, 3), -1);
    EXPECT_EQ(Utf8Decode(nullptr, &count, "abc", 3), -1);
    EXPECT_EQ(count, 4);
}

TEST(Utf8LengthTest, DecodedLength) {
    EXPECT_EQ(Utf8DecodedLength(0, "abc"), 0);
    EXPECT_EQ(Utf8DecodedLength(6, "A\xC3\xA9\xE2\x82\xAC"), 3);
    EXPECT_EQ(Utf8DecodedLength(4, "\xF0\x9F\x98\x80"), 2);

    int length = 0;
    EXPECT_EQ(StderrOf([&] {
                  length = Utf8DecodedLength(4,
                                             "\x80"
                                             "A\xF8"
                                             "B");
              }),
              "invalid byte 0x80 in UTF-8 sequence, skipping it!\n"
              "invalid byte 0xF8 in UTF-8 sequence, skipping it!\n");
    EXPECT_EQ(length, 2);
}

TEST(Utf8LengthTest, StringLength) {
    EXPECT_EQ(Utf8StringLength(""), 1);
    EXPECT_EQ(Utf8StringLength("A\xC3\xA9\xE2\x82\xAC"), 7);
    // A sequence cut short by the terminator counts only the bytes before it.
    EXPECT_EQ(Utf8StringLength("A\xE2\x82"), 4);

    int length = 0;
    EXPECT_EQ(StderrOf([&] {
                  length = Utf8StringLength(
                      "\xBF"
                      "A");
              }),
              "invalid first byte value 0xBF in UTF-8 sequence!\n");
    EXPECT_EQ(length, 3);
}

}  // namespace
}  // namespace velmora
