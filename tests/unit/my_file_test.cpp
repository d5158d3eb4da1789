// Files: the product's retrying opener, and the Linux platform layer's descriptor owner and read loop.
#include "core/my_file.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/file_descriptor.h"
#endif

#include <algorithm>
#include <cerrno>
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

TEST(CMyFileTest, ClampsAttemptsAndWait) {
    EXPECT_EQ(std::make_pair(CMyFile(0, 0).AttemptCount, CMyFile(0, 0).WaitMsec), std::make_pair(1, 10));
}

// Held by another process for a moment: waited out (failures: job_list_test, printer_config_test).
TEST(CMyFileTest, AFileHeldForAMomentIsWaitedOut) {
    TempFolder folder;
    const std::string path = folder.File("spool.list");
    test::WriteFile(path, "data");
    {
        ChildProcess holder(ToolPath("hold_file"), {path, "300"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        EXPECT_TRUE(CMyFile(500, 20).OpenWithRetry(U16(path), EXCLUSIVE_WRITE, nullptr));
    }
    ChildProcess holder(ToolPath("hold_file"), {path, "300"});
    ASSERT_TRUE(holder.WaitForLine("held"));
    EXPECT_TRUE(RemoveFileWithRetry(U16(path), 500, 20, nullptr, 0));
    EXPECT_FALSE(platform::FileExists(U16(path)));
    // A missing file is gone already: no waiting even with long waits.
    EXPECT_TRUE(RemoveFileWithRetry(U16(path), 100, 10000, nullptr, 0));
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

#ifndef _WIN32
using platform::CFileDescriptor;

// What one read from a pipe's read end (made non-blocking) tells about its write end.
enum class WriteEnd { Closed, Open };

WriteEnd StateOfWriteEnd(const CFileDescriptor& readEnd) {
    fcntl(readEnd.Get(), F_SETFL, O_NONBLOCK);
    char byte = 0;
    const ssize_t got = read(readEnd.Get(), &byte, 1);
    if (got == 0)
        return WriteEnd::Closed;
    EXPECT_TRUE(got < 0 && errno == EAGAIN) << got << " " << errno;
    return WriteEnd::Open;
}

struct Pipe {
    CFileDescriptor ReadEnd;
    CFileDescriptor WriteEnd;
    Pipe() { EXPECT_TRUE(platform::CreatePipe(&ReadEnd, &WriteEnd)) << errno; }
};

TEST(FileDescriptorTest, ClosesWhatItOwnsOnceAndMovesHandItOver) {
    Pipe pipe;
    ASSERT_TRUE(pipe.ReadEnd.IsValid());
    EXPECT_NE(fcntl(pipe.WriteEnd.Get(), F_GETFD) & FD_CLOEXEC, 0);
    { const CFileDescriptor owner(pipe.WriteEnd.Release()); }
    EXPECT_FALSE(pipe.WriteEnd.IsValid());
    EXPECT_EQ(StateOfWriteEnd(pipe.ReadEnd), WriteEnd::Closed);
    // Released: it stays open for the new owner.
    Pipe released;
    const int raw = released.WriteEnd.Release();
    EXPECT_EQ(StateOfWriteEnd(released.ReadEnd), WriteEnd::Open);
    EXPECT_EQ(close(raw), 0);
    // Moved, then closed by taking another descriptor; onto itself nothing changes; closing twice is fine.
    Pipe first;
    Pipe second;
    CFileDescriptor moved(std::move(first.WriteEnd));
    EXPECT_FALSE(first.WriteEnd.IsValid());
    EXPECT_EQ(StateOfWriteEnd(first.ReadEnd), WriteEnd::Open);
    moved = std::move(second.WriteEnd);
    EXPECT_EQ(StateOfWriteEnd(first.ReadEnd), WriteEnd::Closed);
    CFileDescriptor& same = moved;
    moved = std::move(same);
    EXPECT_EQ(StateOfWriteEnd(second.ReadEnd), WriteEnd::Open);
    EXPECT_TRUE(moved.Close());
    EXPECT_FALSE(moved.IsValid());
    EXPECT_TRUE(moved.Close());
    EXPECT_EQ(StateOfWriteEnd(second.ReadEnd), WriteEnd::Closed);
}

std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 251);
    return bytes;
}

// Around the read loop's 4096-byte piece, and far beyond it.
TEST(FileDescriptorTest, ReadsWholeFilesAndPipes) {
    test::TempFolder folder;
    for (const std::size_t size : {0u, 1u, 4095u, 4096u, 4097u, 100000u}) {
        const std::string content = Pattern(size);
        const std::string path = folder.File("file" + std::to_string(size));
        test::WriteFile(path, content);
        std::string read = "left over";
        EXPECT_TRUE(platform::ReadWholeFile(path, &read)) << size;
        EXPECT_TRUE(read == content) << size;
        // A pipe ends when its write end closes; what was there before is kept.
        Pipe pipe;
        ASSERT_EQ(write(pipe.WriteEnd.Get(), content.data(), std::min<std::size_t>(size, 4097)),
                  static_cast<ssize_t>(std::min<std::size_t>(size, 4097)));
        pipe.WriteEnd.Close();
        std::string piped = "before:";
        platform::ReadToEnd(pipe.ReadEnd.Get(), &piped);
        EXPECT_TRUE(piped == "before:" + content.substr(0, 4097)) << size;
    }
    std::string untouched = "kept";
    EXPECT_FALSE(platform::ReadWholeFile(folder.File("absent"), &untouched));
    EXPECT_EQ(untouched, "kept");
}
#endif

}  // namespace
}  // namespace velmora
