// The settings file, the language value and the allowed clients list.
#include <gtest/gtest.h>
#include <utility>

#include "app/app.h"
#include "core/allowed_clients.h"
#include "core/language.h"
#include "platform/ansi.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::U16;
using test::WriteFile;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = folder_.File("QLSconf.ini");
        app_.ProfileFile.SetPath(U16(path_));
    }
    TempFolder folder_;
    std::string path_;
    CVelmoraVirtualPrinterApp app_;
};

constexpr char DEFAULT_FILE[] =
    "[Settings]\r\nStartAsService=0\r\nAutoStart=1\r\nAutoDelete=0\r\nDeleteSpool=0\r\n"
    "DeleteSpoolTimeOut=30\r\nAutoHide=0\r\nStress=0\r\nPortLPD=515\r\nAccessFile_MaxAttempts=10\r\n"
    "AccessFile_WaitingTimeMsec=10\r\nKillProcessIfNeed=0\r\nLogLevel=1\r\n";

TEST_F(SettingsTest, MissingFileGivesDefaultsAndTheSaveWritesAllTwelveKeysInOrder) {
    app_.LoadSettings();
    app_.SaveSettings();
    EXPECT_EQ(ReadFile(path_), DEFAULT_FILE);
}

TEST_F(SettingsTest, OlderRetryKeysAreReadWhenTheNewOnesAreAbsentOrMinusOne) {
    WriteFile(path_,
              "[Settings]\r\nPDFRename_MaxAttempts=5\r\nAccessFile_WaitingTimeMsec=-1\r\n"
              "PDFRename_WaitingTimeMsec=250\r\n");
    app_.LoadSettings();
    EXPECT_EQ(app_.Settings.AccessFile_MaxAttempts, 5);
    EXPECT_EQ(app_.Settings.AccessFile_WaitingTimeMsec, 250);
    app_.SaveSettings();
    EXPECT_NE(ReadFile(path_).find("AccessFile_MaxAttempts=5\r\nAccessFile_WaitingTimeMsec=250\r\n"),
              std::string::npos);
}

TEST_F(SettingsTest, ValuesAreReadLikeTheWindowsProfileFunctions) {
    WriteFile(path_,
              "[Other]\r\nPortLPD=1\r\n[settings]\r\n  deletespool = 7 \r\nPortLPD=abc\r\nLogLevel=2junk\r\n"
              "AutoHide=-3\r\nStress=\r\nAccessFile_MaxAttempts= \r\nAutoStart\r\n"
              "DeleteSpoolTimeOut=99999999999\r\n");
    app_.LoadSettings();
    EXPECT_TRUE(app_.Settings.DeleteSpool);  // any non-zero value, key found without regard to case
    EXPECT_EQ(app_.Settings.PortLPD, 0);     // non-numeric
    EXPECT_EQ(app_.Settings.LogLevel, 2);    // leading digits
    EXPECT_EQ(app_.Settings.AutoHide, -3);
    EXPECT_EQ(app_.Settings.Stress, 0);  // empty value: the default
    EXPECT_EQ(app_.Settings.AccessFile_MaxAttempts, 10);
    EXPECT_EQ(app_.Settings.AutoStart, 1);  // a line without '=' is no key
    EXPECT_EQ(app_.Settings.DeleteSpoolTimeOut, 2147483647);
    app_.SaveSettings();
    EXPECT_NE(ReadFile(path_).find("DeleteSpool=1\r\n"), std::string::npos);
}

TEST_F(SettingsTest, SaveReplacesTheWholeSectionAndKeepsOtherSections) {
    WriteFile(path_,
              "[Before]\r\nA=1\r\n\r\n[Settings]\r\nHandWritten=42\r\nLogLevel=2\r\n[After]\r\nB=2\r\n");
    app_.LoadSettings();
    app_.SaveSettings();
    const std::string saved = ReadFile(path_);
    EXPECT_EQ(saved.find("HandWritten"), std::string::npos);
    EXPECT_EQ(saved.rfind("[Before]\r\nA=1\r\n\r\n[Settings]\r\nStartAsService=0\r\n", 0), 0u);
    EXPECT_NE(saved.find("LogLevel=2\r\n[After]\r\nB=2\r\n"), std::string::npos);
}

TEST_F(SettingsTest, AllowedClientsIsKeptAsWrittenAndReadAgainByTheService) {
    WriteFile(path_, "[Settings]\r\nAllowedClients= 192.168.1.0/24, 10.0.0.5 \r\n");
    app_.LoadSettings();
    EXPECT_EQ(app_.Settings.AllowedClients(), u"192.168.1.0/24, 10.0.0.5");
    const uint32_t read = app_.Settings.AllowedClientsChanges();
    app_.SaveSettings();
    EXPECT_NE(ReadFile(path_).find("LogLevel=1\r\nAllowedClients=192.168.1.0/24, 10.0.0.5\r\n"),
              std::string::npos);
    app_.ReloadSettings();
    EXPECT_EQ(app_.Settings.AllowedClientsChanges(), read);  // the same list: nothing to read again
    WriteFile(path_, "[Settings]\r\nAllowedClients=127.0.0.2\r\n");
    app_.ReloadSettings();
    EXPECT_EQ(app_.Settings.AllowedClients(), u"127.0.0.2");
    EXPECT_NE(app_.Settings.AllowedClientsChanges(), read);
    // Emptied, the key leaves the file.
    app_.Settings.SetAllowedClients(u"");
    app_.SaveSettings();
    EXPECT_EQ(ReadFile(path_).find("AllowedClients"), std::string::npos);
}

TEST_F(SettingsTest, WriteIntChangesOneKey) {
    EXPECT_TRUE(app_.ProfileFile.WriteInt(u"Settings", u"StartAsService", 1));
    EXPECT_TRUE(app_.ProfileFile.WriteInt(u"Settings", u"PortLPD", 9100));
    EXPECT_TRUE(app_.ProfileFile.WriteInt(u"Settings", u"StartAsService", 0));
    EXPECT_EQ(ReadFile(path_), "[Settings]\r\nStartAsService=0\r\nPortLPD=9100\r\n");
}

TEST_F(SettingsTest, TheServiceReReadsOnlyItsKeysWithItsOwnDefaults) {
    WriteFile(path_, "[Settings]\r\nStartAsService=1\r\nAutoStart=0\r\nStress=1\r\nLogLevel=2\r\n");
    app_.LoadSettings();
    WriteFile(path_, "[Settings]\r\nDeleteSpool=1\r\nPortLPD=5515\r\n");
    app_.ReloadSettings();
    EXPECT_EQ(app_.Settings.AutoDelete, 1);  // the service deletes printed jobs unless told otherwise
    EXPECT_EQ(app_.Settings.PortLPD, 5515);
    EXPECT_EQ(app_.Settings.LogLevel, 1);
    EXPECT_EQ(app_.Settings.AutoStart, 0);  // start-up values stay
    EXPECT_EQ(app_.Settings.Stress, 1);
    CVelmoraVirtualPrinterApp withoutFile;
    withoutFile.Settings.AutoDelete = 5;
    withoutFile.ReloadSettings();
    EXPECT_EQ(withoutFile.Settings.AutoDelete, 5);
}

TEST(LanguageTest, LangValueSelectsTheThreadLanguage) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows the value lives in the registry itself: see the Windows tests";
#endif
    TempFolder folder;
    const std::string registry = folder.File("registry");
    test::SetEnvironment("VELMORA_REGISTRY", registry);
    const std::pair<const char*, Language> cases[] = {{nullptr, Language::English},
                                                      {"Lang=fr\n", Language::French},
                                                      {"Other=1\nLang=Ja\r\n", Language::Japanese},
                                                      {"Lang=DE\n", Language::English}};
    for (const auto& [content, expected] : cases) {
        if (content)
            WriteFile(registry, content);
        SetThreadLanguage(content ? Language::French : Language::Japanese);
        SelectLanguage();
        EXPECT_EQ(ThreadLanguage(), expected) << (content ? content : "(no file)");
    }
    test::UnsetEnvironment("VELMORA_REGISTRY");
}

constexpr uint32_t Address(uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return a << 24 | b << 16 | c << 8 | d;
}

TEST(AllowedClientsTest, EntriesAreAddressesOrNetworks) {
    // clang-format off
    const struct {
        const char16_t* Entry;
        bool Readable;
        uint32_t Network = 0, Mask = 0;
    } cases[] = {
        {u"10.0.0.5", true, Address(10, 0, 0, 5), 0xFFFFFFFF},
        {u"192.168.1.0/24", true, Address(192, 168, 1, 0), 0xFFFFFF00},
        {u"192.168.1.77/24", true, Address(192, 168, 1, 0), 0xFFFFFF00},  // host bits ignored
        {u"0.0.0.0/0", true, 0, 0}, {u"255.255.255.255/32", true, 0xFFFFFFFF, 0xFFFFFFFF},
        {u"010.001.0.9", true, Address(10, 1, 0, 9), 0xFFFFFFFF}, {u"256.1.1.1", false}, {u"1.2.3", false},
        {u"1.2.3.4.5", false}, {u"1.2.3.", false}, {u"a.b.c.d", false}, {u"printhost", false},
        {u"1.2.3.4/33", false}, {u"1.2.3.4/", false}, {u"1.2.3.4/2x", false}, {u"1.2.3.4/-1", false},
        {u"1..3.4", false}, {u"1.2.3.0004", false}, {u"*", false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::UnicodeToAnsi(c.Entry));
        CClientRange range;
        ASSERT_EQ(ParseClientRange(c.Entry, &range), c.Readable);
        if (c.Readable) {
            EXPECT_EQ(range.Network, c.Network);
            EXPECT_EQ(range.Mask, c.Mask);
        }
    }
}

TEST(AllowedClientsTest, TheListRefusesOnlyWhenSomeEntryCanBeRead) {
    const uint32_t office = Address(192, 168, 1, 20), server = Address(10, 0, 0, 5),
                   other = Address(10, 0, 0, 6);
    // clang-format off
    const struct {
        const char16_t* List;
        bool Office, Server, Other;
        const char16_t* FirstUnreadable;
    } cases[] = {
        {u"", true, true, true, u""}, {u"  , ", true, true, true, u""},
        {u"192.168.1.0/24, 10.0.0.5", true, true, false, u""},
        {u"192.168.1.0/24 10.0.0.5", true, true, false, u""},
        {u"10.0.0.5\t,,192.168.1.20", true, true, false, u""}, {u"10.0.0.4/30", false, true, true, u""},
        {u"printhost, 10.0.0.5", false, true, false, u"printhost"},
        // No entry can be read: nobody is locked out.
        {u"printhost 10.0.0.5/40", true, true, true, u"printhost"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::UnicodeToAnsi(c.List));
        const CAllowedClients list(c.List);
        EXPECT_EQ(list.Allows(office), c.Office);
        EXPECT_EQ(list.Allows(server), c.Server);
        EXPECT_EQ(list.Allows(other), c.Other);
        EXPECT_EQ(FirstUnreadableClient(c.List), c.FirstUnreadable);
    }
    const CAllowedClients mixed(u"bad1, 10.0.0.5,bad2");
    EXPECT_EQ(mixed.Readable, std::vector<std::u16string>{u"10.0.0.5"});
    EXPECT_TRUE(mixed.Written() && !CAllowedClients(u" ").Written());
}

}  // namespace
}  // namespace velmora
