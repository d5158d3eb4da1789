// Owners of POSIX descriptors and folder listings, and the read loop the platform layer uses for small
// files and pipes. Each owner is the only one to close what it holds, once, when it goes.
#pragma once

#include <dirent.h>

#include <memory>
#include <string>

namespace velmora::platform {

// One open descriptor (file, pipe end, socket, process descriptor); -1 holds nothing.
class CFileDescriptor {
  public:
    CFileDescriptor() = default;
    explicit CFileDescriptor(int descriptor) noexcept : Descriptor(descriptor) {}
    ~CFileDescriptor() { Close(); }
    CFileDescriptor(CFileDescriptor&& other) noexcept : Descriptor(other.Release()) {}
    CFileDescriptor& operator=(CFileDescriptor&& other) noexcept;
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return Descriptor; }
    bool IsValid() const { return Descriptor >= 0; }
    // Gives the descriptor up without closing it.
    int Release() noexcept;
    // Closes the descriptor now: 0, or -1 with errno set when close reports a failure (a write that did
    // not reach the file). Not retried on EINTR: Linux releases the descriptor even then, and it may
    // already be reused. Closing nothing is no failure.
    int Close() noexcept;

  private:
    int Descriptor = -1;
};

// A new pipe with both ends close-on-exec, plus the extra flags (O_NONBLOCK); false with errno set.
bool CreatePipe(CFileDescriptor* readEnd, CFileDescriptor* writeEnd, int extraFlags = 0);

// Appends what the descriptor gives until its end (or a read failure, which ends the loop as well).
void ReadToEnd(int descriptor, std::string* content);
// The whole content of a small file (/proc and /sys entries, the service database's files); false when
// the file cannot be opened.
bool ReadWholeFile(const std::string& path, std::string* content);

// An open folder listing (opendir), closed with closedir.
struct CFolderCloser {
    void operator()(DIR* folder) const { closedir(folder); }
};
using CFolderListing = std::unique_ptr<DIR, CFolderCloser>;

}  // namespace velmora::platform
