#include "core/my_file.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace velmora {

namespace {

void Wait(int32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void StoreError(const platform::CFileError& error, std::u16string* errorText, std::size_t errorCapacity) {
    if (!errorText)
        return;
    *errorText = error.Description();
    if (errorCapacity == 0) {
        errorText->clear();
    } else if (errorText->size() > errorCapacity - 1) {
        errorText->resize(errorCapacity - 1);
    }
}

// The retry loop shared by removal and rename; a missing file may count as success on the first attempt.
template <typename Operation>
bool RetryFileOperation(Operation operation, bool missingIsSuccess, int32_t attemptCount, int32_t waitMsec,
                        std::u16string* errorText, std::size_t errorCapacity) {
    platform::CFileError error = operation();
    if (!error || (missingIsSuccess && error.Kind == platform::FileErrorKind::NotFound))
        return true;
    StoreError(error, errorText, errorCapacity);
    for (int32_t attempts = 1; attempts < attemptCount;) {
        Wait(waitMsec);
        error = operation();
        if (!error)
            return true;
        if (++attempts == attemptCount)
            StoreError(error, errorText, errorCapacity);
    }
    return false;
}

}  // namespace

CMyFile::CMyFile(int32_t attemptCount, int32_t waitMsec)
    : AttemptCount(attemptCount > 1 ? attemptCount : 1), WaitMsec(waitMsec > 10 ? waitMsec : 10) {}

bool CMyFile::OpenWithRetry(const std::u16string& path, unsigned openFlags, platform::CFileError* error) {
    SetFilePath(path);
    platform::CFileError failure;
    for (int32_t attempt = 0; attempt < AttemptCount; ++attempt) {
        failure = Open(path, openFlags);
        if (!failure)
            return true;
        if (failure.Kind != platform::FileErrorKind::SharingViolation)
            break;
        Wait(WaitMsec);
    }
    if (error)
        *error = failure;
    return false;
}

long CMyFile::ReadLine(char* buffer, long capacity) {
    const int64_t start = Position();
    const long count = Read(buffer, static_cast<std::size_t>(capacity));
    if (count <= 0)
        return 0;
    const void* found = std::memchr(buffer, '\n', static_cast<std::size_t>(count));
    if (!found)
        return count;
    const long i = static_cast<const char*>(found) - buffer;
    if (i > 0 && buffer[i - 1] == '\r')
        buffer[i - 1] = 0;
    Seek(start + i + 1);
    return i + 1;
}

bool RemoveFileWithRetry(const std::u16string& path, int32_t attemptCount, int32_t waitMsec,
                         std::u16string* errorText, std::size_t errorCapacity) {
    return RetryFileOperation([&] { return platform::RemoveFile(path); }, true, attemptCount, waitMsec,
                              errorText, errorCapacity);
}

bool RenameFileWithRetry(const std::u16string& oldPath, const std::u16string& newPath, int32_t attemptCount,
                         int32_t waitMsec, std::u16string* errorText, std::size_t errorCapacity) {
    return RetryFileOperation([&] { return platform::RenameFile(oldPath, newPath, false); }, false,
                              attemptCount, waitMsec, errorText, errorCapacity);
}

std::u16string FolderOfFile(const std::u16string& path) {
    const std::size_t end = path.find_last_of(u"/\\");
    return end == std::u16string::npos ? std::u16string(u".") : path.substr(0, end);
}

bool ReplaceFileContent(const std::u16string& path, std::string_view content, int32_t attemptCount,
                        int32_t waitMsec, platform::CFileError* error) {
    platform::CFileError failure;
    {
        // Held without sharing while the new content is prepared, as other writers of the file expect.
        CMyFile current(attemptCount, waitMsec);
        if (!current.OpenWithRetry(path,
                                   platform::OPEN_READ_WRITE | platform::OPEN_CREATE |
                                       platform::OPEN_NO_TRUNCATE | platform::SHARE_EXCLUSIVE,
                                   &failure)) {
            if (error)
                *error = failure;
            return false;
        }
        const std::u16string temporary = path + u".new";
        platform::CNativeFile next;
        failure =
            next.Open(temporary, platform::OPEN_WRITE | platform::OPEN_CREATE | platform::SHARE_EXCLUSIVE);
        if (!failure)
            failure = next.Write(content.data(), content.size());
        if (!failure)
            failure = next.Flush();
        next.Close();
        current.Close();
        if (!failure)
            failure = platform::RenameFile(temporary, path, true);
        if (!failure)
            platform::SyncFile(FolderOfFile(path));
        if (failure) {
            platform::RemoveFile(temporary);
            if (error)
                *error = failure;
            return false;
        }
    }
    return true;
}

}  // namespace velmora
