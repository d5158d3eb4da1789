// The descriptor owner of the Linux platform layer, on real pipes and files: what it closes, when, and
// what it gives up; and the read loop the layer reads small files and pipes with.
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

TEST(FileDescriptorTest, ClosesWhatItOwnsOnceAndOnlyThat) {
    Pipe pipe;
    ASSERT_TRUE(pipe.ReadEnd.IsValid());
    EXPECT_NE(fcntl(pipe.WriteEnd.Get(), F_GETFD) & FD_CLOEXEC, 0);

    // Destroyed: the descriptor is closed.
    { const CFileDescriptor owner(pipe.WriteEnd.Release()); }
    EXPECT_FALSE(pipe.WriteEnd.IsValid());
    EXPECT_EQ(StateOfWriteEnd(pipe.ReadEnd), WriteEnd::Closed);

    // Released: it stays open for the new owner.
    Pipe released;
    const int raw = released.WriteEnd.Release();
    EXPECT_EQ(StateOfWriteEnd(released.ReadEnd), WriteEnd::Open);
    EXPECT_EQ(close(raw), 0);
    EXPECT_EQ(StateOfWriteEnd(released.ReadEnd), WriteEnd::Closed);

    // Closed on request, and nothing more to close afterwards.
    Pipe closed;
    EXPECT_TRUE(closed.WriteEnd.Close());
    EXPECT_FALSE(closed.WriteEnd.IsValid());
    EXPECT_TRUE(closed.WriteEnd.Close());
    EXPECT_EQ(StateOfWriteEnd(closed.ReadEnd), WriteEnd::Closed);
}

TEST(FileDescriptorTest, MovesHandOverTheDescriptor) {
    Pipe first;
    Pipe second;
    CFileDescriptor moved(std::move(first.WriteEnd));
    EXPECT_FALSE(first.WriteEnd.IsValid());
    EXPECT_EQ(StateOfWriteEnd(first.ReadEnd), WriteEnd::Open);

    // Taking another descriptor closes the one held until then.
    moved = std::move(second.WriteEnd);
    EXPECT_EQ(StateOfWriteEnd(first.ReadEnd), WriteEnd::Closed);
    EXPECT_EQ(StateOfWriteEnd(second.ReadEnd), WriteEnd::Open);

    // Onto itself: nothing changes.
    CFileDescriptor& same = moved;
    moved = std::move(same);
    EXPECT_TRUE(moved.IsValid());
    EXPECT_EQ(StateOfWriteEnd(second.ReadEnd), WriteEnd::Open);
    moved.Close();
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
