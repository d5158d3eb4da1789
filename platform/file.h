// Files as the rest of the system sees them: opened with Windows sharing rules, removed and renamed
// with "does not exist" told apart from other failures.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace velmora::platform {

enum class FileErrorKind {
    None,
    NotFound,          // the file (or a folder of its path) does not exist
    SharingViolation,  // another opener holds the file without sharing it
    AlreadyExists,
    Other,
};

struct FileError {
    FileErrorKind kind = FileErrorKind::None;
    int code = 0;  // the system's error number

    explicit operator bool() const { return kind != FileErrorKind::None; }
    // The system's description of the failure.
    std::u16string Description() const;
};

// Open flags, after the framework's file class.
enum FileOpenFlags : unsigned {
    kOpenRead = 0x0000,
    kOpenWrite = 0x0001,
    kOpenReadWrite = 0x0002,
    kShareExclusive = 0x0010,  // nobody else may open the file while we hold it
    kShareDenyWrite = 0x0020,  // others may read it
    kShareDenyNone = 0x0040,
    kOpenCreate = 0x1000,  // create it when missing; truncate it unless kOpenNoTruncate
    kOpenNoTruncate = 0x2000,
    kOpenCreateNew = 0x4000,  // create the file; fails with AlreadyExists when it exists
};

// An open file. Exclusive opens hold an advisory lock that every opener of this system honours, so a
// second exclusive open (from this or another process) fails with a sharing violation, as on Windows.
class NativeFile {
  public:
    NativeFile() = default;
    ~NativeFile();
    NativeFile(const NativeFile&) = delete;
    NativeFile& operator=(const NativeFile&) = delete;

    FileError Open(const std::u16string& path, unsigned flags);
    bool IsOpen() const { return handle_ != -1; }
    void Close();

    // Bytes read (0 at the end of the file), or -1 with the error in *error.
    long Read(void* buffer, std::size_t size, FileError* error = nullptr);
    // Writes everything or fails.
    FileError Write(const void* data, std::size_t size);
    FileError Flush();
    int64_t Position() const;
    bool Seek(int64_t position);
    bool SeekToEnd();
    int64_t Length() const;

  private:
    // The descriptor, or the Windows file handle (whose invalid value is also -1).
    std::intptr_t handle_ = -1;
};

FileError RemoveFile(const std::u16string& path);
// Fails with AlreadyExists when newPath exists, unless replaceExisting is set.
FileError RenameFile(const std::u16string& oldPath, const std::u16string& newPath, bool replaceExisting);
// An existing folder is no error (the result then has kind AlreadyExists).
FileError CreateFolder(const std::u16string& path);
bool FileExists(const std::u16string& path);
// Last modification time, or false when the file cannot be examined.
bool FileModificationTime(const std::u16string& path, std::time_t* time);
// Sets the last modification time (used to back-date files).
bool SetFileModificationTime(const std::u16string& path, std::time_t time);
// Makes what was written to the file durable (no-op where the system does that by itself).
void SyncFile(const std::u16string& path);

// The folder separator of this system's paths.
#ifdef _WIN32
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// The full path of the running program file; empty when it cannot be obtained.
std::u16string ProgramFilePath();

// The value of an environment variable; empty when it is not set.
std::u16string EnvironmentValue(const char* name);

}  // namespace velmora::platform
