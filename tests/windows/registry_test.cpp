// The language value in the real registry, written and read by Windows' own reg tool.
#include <gtest/gtest.h>
#include <windows.h>

#include "core/language.h"
#include "platform/registry.h"
#include "resources/string_table.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ChildProcess;

constexpr const wchar_t* KEY = L"Software\\Velmora";
constexpr char REG_KEY[] = "HKLM\\Software\\Velmora";

int Reg(const std::vector<std::string>& arguments, std::string* output = nullptr) {
    ChildProcess reg("reg", arguments, ChildProcess::Options{{}, {}, true});
    return reg.RunToEnd(60000, output);
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::u16string value;
        hadValue_ = platform::ReadRegistryString(u"Lang", &value);
        savedValue_ = value;
        DeleteLang();
    }
    void TearDown() override {
        if (hadValue_)
            platform::WriteRegistryString(u"Lang", savedValue_);
        else
            DeleteLang();
        SetThreadLanguage(Language::English);
    }
    static void DeleteLang() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, L"Lang");
            RegCloseKey(key);
        }
    }
    static Language SelectedFrom(Language before) {
        SetThreadLanguage(before);
        SelectLanguage();
        return ThreadLanguage();
    }

    bool hadValue_ = false;
    std::u16string savedValue_;
};

TEST_F(RegistryTest, TheLangValueWrittenByRegSelectsTheLanguage) {
    EXPECT_EQ(SelectedFrom(Language::French), Language::English) << "no value";
    struct Case {
        const char* value;
        Language expected;
    } cases[] = {{"fr", Language::French}, {"Ja", Language::Japanese}, {"DE", Language::English}};
    for (const Case& c : cases) {
        ASSERT_EQ(Reg({"add", REG_KEY, "/v", "Lang", "/t", "REG_SZ", "/d", c.value, "/f"}), 0) << c.value;
        EXPECT_EQ(SelectedFrom(Language::French), c.expected) << c.value;
    }
    ASSERT_EQ(Reg({"add", REG_KEY, "/v", "Lang", "/t", "REG_DWORD", "/d", "1", "/f"}), 0);
    EXPECT_EQ(SelectedFrom(Language::Japanese), Language::English);
}

TEST_F(RegistryTest, WrittenValuesAreSeenByRegAndReadBack) {
    ASSERT_TRUE(platform::WriteRegistryString(u"Lang", u"FR"));
    std::string output;
    ASSERT_EQ(Reg({"query", REG_KEY, "/v", "Lang"}, &output), 0);
    EXPECT_NE(output.find("REG_SZ"), std::string::npos) << output;
    EXPECT_NE(output.find("FR"), std::string::npos) << output;

    const std::u16string longValue = std::u16string(3000, u'x') + u"\u65e5\u672c";
    ASSERT_TRUE(platform::WriteRegistryString(u"Lang", longValue));
    std::u16string read;
    ASSERT_TRUE(platform::ReadRegistryString(u"Lang", &read));
    EXPECT_EQ(read, longValue);
    EXPECT_FALSE(platform::ReadRegistryString(u"NoSuchValue", &read));
}

}  // namespace
}  // namespace velmora
