#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <thread>

#include "app/app.h"
#include "platform/file.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::TempFolder;
using test::U16;

std::string TodaysLogName() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char weekday[16];
    std::strftime(weekday, sizeof weekday, "%A", &local);  // the "C" locale's English names
    return weekday + std::string("_VelmoraVirtualPrinter_Log.txt");
}

class LogWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::SetEnvironment("VELMORA_BASE_FOLDER", folder_.Path());
        logs_ = folder_.File("Logs") + TempFolder::SEPARATOR;
    }
    void TearDown() override { test::UnsetEnvironment("VELMORA_BASE_FOLDER"); }
    // The message part of each line: what follows the date and time stamp.
    std::vector<std::string> Messages() {
        const std::string path = logs_ + TodaysLogName();
        const std::string content = ReadFile(path);
        EXPECT_TRUE(content.empty() || content.ends_with("\r\n")) << "the file must end with a complete line";
        return test::LogFileMessages(path);
    }
    // Today's log file as last week left it; returns its set-aside prefix ("Saved_" and that date).
    std::string WriteLastWeeksLog(const std::string& content) {
        EXPECT_TRUE(std::filesystem::create_directory(folder_.File("Logs")));
        const std::string current = logs_ + TodaysLogName();
        test::WriteFile(current, content);
        const std::time_t lastWeek = std::time(nullptr) - 7 * 24 * 3600;
        EXPECT_TRUE(platform::SetFileModificationTime(U16(current), lastWeek));
        std::tm then{};
        localtime_r(&lastWeek, &then);
        char saved[64];
        std::strftime(saved, sizeof saved, "Saved_%m_%d_%Y_", &then);
        return saved;
    }
    TempFolder folder_;
    std::string logs_;
    CVelmoraVirtualPrinterApp app_;
};

TEST_F(LogWriterTest, LinesAreStampedConvertedAndStripped) {
    app_.WriteLog(u"0\tdropped before the log file is chosen");
    ASSERT_TRUE(app_.SetUpWorkingFolders());
    // Each line is a 20-byte stamp, the message and CR LF; some messages keep line breaks of their own.
    // clang-format off
    const std::pair<std::u16string, std::string> lines[] = {
        {u"x\r\n", "x\r\n"}, {u"a\r\n\r\n", "a\r\n\r\n"}, {u"b\n\n\n", "b\n\r\n"},
        {u"cut\u0100here", "cut\r\n"}, {u"caf\u00e9 \u20ac", "caf\xe9 \x80\r\n"}, {u"", "\r\n"},
    };
    // clang-format on
    for (const auto& [message, expected] : lines)
        app_.WriteLog(message);
    const std::string content = ReadFile(logs_ + TodaysLogName());
    std::size_t position = 0;
    for (const auto& [message, expected] : lines) {
        std::string line = content.substr(position, 20 + expected.size());
        EXPECT_TRUE(test::StripLogStamp(&line)) << line;
        EXPECT_EQ(line, expected);
        position += 20 + expected.size();
    }
    EXPECT_EQ(position, content.size());
}

TEST_F(LogWriterTest, AFullLogDropsFurtherLines) {
    ASSERT_TRUE(app_.SetUpWorkingFolders());
    const std::string path = logs_ + TodaysLogName();
    ASSERT_FALSE(std::filesystem::exists(path));  // not created before the first line
    app_.WriteLog(u"first");
    std::filesystem::resize_file(path, 150000000);
    app_.WriteLog(u"still written at the limit");
    const std::uintmax_t size = 150000000 + 20 + std::string("still written at the limit").size() + 2;
    EXPECT_EQ(std::filesystem::file_size(path), size);
    app_.WriteLog(u"dropped past the limit");
    EXPECT_EQ(std::filesystem::file_size(path), size);
}

TEST_F(LogWriterTest, ALogHeldByAnotherProgramLosesTheLineUnlessItIsFreedAtOnce) {
    ASSERT_TRUE(app_.SetUpWorkingFolders());
    app_.WriteLog(u"before");
    {
        test::ChildProcess holder(test::ToolPath("hold_file"), {logs_ + TodaysLogName(), "60000"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        app_.WriteLog(u"lost");
    }
    app_.WriteLog(u"after");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"before", "after"}));
    // Held only for a moment, as another process holds it for one line: the line waits for it.
    {
        test::ChildProcess holder(test::ToolPath("hold_file"), {logs_ + TodaysLogName(), "30"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        app_.WriteLog(u"kept");
    }
    EXPECT_EQ(Messages(), (std::vector<std::string>{"before", "after", "kept"}));
}

TEST_F(LogWriterTest, LinesOfConcurrentThreadsNeverInterleave) {
    ASSERT_TRUE(app_.SetUpWorkingFolders());
    constexpr int LINES = 10000;
    const auto writer = [this](char16_t tag) {
        for (int i = 0; i < LINES; ++i)
            app_.WriteLog(std::u16string(40, tag));
    };
    std::thread a(writer, u'a');
    std::thread b(writer, u'b');
    a.join();
    b.join();
    const std::vector<std::string> messages = Messages();
    EXPECT_EQ(std::count(messages.begin(), messages.end(), std::string(40, 'a')), LINES);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), std::string(40, 'b')), LINES);
    EXPECT_EQ(messages.size(), 2u * LINES);
}

TEST_F(LogWriterTest, AFileOfAnEarlierDateIsSetAsideOnce) {
    const std::string current = logs_ + TodaysLogName();
    const std::string saved = WriteLastWeeksLog("last week\r\n");
    ASSERT_TRUE(app_.SetUpWorkingFolders());
    EXPECT_EQ(ReadFile(logs_ + saved + TodaysLogName()), "last week\r\n");
    EXPECT_FALSE(platform::FileExists(U16(current)));
    app_.WriteLog(u"new week");
    EXPECT_EQ(Messages(), std::vector<std::string>{"new week"});
    // A second start on the same day appends.
    CVelmoraVirtualPrinterApp again;
    ASSERT_TRUE(again.SetUpWorkingFolders());
    again.WriteLog(u"same day");
    EXPECT_EQ(Messages(), (std::vector<std::string>{"new week", "same day"}));
}

TEST_F(LogWriterTest, AFileThatCannotBeSetAsideKeepsReceivingLines) {
    const std::string saved = WriteLastWeeksLog("");
    test::WriteFile(logs_ + saved + TodaysLogName(), "an earlier set-aside file");
    ASSERT_TRUE(app_.SetUpWorkingFolders());
    app_.WriteLog(u"kept");
    EXPECT_EQ(Messages(), std::vector<std::string>{"kept"});
    EXPECT_EQ(ReadFile(logs_ + saved + TodaysLogName()), "an earlier set-aside file");
}

}  // namespace
}  // namespace velmora
