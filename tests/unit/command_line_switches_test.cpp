// The program's switches on top of the framework's command-line parser.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_line.h"
#include "platform/ansi.h"

namespace velmora {
namespace {

struct Flags {
    int32_t service;
    int32_t remove;
    int32_t install;
    int32_t silent;
};

std::string Show(const Flags& flags) {
    return std::to_string(flags.service) + std::to_string(flags.remove) + std::to_string(flags.install) +
           std::to_string(flags.silent);
}

Flags Parse(const std::vector<std::u16string>& words, CMyCommandLineInfo* info = nullptr) {
    CMyCommandLineInfo local;
    CMyCommandLineInfo& parsed = info ? *info : local;
    ParseCommandLine(parsed, words);
    return {parsed.RunAsService, parsed.RemoveService, parsed.InstallService, parsed.Silent};
}

TEST(CommandLineSwitchesTest, EachServiceSwitchSetsItsFlagsWithEitherPrefix) {
    struct Case {
        std::u16string word;
        Flags flags;
    };
    const std::vector<Case> cases = {
        {u"WINSERV", {1, 0, 0, 0}},
        {u"DELSERV", {0, 1, 0, 0}},
        {u"SILENT_DELSERV", {0, 1, 0, 1}},
        {u"INSTALLSERV", {0, 0, 1, 0}},
        {u"SILENT_INSTALLSERV", {0, 0, 1, 1}},
    };
    EXPECT_EQ(Show(Parse({})), "0000");
    for (const Case& c : cases) {
        for (const char16_t* prefix : {u"-", u"/"}) {
            EXPECT_EQ(Show(Parse({prefix + c.word})), Show(c.flags))
                << platform::UnicodeToAnsi(prefix + c.word);
        }
    }
    // Switches add up.
    EXPECT_EQ(Show(Parse({u"-SILENT_DELSERV", u"/INSTALLSERV", u"-WINSERV"})), "1111");
}

TEST(CommandLineSwitchesTest, OnlyTheExactWordIsAServiceSwitch) {
    // Other switches go to the framework, which has no use for them.
    const std::vector<std::u16string> otherSwitches = {
        u"-installserv", u"-InstallServ", u"-INSTALLSERVX", u"-INSTALL", u"--INSTALLSERV",
        u"-SILENT_",     u"- WINSERV",    u"/winserv",      u"-",
    };
    for (const std::u16string& word : otherSwitches) {
        CMyCommandLineInfo info;
        EXPECT_EQ(Show(Parse({word}, &info)), "0000") << platform::UnicodeToAnsi(word);
        EXPECT_EQ(info.Command, CCommandLineInfo::FileNew) << platform::UnicodeToAnsi(word);
    }
    // A plain word is the framework's: the document to open.
    for (const std::u16string& word : {std::u16string(u"WINSERV"), std::u16string(u"\\INSTALLSERV")}) {
        CMyCommandLineInfo info;
        EXPECT_EQ(Show(Parse({word}, &info)), "0000") << platform::UnicodeToAnsi(word);
        EXPECT_EQ(info.FileName, word);
        EXPECT_EQ(info.Command, CCommandLineInfo::FileOpen);
    }
}

TEST(CommandLineSwitchesTest, FrameworkAndToolkitSwitchesKeepTheirMeaning) {
    CMyCommandLineInfo embedded;
    EXPECT_EQ(Show(Parse({u"-Embedding", u"-WINSERV"}, &embedded)), "1000");
    EXPECT_TRUE(embedded.RunEmbedded);
    CMyCommandLineInfo automated;
    Parse({u"/automation"}, &automated);
    EXPECT_TRUE(automated.RunAutomated);
    CMyCommandLineInfo unregister;
    Parse({u"/Unregserver"}, &unregister);
    EXPECT_EQ(unregister.Command, CCommandLineInfo::AppUnregister);

    // The desktop toolkit's options and their values are neither documents nor errors.
    CMyCommandLineInfo toolkit;
    EXPECT_EQ(Show(Parse({u"-platform", u"offscreen", u"-WINSERV", u"--style", u"fusion", u"-reverse",
                          u"-qwindowgeometry=640x480", u"-SILENT_DELSERV"},
                         &toolkit)),
              "1101");
    EXPECT_TRUE(toolkit.FileName.empty());
    EXPECT_EQ(toolkit.Command, CCommandLineInfo::FileNew);
    EXPECT_FALSE(toolkit.RunEmbedded);
}

// The end-of-line bookkeeping runs for every word, the program's own switches included.
TEST(CommandLineSwitchesTest, DocumentIsOpenedWhenTheLastWordIsAServiceSwitch) {
    CMyCommandLineInfo info;
    Parse({u"jobs.list", u"-INSTALLSERV"}, &info);
    EXPECT_EQ(info.FileName, u"jobs.list");
    EXPECT_EQ(info.Command, CCommandLineInfo::FileOpen);

    // The same from main's arguments, the program name left out.
    CMyCommandLineInfo fromMain;
    char program[] = "VelmoraVirtualPrinter";
    char document[] = "second.list";
    char service[] = "/WINSERV";
    char* argv[] = {program, document, service, nullptr};
    ParseCommandLine(fromMain, 3, argv);
    EXPECT_EQ(fromMain.RunAsService, 1);
    EXPECT_EQ(fromMain.FileName, u"second.list");
    EXPECT_EQ(fromMain.Command, CCommandLineInfo::FileOpen);
}

}  // namespace
}  // namespace velmora
