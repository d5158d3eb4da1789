#include <gtest/gtest.h>
#include <stdlib.h>

#include "app/app.h"
#include "core/language.h"
#include "platform/file.h"
#include "platform/registry.h"
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
    const std::string saved = ReadFile(path_);
    EXPECT_NE(saved.find("AccessFile_MaxAttempts=5\r\nAccessFile_WaitingTimeMsec=250\r\n"),
              std::string::npos);
    EXPECT_EQ(saved.find("PDFRename"), std::string::npos);
}

TEST_F(SettingsTest, ValuesAreReadLikeTheWindowsProfileFunctions) {
    WriteFile(path_,
              "[Other]\r\nPortLPD=1\r\n"
              "[settings]\r\n"
              "  deletespool = 7 \r\n"
              "PortLPD=abc\r\n"
              "LogLevel=2junk\r\n"
              "AutoHide=-3\r\n"
              "Stress=\r\n"
              "AccessFile_MaxAttempts= \r\n"
              "AutoStart\r\n"
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
    EXPECT_FALSE(platform::FileExists(U16(path_ + ".new")));
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
    EXPECT_EQ(ReadFile(path_), "[Settings]\r\nStartAsService=1\r\n");
    EXPECT_TRUE(app_.ProfileFile.WriteInt(u"Settings", u"PortLPD", 9100));
    EXPECT_TRUE(app_.ProfileFile.WriteInt(u"Settings", u"StartAsService", 0));
    EXPECT_EQ(ReadFile(path_), "[Settings]\r\nStartAsService=0\r\nPortLPD=9100\r\n");
}

TEST_F(SettingsTest, TheServiceReReadsOnlyItsKeysWithItsOwnDefaults) {
    WriteFile(path_, "[Settings]\r\nStartAsService=1\r\nAutoStart=0\r\nStress=1\r\nLogLevel=2\r\n");
    app_.LoadSettings();
    EXPECT_EQ(app_.Settings.AutoDelete, 0);
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
    // clang-format off
    struct Case {
        const char* Content;
        Language Expected;
    } cases[] = {
        {nullptr, Language::English}, {"Lang=fr\n", Language::French},
        {"Other=1\nLang=Ja\r\n", Language::Japanese}, {"Lang=DE\n", Language::English},
    };
    // clang-format on
    for (const Case& c : cases) {
        if (c.Content)
            WriteFile(registry, c.Content);
        SetThreadLanguage(c.Content ? Language::French : Language::Japanese);
        SelectLanguage();
        EXPECT_EQ(ThreadLanguage(), c.Expected) << (c.Content ? c.Content : "(no file)");
    }
    EXPECT_TRUE(platform::WriteRegistryString(u"Lang", u"FR"));
    std::u16string value;
    EXPECT_TRUE(platform::ReadRegistryString(u"Lang", &value));
    EXPECT_EQ(value, u"FR");
    test::UnsetEnvironment("VELMORA_REGISTRY");
}

}  // namespace
}  // namespace velmora
