#include "platform/posix/file_descriptor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace velmora::platform {

bool CreatePipe(CFileDescriptor* readEnd, CFileDescriptor* writeEnd, int extraFlags) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | extraFlags) != 0)
        return false;
    *readEnd = CFileDescriptor(ends[0]);
    *writeEnd = CFileDescriptor(ends[1]);
    return true;
}

void ReadToEnd(int descriptor, std::string* content) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        content->append(buffer, static_cast<std::size_t>(got));
    }
}

bool ReadWholeFile(const std::string& path, std::string* content) {
    const CFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsValid())
        return false;
    content->clear();
    ReadToEnd(file.Get(), content);
    return true;
}

}  // namespace velmora::platform
