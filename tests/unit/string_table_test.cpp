#include "resources/string_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "resources/string_sources.h"

namespace velmora {
namespace {

constexpr Language TRANSLATIONS[] = {Language::French, Language::Japanese};

// Restores the calling thread's language, so a failing test does not leak French into the next one.
class LanguageGuard {
  public:
    LanguageGuard() : saved_(ThreadLanguage()) {}
    ~LanguageGuard() { SetThreadLanguage(saved_); }
    LanguageGuard(const LanguageGuard&) = delete;
    LanguageGuard& operator=(const LanguageGuard&) = delete;

  private:
    Language saved_;
};

// The printf-style conversions of a text, in order ("%%" included, since a translation that turns it
// into a lone "%" breaks the formatting just as much).
std::vector<std::u16string> FormatMarkers(const std::u16string& text) {
    std::vector<std::u16string> markers;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'%') {
            continue;
        }
        size_t end = i + 1;
        while (end < text.size() &&
               std::u16string_view(u"-+ #0").find(text[end]) != std::u16string_view::npos) {
            ++end;
        }
        while (end < text.size() &&
               ((text[end] >= u'0' && text[end] <= u'9') || text[end] == u'.' || text[end] == u'*')) {
            ++end;
        }
        while (end < text.size() &&
               std::u16string_view(u"hlLqjzt").find(text[end]) != std::u16string_view::npos) {
            ++end;
        }
        end = std::min(end + 1, text.size());
        markers.push_back(text.substr(i, end - i));
        i = end - 1;
    }
    return markers;
}

std::string Printable(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return out;
}

TEST(StringTableTest, IdsAreStrictlyAscendingAndEveryNamedIdIsPresent) {
    const std::vector<uint32_t> ids = StringTableIds();
    ASSERT_FALSE(ids.empty());
    EXPECT_TRUE(std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<>()) == ids.end())
        << "ids must be sorted without duplicates";

    // Every constant other code uses must have an entry, or the caller silently shows an empty text.
    const uint32_t named[] = {IDS_PRINTER_NAME_BLANK,
                              IDS_PRINTER_EXISTS,
                              IDS_RESTART_REQUIRED,
                              IDS_BAD_LPD_PORT,
                              IDS_PRINTER_NOT_FOUND,
                              IDS_STATE_READY,
                              IDS_STATE_HELD,
                              IDS_STATE_SAVED,
                              IDS_STATE_PRINTING,
                              IDS_STATE_ERROR,
                              IDS_START,
                              IDS_STOP,
                              IDS_CONFIGURE,
                              IDS_PARAM_LOCAL_FILE,
                              IDS_PARAM_PRINTER_NAME,
                              IDS_PARAM_DRIVER_NAME,
                              IDS_PARAM_PORT_NAME,
                              IDS_PARAM_OWNER,
                              IDS_PARAM_FILE_TYPE,
                              IDS_PARAM_DOCUMENT_NAME,
                              IDS_PARAM_DATE_INSERTED,
                              IDS_PARAM_FILE_SIZE,
                              IDS_PARAM_SOURCE_HOST,
                              IDS_PARAM_JOB_NAME,
                              IDS_PARAM_JOB_CLASS,
                              IDS_PARAMETER_LIST,
                              IDS_SPOOL_LIST_CORRUPTED,
                              IDS_CMD_SERVER_STARTING,
                              IDS_CMD_JOB_RELEASE,
                              IDS_CMD_JOB_STOP,
                              IDS_CMD_JOB_DELETE,
                              IDS_CMD_JOB_TRANSFER,
                              IDS_CMD_SPOOLER_START,
                              IDS_CMD_SPOOLER_STOP,
                              IDS_CMD_CONFIGURATION,
                              IDS_CMD_PREFERENCES,
                              IDS_CMD_SEND_VIA_LPR,
                              IDS_CMD_COPY_TO_PRINTER,
                              IDS_BYTES,
                              IDS_APP_TITLE};
    for (uint32_t id : named) {
        EXPECT_TRUE(std::binary_search(ids.begin(), ids.end(), id)) << "id " << id << " has no entry";
    }
    // The windows' and dialogs' tables name their ids in headers of their own.
    EXPECT_EQ(CoreStrings().size(), std::size(named)) << "a core table entry has no named constant";
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
            // A missing translation falls back to English, so identical text means an untranslated
            // entry; only the product name, "OK" and the "?" symbol are meant to stay the same.
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
    // The state texts are stored in the job list file and shown in the list; the size text and the
    // corruption message end up in the log, whose lines are compared by users and tests.
    EXPECT_EQ(LoadString(IDS_STATE_READY, Language::English), u"Ready");
    EXPECT_EQ(LoadString(IDS_STATE_HELD, Language::English), u"Held");
    EXPECT_EQ(LoadString(IDS_STATE_SAVED, Language::English), u"Saved");
    EXPECT_EQ(LoadString(IDS_STATE_PRINTING, Language::English), u"Printing");
    EXPECT_EQ(LoadString(IDS_STATE_ERROR, Language::English), u"Error");
    EXPECT_EQ(LoadString(IDS_SPOOL_LIST_CORRUPTED, Language::English),
              u"The spool.list file is corrupted, some data may have been lost.");
    EXPECT_EQ(LoadString(IDS_BYTES, Language::English), u"bytes");
    EXPECT_EQ(LoadString(IDS_BAD_LPD_PORT, Language::English),
              u"LPD port cannot be empty or alpha. Default: 515");
    EXPECT_EQ(LoadString(IDS_CMD_SPOOLER_START, Language::English), u"Start spooler\nStart");
    EXPECT_EQ(LoadString(IDS_APP_TITLE, Language::English), u"VelmoraVirtualPrinter");
    EXPECT_EQ(LoadString(IDS_APP_TITLE, Language::Japanese), u"VelmoraVirtualPrinter");
}

TEST(StringTableTest, UnknownIdsAndLanguagesAreHandled) {
    // Ids just outside the table, inside a gap, and at the extremes of the binary search.
    for (uint32_t id : {0u, 109u, 123u, 128u, 142u, 32772u, 57343u, 57345u, 0xFFFFFFFFu}) {
        EXPECT_TRUE(LoadString(id, Language::English).empty()) << id;
        EXPECT_TRUE(LoadString(id, Language::French).empty()) << id;
    }
    // A language the table does not hold reads as English.
    EXPECT_EQ(LoadString(IDS_STATE_ERROR, static_cast<Language>(1031)), u"Error");
}

TEST(StringTableTest, LanguageIsPerThread) {
    LanguageGuard guard;
    SetThreadLanguage(Language::French);
    EXPECT_EQ(LoadString(IDS_STATE_READY), LoadString(IDS_STATE_READY, Language::French));
    EXPECT_NE(LoadString(IDS_STATE_READY), u"Ready");

    // A thread that never chose a language reads English, whatever this thread chose.
    Language otherLanguage = Language::French;
    std::u16string otherReady;
    std::u16string otherAfterSwitch;
    std::thread other([&] {
        otherLanguage = ThreadLanguage();
        otherReady = LoadString(IDS_STATE_READY);
        SetThreadLanguage(Language::Japanese);
        otherAfterSwitch = LoadString(IDS_STATE_READY);
    });
    other.join();

    EXPECT_EQ(otherLanguage, Language::English);
    EXPECT_EQ(otherReady, u"Ready");
    EXPECT_EQ(otherAfterSwitch, LoadString(IDS_STATE_READY, Language::Japanese));
    // The other thread's switch to Japanese left this thread in French.
    EXPECT_EQ(ThreadLanguage(), Language::French);
    EXPECT_EQ(LoadString(IDS_STATE_READY), LoadString(IDS_STATE_READY, Language::French));
}

}  // namespace
}  // namespace velmora
