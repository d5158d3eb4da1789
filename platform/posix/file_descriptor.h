// Owners of POSIX descriptors and folder listings, and the read loop the platform layer uses for small
// files and pipes. Each owner is the only one to close what it holds, once, when it goes.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "platform/handle_owner.h"

namespace velmora::platform {

struct CFileDescriptorTraits {
    using HandleType = int;
    static constexpr int Invalid() { return -1; }
    // Not retried on EINTR: Linux releases the descriptor even then, and it may already be reused.
    static bool Close(int descriptor) { return close(descriptor) == 0; }
};
// One open descriptor (file, pipe end, socket, process descriptor).
using CFileDescriptor = CHandleOwner<CFileDescriptorTraits>;

// A new pipe with both ends close-on-exec, plus the extra flags (O_NONBLOCK); false with errno set.
bool CreatePipe(CFileDescriptor* readEnd, CFileDescriptor* writeEnd, int extraFlags = 0);

// Appends what the descriptor gives until its end (or a read failure, which ends the loop as well).
void ReadToEnd(int descriptor, std::string* content);
// The whole content of a small file (/proc and /sys entries, the service database's files); false when
// the file cannot be opened.
bool ReadWholeFile(const std::string& path, std::string* content);

// Waits up to the time for the descriptor to be readable (a signal does not cut the wait short); false on
// time-out or failure.
bool WaitForInput(int fd, int milliseconds);
// Sends every byte to a socket, without SIGPIPE when the peer has gone; false on failure.
bool SendAll(int fd, const void* data, std::size_t size);
// Reads exactly the size, waiting up to the time for each piece; false on time-out, failure or end.
bool ReadExactly(int descriptor, void* buffer, std::size_t size, int milliseconds);

// An open folder listing (opendir), closed with closedir.
struct CFolderCloser {
    void operator()(DIR* folder) const { closedir(folder); }
};
using CFolderListing = std::unique_ptr<DIR, CFolderCloser>;

}  // namespace velmora::platform
