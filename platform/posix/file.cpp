#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "platform/ansi.h"
#include "platform/posix/file_descriptor.h"
#include "platform/system_error.h"

namespace velmora::platform {

namespace {

std::string NativePath(const std::u16string& path) {
    return UnicodeToAnsi(path);
}

CFileError ErrorFromErrno(int code) {
    CFileError error;
    error.Code = code;
    switch (code) {
        case 0:
            error.Kind = FileErrorKind::None;
            break;
        case ENOENT:
        case ENOTDIR:
            error.Kind = FileErrorKind::NotFound;
            break;
        case EEXIST:
            error.Kind = FileErrorKind::AlreadyExists;
            break;
        default:
            error.Kind = FileErrorKind::Other;
    }
    return error;
}

CFileError SharingViolation() {
    return CFileError{FileErrorKind::SharingViolation, EWOULDBLOCK};
}

// A file that another opener holds without sharing cannot be deleted or renamed on Windows; the
// advisory lock taken by exclusive opens gives the same rule here. Returns the descriptor holding
// our own exclusive lock (or none when the file cannot be opened to check), or a sharing violation.
CFileDescriptor LockForRemoval(const std::string& path, CFileError* error) {
    CFileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.IsValid()) {
        if (errno == ENOENT || errno == ENOTDIR)
            *error = ErrorFromErrno(errno);
        return {};
    }
    if (flock(file.Get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            *error = SharingViolation();
        return {};
    }
    return file;
}

}  // namespace

std::u16string CFileError::Description() const {
    if (Kind == FileErrorKind::SharingViolation) {
        return u"The process cannot access the file because it is being used by another process.";
    }
    return SystemErrorText(Code);
}

CNativeFile::~CNativeFile() {
    Close();
}

CFileError CNativeFile::Open(const std::u16string& path, unsigned flags) {
    Close();
    int mode = O_RDONLY;
    if (flags & OPEN_READ_WRITE) {
        mode = O_RDWR;
    } else if (flags & OPEN_WRITE) {
        mode = O_WRONLY;
    }
    if (flags & OPEN_CREATE)
        mode |= O_CREAT;
    if (flags & OPEN_CREATE_NEW)
        mode |= O_CREAT | O_EXCL;
    CFileDescriptor file(open(NativePath(path).c_str(), mode | O_CLOEXEC, 0666));
    if (!file.IsValid())
        return ErrorFromErrno(errno);
    const int fd = file.Get();

    int lock = 0;
    if (flags & SHARE_EXCLUSIVE) {
        lock = LOCK_EX;
    } else if (flags & SHARE_DENY_WRITE) {
        lock = LOCK_SH;
    }
    // Even an opener that shares everything is refused while another holds the file exclusively.
    if (flock(fd, (lock ? lock : LOCK_SH) | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? SharingViolation() : ErrorFromErrno(errno);
    if (!lock)
        flock(fd, LOCK_UN);

    // Truncate only once the file is ours, never under another holder.
    if ((flags & OPEN_CREATE) && !(flags & OPEN_NO_TRUNCATE) && ftruncate(fd, 0) != 0)
        return ErrorFromErrno(errno);
    NativeHandle = file.Release();
    return {};
}

void CNativeFile::Close() {
    CFileDescriptor(static_cast<int>(std::exchange(NativeHandle, -1))).Close();
}

long CNativeFile::Read(void* buffer, std::size_t size, CFileError* error) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = read(NativeHandle, static_cast<char*>(buffer) + total, size - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (error)
                *error = ErrorFromErrno(errno);
            return -1;
        }
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    return static_cast<long>(total);
}

CFileError CNativeFile::Write(const void* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = write(NativeHandle, static_cast<const char*>(data) + total, size - total);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return ErrorFromErrno(errno);
        }
        total += static_cast<std::size_t>(n);
    }
    return {};
}

CFileError CNativeFile::Flush() {
    if (fsync(NativeHandle) != 0 && errno != EINVAL)
        return ErrorFromErrno(errno);
    return {};
}

int64_t CNativeFile::Position() const {
    return lseek(NativeHandle, 0, SEEK_CUR);
}

bool CNativeFile::Seek(int64_t position) {
    return lseek(NativeHandle, position, SEEK_SET) == position;
}

bool CNativeFile::SeekToEnd() {
    return lseek(NativeHandle, 0, SEEK_END) >= 0;
}

int64_t CNativeFile::Length() const {
    struct stat info {};
    if (fstat(NativeHandle, &info) != 0)
        return -1;
    return info.st_size;
}

bool CNativeFile::SetLength(int64_t length) {
    return ftruncate(NativeHandle, length) == 0;
}

CFileError RemoveFile(const std::u16string& path) {
    const std::string native = NativePath(path);
    CFileError error;
    const CFileDescriptor lock = LockForRemoval(native, &error);
    if (error)
        return error;
    return unlink(native.c_str()) == 0 ? CFileError{} : ErrorFromErrno(errno);
}

CFileError RenameFile(const std::u16string& oldPath, const std::u16string& newPath, bool replaceExisting) {
    const std::string from = NativePath(oldPath);
    const std::string to = NativePath(newPath);
    CFileError error;
    const CFileDescriptor lock = LockForRemoval(from, &error);
    if (error)
        return error;
    CFileDescriptor targetLock;
    if (replaceExisting) {
        targetLock = LockForRemoval(to, &error);
        if (error && error.Kind != FileErrorKind::NotFound)
            return error;
    }
    int result;
    if (replaceExisting) {
        result = rename(from.c_str(), to.c_str());
    } else {
        result = renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (result != 0 && errno == EINVAL) {
            // File systems without atomic no-replace renames: link, then unlink.
            result = link(from.c_str(), to.c_str());
            if (result == 0)
                unlink(from.c_str());
        }
    }
    return result == 0 ? CFileError{} : ErrorFromErrno(errno);
}

CFileError CreateFolder(const std::u16string& path) {
    if (mkdir(NativePath(path).c_str(), 0777) == 0)
        return {};
    return ErrorFromErrno(errno);
}

bool FileExists(const std::u16string& path) {
    struct stat info {};
    return stat(NativePath(path).c_str(), &info) == 0;
}

bool FileModificationTime(const std::u16string& path, std::time_t* time) {
    struct stat info {};
    if (stat(NativePath(path).c_str(), &info) != 0)
        return false;
    *time = info.st_mtime;
    return true;
}

bool SetFileModificationTime(const std::u16string& path, std::time_t time) {
    struct timespec times[2] = {{time, 0}, {time, 0}};
    return utimensat(AT_FDCWD, NativePath(path).c_str(), times, 0) == 0;
}

void SyncFile(const std::u16string& path) {
    const CFileDescriptor file(open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (file.IsValid())
        fsync(file.Get());
}

bool SyncFileSystem(const std::u16string& path) {
    const CFileDescriptor file(open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC));
    return file.IsValid() && syncfs(file.Get()) == 0;
}

std::vector<CFolderEntry> ListFolder(const std::u16string& path) {
    std::vector<CFolderEntry> entries;
    const std::string native = NativePath(path);
    const CFolderListing folder(opendir(native.c_str()));
    if (!folder)
        return entries;
    while (const dirent* entry = readdir(folder.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        const bool isFolder =
            stat((native + '/' + entry->d_name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
        entries.push_back({AnsiToUnicode(name), isFolder});
    }
    return entries;
}

std::u16string ProgramFilePath() {
    char buffer[PATH_MAX + 1] = {};
    const ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
    if (n <= 0)
        return {};
    return AnsiToUnicode(std::string_view(buffer, static_cast<std::size_t>(n)));
}

std::u16string EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value ? AnsiToUnicode(value) : std::u16string();
}

}  // namespace velmora::platform
