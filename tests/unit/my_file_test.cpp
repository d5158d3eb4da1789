#include "core/my_file.h"

#include <gtest/gtest.h>

#include <cstring>

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

TEST(CMyFileTest, ClampsAttemptsAndWait) {
    const CMyFile none(0, 0);
    EXPECT_EQ(none.AttemptCount, 1);
    EXPECT_EQ(none.WaitMsec, 10);
    const CMyFile some(5, 250);
    EXPECT_EQ(some.AttemptCount, 5);
    EXPECT_EQ(some.WaitMsec, 250);
}

TEST(CMyFileTest, OpenWaitsOutAnotherProcessOnlyAsLongAsItsAttemptsLast) {
    TempFolder folder;
    const std::string path = folder.File("spool.list");
    platform::CFileError error;

    {
        ChildProcess holder(ToolPath("hold_file"), {path, "60000"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        CMyFile few(3, 10);
        EXPECT_FALSE(few.OpenWithRetry(U16(path), EXCLUSIVE_WRITE, &error));
        EXPECT_EQ(error.Kind, FileErrorKind::SharingViolation);
        EXPECT_NE(error.Description().find(test::SharingViolationText()), std::u16string::npos);
    }
    {
        ChildProcess holder(ToolPath("hold_file"), {path, "300"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        CMyFile many(500, 20);  // up to ten seconds: far more than the holder keeps the file
        EXPECT_TRUE(many.OpenWithRetry(U16(path), EXCLUSIVE_WRITE, &error));
        EXPECT_EQ(holder.Wait(), 0);
    }
}

TEST(CMyFileTest, SecondExclusiveOpenInTheSameProcessIsASharingViolation) {
    TempFolder folder;
    const std::u16string path = U16(folder.File("Printer.cfg"));
    CMyFile first(1, 10);
    ASSERT_TRUE(first.OpenWithRetry(path, EXCLUSIVE_WRITE, nullptr));
    CMyFile second(2, 10);
    platform::CFileError error;
    EXPECT_FALSE(second.OpenWithRetry(path, platform::OPEN_READ | platform::SHARE_DENY_NONE, &error));
    EXPECT_EQ(error.Kind, FileErrorKind::SharingViolation);
    first.Close();
    EXPECT_TRUE(second.OpenWithRetry(path, platform::OPEN_READ | platform::SHARE_DENY_NONE, &error));
}

TEST(CMyFileTest, OtherFailuresAreNotRetried) {
    TempFolder folder;
    // A thousand one-second waits would hang the test if a missing folder were retried.
    CMyFile file(1000, 1000);
    platform::CFileError error;
    EXPECT_FALSE(file.OpenWithRetry(U16(folder.File("missing/spool.list")), EXCLUSIVE_WRITE, &error));
    EXPECT_EQ(error.Kind, FileErrorKind::NotFound);
    EXPECT_FALSE(error.Description().empty());
}

TEST(CMyFileTest, CreateTruncatesOnlyWhenAsked) {
    TempFolder folder;
    const std::string path = folder.File("list");
    test::WriteFile(path, "old content");
    {
        CMyFile file(1, 10);
        ASSERT_TRUE(file.OpenWithRetry(U16(path), EXCLUSIVE_WRITE, nullptr));
        EXPECT_EQ(file.Length(), 11);
    }
    {
        CMyFile file(1, 10);
        ASSERT_TRUE(file.OpenWithRetry(U16(path), platform::OPEN_WRITE | platform::OPEN_CREATE, nullptr));
    }
    EXPECT_EQ(test::ReadFile(path), "");
}

// Reads every line of a file the way the configuration reader does.
std::vector<std::pair<long, std::string>> ReadLines(const std::string& content, long capacity) {
    TempFolder folder;
    test::WriteFile(folder.File("f"), content);
    CMyFile file(1, 10);
    EXPECT_TRUE(file.OpenWithRetry(U16(folder.File("f")), platform::OPEN_READ, nullptr));
    std::vector<std::pair<long, std::string>> lines;
    std::vector<char> buffer(static_cast<std::size_t>(capacity) + 1);
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const long n = file.ReadLine(buffer.data(), capacity);
        if (n == 0)
            break;
        lines.emplace_back(n, std::string(buffer.data()));
    }
    return lines;
}

TEST(CMyFileTest, ReadLineEndsLinesAtLineFeeds) {
    using Lines = std::vector<std::pair<long, std::string>>;
    // CR LF: the CR becomes the terminator and the position moves past the LF.
    EXPECT_EQ(ReadLines("AB\r\nCD", 100), (Lines{{4, "AB"}, {2, "CD"}}));
    // A bare LF is kept, and so is what was read after it, but the next read starts after the LF.
    EXPECT_EQ(ReadLines("AB\nCD\r\n", 100), (Lines{{3, "AB\nCD\r\n"}, {4, "CD"}}));
    // A line longer than the buffer is returned in pieces.
    EXPECT_EQ(ReadLines("ABCDEF\r\n", 4), (Lines{{4, "ABCD"}, {4, "EF"}}));
    EXPECT_EQ(ReadLines("", 10), Lines{});
}

TEST(CMyFileTest, RemoveFileWithRetry) {
    TempFolder folder;
    const std::string path = folder.File("job.tmp");
    std::u16string error;

    // A missing file is gone already: no waiting even with long waits.
    EXPECT_TRUE(RemoveFileWithRetry(U16(path), 100, 10000, &error, 1024));

    test::WriteFile(path, "data");
    {
        ChildProcess holder(ToolPath("hold_file"), {path, "60000"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        EXPECT_FALSE(RemoveFileWithRetry(U16(path), 3, 10, &error, 1024));
        EXPECT_NE(error.find(test::SharingViolationText()), std::u16string::npos);
        EXPECT_TRUE(platform::FileExists(U16(path)));
        EXPECT_FALSE(RemoveFileWithRetry(U16(path), 1, 10, &error, 8));
        EXPECT_EQ(error.size(), 7u);
    }
    EXPECT_TRUE(RemoveFileWithRetry(U16(path), 1, 10, nullptr, 0));
    EXPECT_FALSE(platform::FileExists(U16(path)));
}

TEST(CMyFileTest, RemoveFileWithRetrySucceedsOnceTheHolderLetsGo) {
    TempFolder folder;
    const std::string path = folder.File("job.tmp");
    test::WriteFile(path, "data");
    ChildProcess holder(ToolPath("hold_file"), {path, "300"});
    ASSERT_TRUE(holder.WaitForLine("held"));
    EXPECT_TRUE(RemoveFileWithRetry(U16(path), 500, 20, nullptr, 0));
    EXPECT_FALSE(platform::FileExists(U16(path)));
}

TEST(CMyFileTest, RenameFileWithRetry) {
    TempFolder folder;
    const std::u16string from = U16(folder.File("a.tmp"));
    const std::u16string to = U16(folder.File("a.pdf"));
    std::u16string error;

    // Unlike removal, a missing file is a failure, with its description.
    EXPECT_FALSE(RenameFileWithRetry(from, to, 2, 10, &error, 1024));
    EXPECT_FALSE(error.empty());

    test::WriteFile(folder.File("a.tmp"), "new");
    test::WriteFile(folder.File("a.pdf"), "existing");
    EXPECT_FALSE(RenameFileWithRetry(from, to, 1, 10, &error, 1024));
    EXPECT_EQ(test::ReadFile(folder.File("a.pdf")), "existing");

    platform::RemoveFile(to);
    EXPECT_TRUE(RenameFileWithRetry(from, to, 1, 10, &error, 1024));
    EXPECT_EQ(test::ReadFile(folder.File("a.pdf")), "new");
    EXPECT_FALSE(platform::FileExists(from));
}

}  // namespace
}  // namespace velmora
