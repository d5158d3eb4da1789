// Retrying file operations for the list, configuration and spool files. Another process holding a file
// without sharing it is a passing condition: opens, removals and renames wait it out a few times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/file.h"

namespace velmora {

// A file that another program holds is not waited for: one attempt, with the shortest wait.
inline constexpr int32_t FILE_SINGLE_ATTEMPT = 1;
inline constexpr int32_t FILE_MIN_WAIT_MSEC = 10;

class CMyFile : public platform::CNativeFile {
  public:
    // At least one attempt, at least 10 ms between attempts.
    CMyFile(int32_t attemptCount, int32_t waitMsec);
    virtual ~CMyFile() = default;

    // Opens like CNativeFile::Open, retrying only on sharing violations; *error receives the last failure.
    bool OpenWithRetry(const std::u16string& path, unsigned openFlags, platform::CFileError* error);

    // Reads up to capacity bytes and stops after the first line feed. A line ending in CR LF has its CR
    // replaced by a zero byte; a bare LF is kept. Returns the bytes consumed, 0 at the end of the file.
    // The caller zero-fills the buffer (capacity + 1 bytes) before each call.
    long ReadLine(char* buffer, long capacity);

    const std::u16string& FilePath() const { return OpenedFilePath; }

    int32_t AttemptCount;
    int32_t WaitMsec;

  protected:
    virtual void SetFilePath(const std::u16string& path) { OpenedFilePath = path; }

  private:
    std::u16string OpenedFilePath;
};

// True when the file is gone; a missing file counts as gone on the first attempt only. errorText, when
// given, receives the system's description of the failure (at most errorCapacity - 1 characters).
bool RemoveFileWithRetry(const std::u16string& path, int32_t attemptCount, int32_t waitMsec,
                         std::u16string* errorText, std::size_t errorCapacity);
// True when renamed; an existing newPath is not replaced.
bool RenameFileWithRetry(const std::u16string& oldPath, const std::u16string& newPath, int32_t attemptCount,
                         int32_t waitMsec, std::u16string* errorText, std::size_t errorCapacity);

// The folder of a file's path (without its last separator); "." for a bare name.
std::u16string FolderOfFile(const std::u16string& path);

// Replaces the whole content of a list or configuration file so that a crash, a full disk or a failed
// write never leaves it half written: the content goes to a new file beside it, which is made durable and
// then renamed over the old one. The old file is opened first without sharing, with the retries of
// CMyFile, so that another holder is waited out as for any other open. On failure the old file is left
// exactly as it was and *error tells why.
bool ReplaceFileContent(const std::u16string& path, std::string_view content, int32_t attemptCount,
                        int32_t waitMsec, platform::CFileError* error);

}  // namespace velmora
