// Command lines: the program's own switches, and those of program mode (split as Windows reads them).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "output/program_printer.h"
#include "platform/ansi.h"
#include "platform/process.h"

namespace velmora {
namespace {

std::string Show(const std::vector<std::u16string>& arguments) {
    std::string shown;
    for (const std::u16string& argument : arguments)
        shown += "[" + platform::UnicodeToAnsi(argument) + "]";
    return shown;
}

TEST(SplitCommandLineTest, ArgumentsFollowTheBackslashAndQuotationRulesAndTheProgramNameItsOwn) {
    // clang-format off
    const struct {
        std::u16string CommandLine;
        std::vector<std::u16string> Arguments;
    } cases[] = {
        {u"prog \"a b c\" d e", {u"prog", u"a b c", u"d", u"e"}},
        {uR"(prog "ab\"c" "\\" d)", {u"prog", uR"(ab"c)", uR"(\)", u"d"}},
        // Backslashes not followed by a quotation mark are literal.
        {uR"(prog a\\\b d"e f"g h)", {u"prog", uR"(a\\\b)", u"de fg", u"h"}},
        // 2n+1 backslashes and a quotation mark: n backslashes and a literal quotation mark.
        {uR"(prog a\\\"b c d)", {u"prog", uR"(a\"b)", u"c", u"d"}},
        // 2n backslashes and a quotation mark: n backslashes, and the mark starts a quoted part.
        {uR"(prog a\\\\"b c" d e)", {u"prog", uR"(a\\b c)", u"d", u"e"}},
        // Two quotation marks inside a quoted part are one literal mark, and the quoted part goes on.
        {uR"(prog a"b"" c d)", {u"prog", uR"(ab" c d)"}}, {uR"(prog "a""b")", {u"prog", uR"(a"b)"}},
        // Outside a quoted part they are an empty quoted part; an unterminated one runs to the end.
        {uR"(prog a""b)", {u"prog", u"ab"}}, {uR"(prog "" "")", {u"prog", u"", u""}},
        {u"prog \"a b", {u"prog", u"a b"}}, {u"prog\ta \t b  ", {u"prog", u"a", u"b"}},
        // The program name has its own rules.
        {uR"("C:\Program Files\Reader\reader.exe" /t %1)",
         {uR"(C:\Program Files\Reader\reader.exe)", u"/t", u"%1"}},
        // No escaping: a backslash before a quotation mark is a plain character of the name.
        {uR"(123\"abc" d e)", {uR"(123\"abc")", u"d", u"e"}},
        // The name ends at its closing quotation mark even without white space after it.
        {uR"("a b"c d)", {u"a b", u"c", u"d"}}, {uR"("C:\dir\" x)", {uR"(C:\dir\)", u"x"}},
        {u" a b", {u"", u"a", u"b"}}, {u"", {}},  // white space first: an empty program name
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(Show(platform::SplitCommandLine(c.CommandLine)), Show(c.Arguments))
            << Show({c.CommandLine});
}

TEST(SplitCommandLineTest, AQuotedArgumentComesBackUnchanged) {
    for (const std::u16string argument : {u"/spool/with space's.pdf", uR"(say "hi")", uR"(C:\dir\)",
                                          uR"(a\"b)", uR"(\\server\share)", u"", uR"(\")"}) {
        const std::u16string line = u"xdg-open " + platform::QuoteArgument(argument);
        EXPECT_EQ(Show(platform::SplitCommandLine(line)), Show({u"xdg-open", argument})) << Show({line});
    }
}

// "v1" to "vC": the value of each marker named after it.
CommandValues SampleValues() {
    CommandValues values;
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = u"v" + std::u16string(1, u"123456789ABC"[i]);
    return values;
}

TEST(ExpandCommandTemplateTest, EveryMarkerIsReplacedByItsQuotedValueAndOtherTextStays) {
    // clang-format off
    const struct {
        std::u16string Template;
        std::u16string Expected;
    } cases[] = {
        {u"p %1 %2 %3 %4 %5 %6 %7 %8 %9 %A %B %C",
         u"p \"v1\" \"v2\" \"v3\" \"v4\" \"v5\" \"v6\" \"v7\" \"v8\" \"v9\" \"vA\" \"vB\" \"vC\""},
        {uR"("C:\Program Files\Reader\reader.exe" /t %1 %2)",
         uR"("C:\Program Files\Reader\reader.exe" /t "v1" "v2")"},
        // Markers need no white space around them; "%10" is %1 followed by 0.
        {u"-f%1 %10", u"-f\"v1\" \"v1\"0"}, {u"%C%B", u"\"vC\"\"vB\""}, {u"lp -d office", u"lp -d office"},
        // Markers are case-sensitive, and % before any other character is plain text.
        {u"", u""}, {u"%a %b %c %% %Z %0 %D 100% %", u"%a %b %c %% %Z %0 %D 100% %"}, {u"%%1", u"%\"v1\""},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(ExpandCommandTemplate(c.Template, SampleValues()), c.Expected) << Show({c.Template});
    EXPECT_EQ(ExpandCommandTemplate(u"p %3 %4", CommandValues{}), u"p \"\" \"\"");
}

TEST(ExpandCommandTemplateTest, ValuesAreInsertedUnescapedAndLaterMarkersReachIntoThem) {
    CommandValues values = SampleValues();
    // A value may itself hold a later marker: the later step replaces it there too.
    values[4] = u"Copy of %6";
    values[5] = u"bob";
    EXPECT_EQ(ExpandCommandTemplate(u"p %5 %6", values), u"p \"Copy of \"bob\"\" \"bob\"");
    // Quotation marks and backslashes go in unchanged.
    values[4] = uR"(say "hi" C:\x\)";
    EXPECT_EQ(ExpandCommandTemplate(u"p %5", values), uR"(p "say "hi" C:\x\")");
}

// The service, removal, installation and silent flags the switches set, as four digits.
std::string Flags(const std::vector<std::u16string>& words) {
    CMyCommandLineInfo parsed;
    ParseCommandLine(parsed, words);
    return std::to_string(parsed.RunAsService) + std::to_string(parsed.RemoveService) +
           std::to_string(parsed.InstallService) + std::to_string(parsed.Silent);
}

TEST(CommandLineSwitchesTest, EachServiceSwitchSetsItsFlagsWithEitherPrefixAndTheyAddUp) {
    const std::pair<std::u16string, std::string> cases[] = {
        {u"WINSERV", "1000"},
        {u"DELSERV", "0100"},
        {u"SILENT_DELSERV", "0101"},
        {u"INSTALLSERV", "0010"},
        {u"SILENT_INSTALLSERV", "0011"},
    };
    EXPECT_EQ(Flags({}), "0000");
    for (const auto& [word, flags] : cases) {
        for (const char16_t* prefix : {u"-", u"/"})
            EXPECT_EQ(Flags({prefix + word}), flags) << platform::UnicodeToAnsi(prefix + word);
    }
    EXPECT_EQ(Flags({u"-SILENT_DELSERV", u"/INSTALLSERV", u"-WINSERV"}), "1111");
}

TEST(CommandLineSwitchesTest, OnlyTheExactSwitchWordCounts) {
    // Other spellings, plain words and the desktop toolkit's options and values change nothing.
    for (const char16_t* word :
         {u"-installserv", u"-InstallServ", u"-INSTALLSERVX", u"-INSTALL", u"--INSTALLSERV", u"-SILENT_",
          u"- WINSERV", u"/winserv", u"-", u"WINSERV", u"jobs.list", u""})
        EXPECT_EQ(Flags({word}), "0000") << platform::UnicodeToAnsi(word);
    EXPECT_EQ(Flags({u"-platform", u"offscreen", u"-WINSERV", u"--style", u"fusion", u"-reverse"}), "1000");
}

}  // namespace
}  // namespace velmora
