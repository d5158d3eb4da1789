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
        std::string value;
        Language expected;
    } cases[] = {{"fr", Language::French},
                 {"Ja", Language::Japanese},
                 {"DE", Language::English},
                 {std::string(3000, 'x'), Language::English}};  // longer than the first read takes
    for (const Case& c : cases) {
        ASSERT_EQ(Reg({"add", REG_KEY, "/v", "Lang", "/t", "REG_SZ", "/d", c.value, "/f"}), 0) << c.value;
        EXPECT_EQ(SelectedFrom(Language::French), c.expected) << c.value;
        std::u16string read;
        ASSERT_TRUE(platform::ReadRegistryString(u"Lang", &read));
        EXPECT_EQ(read, std::u16string(c.value.begin(), c.value.end()));
    }
    ASSERT_EQ(Reg({"add", REG_KEY, "/v", "Lang", "/t", "REG_DWORD", "/d", "1", "/f"}), 0);
    EXPECT_EQ(SelectedFrom(Language::Japanese), Language::English);
}

}  // namespace
}  // namespace velmora
