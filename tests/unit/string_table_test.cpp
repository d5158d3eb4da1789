#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <regex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "resources/string_sources.h"

namespace velmora {
namespace {

constexpr Language TRANSLATIONS[] = {Language::French, Language::Japanese};

std::string Printable(const std::u16string& text) {
    std::string out;
    for (char16_t c : text)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

// The printf-style conversions of a text, in order ("%%" included: a lone "%" breaks the formatting too).
std::vector<std::string> FormatMarkers(const std::u16string& text) {
    static const std::regex marker("%[-+ #0]*[0-9.*]*[hlLqjzt]*.?");
    const std::string printable = Printable(text);
    return {std::sregex_token_iterator(printable.begin(), printable.end(), marker), {}};
}

TEST(StringTableTest, EveryTextIsPresentAndTranslatedInEveryLanguage) {
    for (uint32_t id : StringTableIds()) {
        const std::u16string english = LoadString(id, Language::English);
        ASSERT_FALSE(english.empty()) << "id " << id;
        for (Language language : TRANSLATIONS) {
            const std::u16string text = LoadString(id, language);
            SCOPED_TRACE("id " + std::to_string(id) + ", language " +
                         std::to_string(static_cast<int>(language)));
            EXPECT_FALSE(text.empty());
            // Identical text means an untranslated entry, but for the product name, "OK" and "?".
            if (id != IDS_APP_TITLE && english != u"OK" && english != u"?") {
                EXPECT_NE(text, english) << Printable(english);
            }
            EXPECT_EQ(FormatMarkers(text), FormatMarkers(english)) << Printable(english);
            EXPECT_EQ(std::count(text.begin(), text.end(), u'\n'),
                      std::count(english.begin(), english.end(), u'\n'))
                << Printable(english);
        }
    }
}

TEST(StringTableTest, EnglishTextsThatOtherCodeAndFilesDependOn) {
    // Stored in the job list file, or written to the log (the UI tests pin the dialogs' and menus').
    EXPECT_EQ(LoadString(IDS_STATE_HELD, Language::English), u"Held");
    EXPECT_EQ(LoadString(IDS_SPOOL_LIST_CORRUPTED, Language::English),
              u"The spool.list file is corrupted, some data may have been lost.");
}

// A thread that never chose a language reads English, and a thread's choice is its own.
TEST(StringTableTest, LanguageIsPerThread) {
    SetThreadLanguage(Language::French);
    std::u16string otherReady;
    std::thread([&] {
        otherReady = LoadString(IDS_STATE_READY);
        SetThreadLanguage(Language::Japanese);
    }).join();
    EXPECT_EQ(otherReady, u"Ready");
    EXPECT_EQ(LoadString(IDS_STATE_READY), LoadString(IDS_STATE_READY, Language::French));
    SetThreadLanguage(Language::English);
}

}  // namespace
}  // namespace velmora
