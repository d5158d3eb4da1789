// The program's switches of the service role.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/ansi.h"

namespace velmora {
namespace {

struct Flags {
    int32_t Service;
    int32_t Remove;
    int32_t Install;
    int32_t Silent;
};

std::string Show(const Flags& flags) {
    return std::to_string(flags.Service) + std::to_string(flags.Remove) + std::to_string(flags.Install) +
           std::to_string(flags.Silent);
}

Flags Parse(const std::vector<std::u16string>& words, CMyCommandLineInfo* info = nullptr) {
    CMyCommandLineInfo local;
    CMyCommandLineInfo& parsed = info ? *info : local;
    ParseCommandLine(parsed, words);
    return {parsed.RunAsService, parsed.RemoveService, parsed.InstallService, parsed.Silent};
}

TEST(CommandLineSwitchesTest, EachServiceSwitchSetsItsFlagsWithEitherPrefix) {
    struct Case {
        std::u16string Word;
        Flags Expected;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {u"WINSERV", {1, 0, 0, 0}}, {u"DELSERV", {0, 1, 0, 0}}, {u"SILENT_DELSERV", {0, 1, 0, 1}},
        {u"INSTALLSERV", {0, 0, 1, 0}}, {u"SILENT_INSTALLSERV", {0, 0, 1, 1}},
    };
    // clang-format on
    EXPECT_EQ(Show(Parse({})), "0000");
    for (const Case& c : cases) {
        for (const char16_t* prefix : {u"-", u"/"}) {
            EXPECT_EQ(Show(Parse({prefix + c.Word})), Show(c.Expected))
                << platform::UnicodeToAnsi(prefix + c.Word);
        }
    }
    // Switches add up.
    EXPECT_EQ(Show(Parse({u"-SILENT_DELSERV", u"/INSTALLSERV", u"-WINSERV"})), "1111");
}

TEST(CommandLineSwitchesTest, OnlyTheExactSwitchWordCounts) {
    // Other spellings, plain words and the desktop toolkit's options and values change nothing.
    const std::vector<std::u16string> others = {
        u"-installserv", u"-InstallServ",  u"-INSTALLSERVX",
        u"-INSTALL",     u"--INSTALLSERV", u"-SILENT_",
        u"- WINSERV",    u"/winserv",      u"-",
        u"WINSERV",      u"jobs.list",     u"",
    };
    for (const std::u16string& word : others)
        EXPECT_EQ(Show(Parse({word})), "0000") << platform::UnicodeToAnsi(word);
    EXPECT_EQ(Show(Parse({u"-platform", u"offscreen", u"-WINSERV", u"--style", u"fusion", u"-reverse"})),
              "1000");
}

}  // namespace
}  // namespace velmora
