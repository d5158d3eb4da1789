// The descriptor owner of the Linux platform layer and its read loop, on real pipes and files.
#ifndef _WIN32

#include "platform/posix/file_descriptor.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "support/test_util.h"

namespace velmora {
namespace {

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

}  // namespace
}  // namespace velmora

#endif
