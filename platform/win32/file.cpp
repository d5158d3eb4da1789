#include "platform/file.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/system_error.h"
#include "platform/win32/wide.h"

namespace velmora::platform {

namespace {

// 100-nanosecond intervals between 1601-01-01 (FILETIME) and 1970-01-01 (time_t).
constexpr int64_t UNIX_EPOCH_IN_FILE_TIME = 116444736000000000LL;
constexpr int64_t FILE_TIME_TICKS_PER_SECOND = 10000000LL;

CFileError ErrorFromCode(DWORD code) {
    CFileError error;
    error.Code = static_cast<int>(code);
    switch (code) {
        case ERROR_SUCCESS:
            error.Kind = FileErrorKind::None;
            break;
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            error.Kind = FileErrorKind::NotFound;
            break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            error.Kind = FileErrorKind::AlreadyExists;
            break;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            error.Kind = FileErrorKind::SharingViolation;
            break;
        default:
            error.Kind = FileErrorKind::Other;
    }
    return error;
}

CFileError LastError() {
    return ErrorFromCode(GetLastError());
}

HANDLE Handle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

}  // namespace

std::u16string CFileError::Description() const {
    return SystemErrorText(Code);
}

CNativeFile::~CNativeFile() {
    Close();
}

CFileError CNativeFile::Open(const std::u16string& path, unsigned flags) {
    Close();
    DWORD access = GENERIC_READ;
    if (flags & OPEN_READ_WRITE) {
        access = GENERIC_READ | GENERIC_WRITE;
    } else if (flags & OPEN_WRITE) {
        access = GENERIC_WRITE;
    }
    // An opener that names no sharing shares everything, deletion included, as on the other systems; an
    // exclusive holder still refuses it.
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (flags & SHARE_EXCLUSIVE) {
        share = 0;
    } else if (flags & SHARE_DENY_WRITE) {
        share = FILE_SHARE_READ;
    }
    DWORD disposition = OPEN_EXISTING;
    if (flags & OPEN_CREATE_NEW) {
        disposition = CREATE_NEW;
    } else if (flags & OPEN_CREATE) {
        disposition = (flags & OPEN_NO_TRUNCATE) ? OPEN_ALWAYS : CREATE_ALWAYS;
    }
    const HANDLE file =
        CreateFileW(Wide(path), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return LastError();
    NativeHandle = reinterpret_cast<std::intptr_t>(file);
    return {};
}

void CNativeFile::Close() {
    if (NativeHandle != -1) {
        CloseHandle(Handle(NativeHandle));
        NativeHandle = -1;
    }
}

long CNativeFile::Read(void* buffer, std::size_t size, CFileError* error) {
    std::size_t total = 0;
    while (total < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
        DWORD n = 0;
        if (!ReadFile(Handle(NativeHandle), static_cast<char*>(buffer) + total, chunk, &n, nullptr)) {
            if (error)
                *error = LastError();
            return -1;
        }
        if (n == 0)
            break;
        total += n;
    }
    return static_cast<long>(total);
}

CFileError CNativeFile::Write(const void* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size - total, 1u << 30));
        DWORD n = 0;
        if (!WriteFile(Handle(NativeHandle), static_cast<const char*>(data) + total, chunk, &n, nullptr))
            return LastError();
        total += n;
    }
    return {};
}

CFileError CNativeFile::Flush() {
    // A handle opened for reading only has nothing to flush; Windows refuses it with access denied.
    if (!FlushFileBuffers(Handle(NativeHandle)) && GetLastError() != ERROR_ACCESS_DENIED)
        return LastError();
    return {};
}

int64_t CNativeFile::Position() const {
    LARGE_INTEGER position = {};
    if (!SetFilePointerEx(Handle(NativeHandle), LARGE_INTEGER{}, &position, FILE_CURRENT))
        return -1;
    return position.QuadPart;
}

bool CNativeFile::Seek(int64_t position) {
    LARGE_INTEGER target = {};
    target.QuadPart = position;
    return position >= 0 && SetFilePointerEx(Handle(NativeHandle), target, nullptr, FILE_BEGIN);
}

bool CNativeFile::SeekToEnd() {
    return SetFilePointerEx(Handle(NativeHandle), LARGE_INTEGER{}, nullptr, FILE_END);
}

int64_t CNativeFile::Length() const {
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(Handle(NativeHandle), &size))
        return -1;
    return size.QuadPart;
}

bool CNativeFile::SetLength(int64_t length) {
    LARGE_INTEGER position = {};
    position.QuadPart = length;
    return SetFilePointerEx(Handle(NativeHandle), position, nullptr, FILE_BEGIN) &&
           SetEndOfFile(Handle(NativeHandle));
}

CFileError RemoveFile(const std::u16string& path) {
    return DeleteFileW(Wide(path)) ? CFileError{} : LastError();
}

CFileError RenameFile(const std::u16string& oldPath, const std::u16string& newPath, bool replaceExisting) {
    const DWORD flags = replaceExisting ? MOVEFILE_REPLACE_EXISTING : 0;
    return MoveFileExW(Wide(oldPath), Wide(newPath), flags) ? CFileError{} : LastError();
}

CFileError CreateFolder(const std::u16string& path) {
    return CreateDirectoryW(Wide(path), nullptr) ? CFileError{} : LastError();
}

bool FileExists(const std::u16string& path) {
    return GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

bool FileModificationTime(const std::u16string& path, std::time_t* time) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data))
        return false;
    ULARGE_INTEGER ticks = {};
    ticks.LowPart = data.ftLastWriteTime.dwLowDateTime;
    ticks.HighPart = data.ftLastWriteTime.dwHighDateTime;
    *time = static_cast<std::time_t>((static_cast<int64_t>(ticks.QuadPart) - UNIX_EPOCH_IN_FILE_TIME) /
                                     FILE_TIME_TICKS_PER_SECOND);
    return true;
}

bool SetFileModificationTime(const std::u16string& path, std::time_t time) {
    const HANDLE file =
        CreateFileW(Wide(path), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    ULARGE_INTEGER ticks = {};
    ticks.QuadPart = static_cast<ULONGLONG>(static_cast<int64_t>(time) * FILE_TIME_TICKS_PER_SECOND +
                                            UNIX_EPOCH_IN_FILE_TIME);
    FILETIME stamp = {ticks.LowPart, ticks.HighPart};
    const bool set = SetFileTime(file, nullptr, &stamp, &stamp);
    CloseHandle(file);
    return set;
}

void SyncFile(const std::u16string& path) {
    const HANDLE file =
        CreateFileW(Wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    FlushFileBuffers(file);
    CloseHandle(file);
}

bool SyncFileSystem(const std::u16string&) {
    // Flushing a whole volume needs administrator rights.
    return false;
}

std::vector<CFolderEntry> ListFolder(const std::u16string& path) {
    std::vector<CFolderEntry> entries;
    WIN32_FIND_DATAW found = {};
    const HANDLE search = FindFirstFileW(Wide(path + u"\\*"), &found);
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do {
        const std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
        if (name != u"." && name != u"..")
            entries.push_back({name, (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return entries;
}

std::u16string ProgramFilePath() {
    std::u16string path(MAX_PATH, u'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, Wide(path), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        // A full buffer means the name was cut short.
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768)
            return {};
        path.resize(path.size() * 2);
    }
}

std::u16string EnvironmentValue(const char* name) {
    std::u16string wideName;
    for (const char* c = name; *c; ++c)
        wideName.push_back(static_cast<unsigned char>(*c));
    const DWORD size = GetEnvironmentVariableW(Wide(wideName), nullptr, 0);
    if (size == 0)
        return {};
    std::u16string value(size, u'\0');
    const DWORD length = GetEnvironmentVariableW(Wide(wideName), Wide(value), size);
    if (length == 0 || length >= size)
        return {};
    value.resize(length);
    return value;
}

}  // namespace velmora::platform
