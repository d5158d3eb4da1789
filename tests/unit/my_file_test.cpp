#include "core/my_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/test_util.h"

namespace velmora {
namespace {

using platform::FileErrorKind;
using test::ChildProcess;
using test::TempFolder;
using test::ToolPath;
using test::U16;

constexpr unsigned EXCLUSIVE_WRITE = platform::OPEN_READ_WRITE | platform::OPEN_CREATE |
                                     platform::OPEN_NO_TRUNCATE | platform::SHARE_EXCLUSIVE;

// ReadLine and RenameFileWithRetry are pinned through their only callers: printer_config_test, payload_test.
TEST(CMyFileTest, ClampsAttemptsAndWait) {
    EXPECT_EQ(std::make_pair(CMyFile(0, 0).AttemptCount, CMyFile(0, 0).WaitMsec), std::make_pair(1, 10));
    EXPECT_EQ(std::make_pair(CMyFile(5, 250).AttemptCount, CMyFile(5, 250).WaitMsec), std::make_pair(5, 250));
}

// Another process holds the file: opens and removals fail after their attempts with the system's
// description, and get through once it lets go within them.
TEST(CMyFileTest, AFileHeldByAnotherProcessIsWaitedOutOnlyAsLongAsTheAttemptsLast) {
    TempFolder folder;
    const std::string path = folder.File("spool.list");
    test::WriteFile(path, "data");
    platform::CFileError error;
    std::u16string text;
    {
        ChildProcess holder(ToolPath("hold_file"), {path, "60000"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        EXPECT_FALSE(CMyFile(3, 10).OpenWithRetry(U16(path), EXCLUSIVE_WRITE, &error));
        EXPECT_EQ(error.Kind, FileErrorKind::SharingViolation);
        EXPECT_NE(error.Description().find(test::SharingViolationText()), std::u16string::npos);
        EXPECT_FALSE(RemoveFileWithRetry(U16(path), 3, 10, &text, 1024));
        EXPECT_NE(text.find(test::SharingViolationText()), std::u16string::npos);
        EXPECT_FALSE(RemoveFileWithRetry(U16(path), 1, 10, &text, 8));
        EXPECT_EQ(text.size(), 7u);
        EXPECT_TRUE(platform::FileExists(U16(path)));
    }
    {
        ChildProcess holder(ToolPath("hold_file"), {path, "300"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        EXPECT_TRUE(CMyFile(500, 20).OpenWithRetry(U16(path), EXCLUSIVE_WRITE, &error));
    }
    ChildProcess holder(ToolPath("hold_file"), {path, "300"});
    ASSERT_TRUE(holder.WaitForLine("held"));
    EXPECT_TRUE(RemoveFileWithRetry(U16(path), 500, 20, nullptr, 0));
    EXPECT_FALSE(platform::FileExists(U16(path)));
    // A missing file is gone already: no waiting even with long waits.
    EXPECT_TRUE(RemoveFileWithRetry(U16(path), 100, 10000, &text, 1024));
}

TEST(CMyFileTest, SameProcessSharingAndOtherFailures) {
    TempFolder folder;
    const std::u16string path = U16(folder.File("Printer.cfg"));
    test::WriteFile(folder.File("Printer.cfg"), "old content");
    CMyFile first(1, 10);
    ASSERT_TRUE(first.OpenWithRetry(path, EXCLUSIVE_WRITE, nullptr));
    EXPECT_EQ(first.Length(), 11);  // not truncated
    CMyFile second(2, 10);
    platform::CFileError error;
    EXPECT_FALSE(second.OpenWithRetry(path, platform::OPEN_READ | platform::SHARE_DENY_NONE, &error));
    EXPECT_EQ(error.Kind, FileErrorKind::SharingViolation);
    first.Close();
    EXPECT_TRUE(second.OpenWithRetry(path, platform::OPEN_WRITE | platform::OPEN_CREATE, &error));
    EXPECT_EQ(test::ReadFile(folder.File("Printer.cfg")), "");
    // A thousand one-second waits would hang the test if a missing folder were retried.
    EXPECT_FALSE(CMyFile(1000, 1000).OpenWithRetry(U16(folder.File("missing/x")), EXCLUSIVE_WRITE, &error));
    EXPECT_EQ(error.Kind, FileErrorKind::NotFound);
    EXPECT_FALSE(error.Description().empty());
}

}  // namespace
}  // namespace velmora
