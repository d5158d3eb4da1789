// Files as the rest of the system sees them: opened with Windows sharing rules, removed and renamed
// with "does not exist" told apart from other failures.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace velmora::platform {

enum class FileErrorKind {
    None,
    NotFound,          // the file (or a folder of its path) does not exist
    SharingViolation,  // another opener holds the file without sharing it
    AlreadyExists,
    Other,
};

struct CFileError {
    FileErrorKind Kind = FileErrorKind::None;
    int Code = 0;  // the system's error number

    explicit operator bool() const { return Kind != FileErrorKind::None; }
    // The system's description of the failure.
    std::u16string Description() const;
};

// Open flags, after the framework's file class.
enum FileOpenFlags : unsigned {
    OPEN_READ = 0x0000,
    OPEN_WRITE = 0x0001,
    OPEN_READ_WRITE = 0x0002,
    SHARE_EXCLUSIVE = 0x0010,   // nobody else may open the file while we hold it
    SHARE_DENY_WRITE = 0x0020,  // others may read it
    SHARE_DENY_NONE = 0x0040,
    OPEN_CREATE = 0x1000,  // create it when missing; truncate it unless OPEN_NO_TRUNCATE
    OPEN_NO_TRUNCATE = 0x2000,
    OPEN_CREATE_NEW = 0x4000,  // create the file; fails with AlreadyExists when it exists
};

// An open file. Exclusive opens hold an advisory lock that every opener of this system honours, so a
// second exclusive open (from this or another process) fails with a sharing violation, as on Windows.
class CNativeFile {
  public:
    CNativeFile() = default;
    ~CNativeFile();
    CNativeFile(const CNativeFile&) = delete;
    CNativeFile& operator=(const CNativeFile&) = delete;

    CFileError Open(const std::u16string& path, unsigned flags);
    bool IsOpen() const { return NativeHandle != -1; }
    void Close();

    // Bytes read (0 at the end of the file), or -1 with the error in *error.
    long Read(void* buffer, std::size_t size, CFileError* error = nullptr);
    // Writes everything or fails.
    CFileError Write(const void* data, std::size_t size);
    CFileError Flush();
    int64_t Position() const;
    bool Seek(int64_t position);
    bool SeekToEnd();
    int64_t Length() const;
    // Cuts the file to length bytes (or extends it with zeros).
    bool SetLength(int64_t length);

  private:
    // The descriptor, or the Windows file handle (whose invalid value is also -1).
    std::intptr_t NativeHandle = -1;
};

CFileError RemoveFile(const std::u16string& path);
// Fails with AlreadyExists when newPath exists, unless replaceExisting is set.
CFileError RenameFile(const std::u16string& oldPath, const std::u16string& newPath, bool replaceExisting);
// An existing folder is no error (the result then has kind AlreadyExists).
CFileError CreateFolder(const std::u16string& path);
bool FileExists(const std::u16string& path);
// Last modification time, or false when the file cannot be examined.
bool FileModificationTime(const std::u16string& path, std::time_t* time);
// Sets the last modification time (used to back-date files).
bool SetFileModificationTime(const std::u16string& path, std::time_t time);
// Makes what was written to the file durable (no-op where the system does that by itself). A folder's
// path makes its entries durable: files created, renamed or removed in it.
void SyncFile(const std::u16string& path);
// Makes everything written to the file system that holds the path durable, at once; false where the
// system cannot (the caller then syncs each file).
bool SyncFileSystem(const std::u16string& path);

// One name in a folder.
struct CFolderEntry {
    std::u16string Name;
    bool IsFolder = false;
};
// The entries of a folder, without "." and ".."; empty when it cannot be read.
std::vector<CFolderEntry> ListFolder(const std::u16string& path);

// The folder separator of this system's paths.
#ifdef _WIN32
inline constexpr char16_t PATH_SEPARATOR = u'\\';
#else
inline constexpr char16_t PATH_SEPARATOR = u'/';
#endif

// The full path of the running program file; empty when it cannot be obtained.
std::u16string ProgramFilePath();

// The value of an environment variable; empty when it is not set.
std::u16string EnvironmentValue(const char* name);

}  // namespace velmora::platform
