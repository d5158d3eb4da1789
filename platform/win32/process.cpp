#include "platform/process.h"

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>
// clang-format on

#include "platform/win32/wide.h"

namespace velmora::platform {

namespace {

HANDLE Handle(void* handle) {
    return static_cast<HANDLE>(handle);
}

bool HasEnded(HANDLE process) {
    return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

// An inheritable copy of one of this process's standard handles for a started program; null when there is
// none to pass on.
HANDLE InheritableCopy(DWORD which) {
    const HANDLE original = GetStdHandle(which);
    if (original == nullptr || original == INVALID_HANDLE_VALUE)
        return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, TRUE,
                         DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return copy;
}

std::u16string WithoutProgramExtension(std::u16string name) {
    if (name.size() > 4) {
        std::u16string extension = name.substr(name.size() - 4);
        for (char16_t& c : extension) {
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c - u'A' + u'a');
        }
        if (extension == u".exe")
            name.resize(name.size() - 4);
    }
    return name;
}

// Runs the command line with standard input on the null device and this process's standard output and
// error. Only these three handles are inherited, whatever else this process holds inheritable.
DWORD Launch(const std::u16string& commandLine, DWORD creationFlags, PROCESS_INFORMATION* started) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    const HANDLE nullDevice = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const HANDLE output = InheritableCopy(STD_OUTPUT_HANDLE);
    const HANDLE errors = InheritableCopy(STD_ERROR_HANDLE);
    HANDLE inherited[3];
    DWORD inheritedCount = 0;
    for (const HANDLE handle : {nullDevice, output, errors}) {
        if (handle && handle != INVALID_HANDLE_VALUE)
            inherited[inheritedCount++] = handle;
    }

    SIZE_T attributeSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<char> attributeBuffer(attributeSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeBuffer.data());
    DWORD failure = ERROR_SUCCESS;
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize)) {
        failure = GetLastError();
        attributes = nullptr;
    } else if (inheritedCount > 0 &&
               !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                          inheritedCount * sizeof(HANDLE), nullptr, nullptr)) {
        failure = GetLastError();
    }

    if (failure == ERROR_SUCCESS) {
        STARTUPINFOEXW startup = {};
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdInput = nullDevice != INVALID_HANDLE_VALUE ? nullDevice : nullptr;
        startup.StartupInfo.hStdOutput = output;
        startup.StartupInfo.hStdError = errors;
        startup.lpAttributeList = attributes;
        // CreateProcessW may write into the command line it is given.
        std::u16string mutableLine = commandLine;
        if (!CreateProcessW(nullptr, Wide(mutableLine), nullptr, nullptr, inheritedCount > 0,
                            creationFlags | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                            &startup.StartupInfo, started)) {
            failure = GetLastError();
        }
    }
    if (attributes)
        DeleteProcThreadAttributeList(attributes);
    for (DWORD i = 0; i < inheritedCount; ++i)
        CloseHandle(inherited[i]);
    return failure;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine) {
    std::vector<std::u16string> arguments;
    // CommandLineToArgvW gives the running program's own path for an empty line.
    if (commandLine.empty())
        return arguments;
    int count = 0;
    wchar_t** split = CommandLineToArgvW(Wide(commandLine), &count);
    if (!split)
        return arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(FromWide(split[i]));
    LocalFree(split);
    return arguments;
}

Process::~Process() {
    Close();
}

Process::Process(Process&& other) noexcept
    : pid_(other.pid_), ended_(other.ended_), exitCode_(other.exitCode_), handle_(other.handle_) {
    other.pid_ = -1;
    other.ended_ = false;
    other.handle_ = nullptr;
}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Close();
        pid_ = other.pid_;
        ended_ = other.ended_;
        exitCode_ = other.exitCode_;
        handle_ = other.handle_;
        other.pid_ = -1;
        other.ended_ = false;
        other.handle_ = nullptr;
    }
    return *this;
}

Process::Status Process::Poll() {
    if (ended_)
        return Status::Ended;
    if (!handle_)
        return Status::Unknown;
    if (!HasEnded(Handle(handle_)))
        return Status::Running;
    DWORD code = 0;
    if (!GetExitCodeProcess(Handle(handle_), &code))
        return Status::Unknown;
    ended_ = true;
    exitCode_ = code;
    return Status::Ended;
}

void Process::Close() {
    // Windows keeps no ended process waiting for its parent: letting go of the handle is all.
    if (handle_)
        CloseHandle(Handle(handle_));
    handle_ = nullptr;
    pid_ = -1;
    ended_ = false;
    exitCode_ = 0;
}

bool StartProcess(const std::u16string& commandLine, Process* process, int* error) {
    const std::vector<std::u16string> arguments = SplitCommandLine(commandLine);
    if (arguments.empty() || arguments[0].empty()) {
        *error = ERROR_FILE_NOT_FOUND;
        return false;
    }
    PROCESS_INFORMATION started = {};
    const DWORD failure = Launch(commandLine, 0, &started);
    if (failure != ERROR_SUCCESS) {
        *error = static_cast<int>(failure);
        return false;
    }
    CloseHandle(started.hThread);
    Process result;
    result.pid_ = static_cast<int>(started.dwProcessId);
    result.handle_ = started.hProcess;
    *process = std::move(result);
    return true;
}

uint32_t WaitForInputIdle(Process& process, uint32_t milliseconds) {
    if (!process.IsValid() || !process.handle_)
        return kWaitFailed;
    const DWORD result = ::WaitForInputIdle(Handle(process.handle_), milliseconds);
    if (result == 0)
        return kWaitReady;
    if (result == WAIT_TIMEOUT)
        return kWaitTimeout;
    // A program that has already ended waits for nothing any more.
    if (HasEnded(Handle(process.handle_)))
        return kWaitReady;
    return kWaitFailed;
}

bool GetExitCode(Process& process, uint32_t* exitCode) {
    if (!process.IsValid())
        return false;
    switch (process.Poll()) {
        case Process::Status::Running:
            *exitCode = kStillActive;
            return true;
        case Process::Status::Ended:
            *exitCode = process.exitCode_;
            return true;
        case Process::Status::Unknown:
            break;
    }
    return false;
}

bool TerminateProcessTree(ProcessId processId, uint32_t milliseconds) {
    // The system's own processes are never ours to close.
    if (processId <= 4)
        return true;
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    // TASKKILL without /F asks each process of the tree to close; it forces nothing.
    std::u16string commandLine = u"\"" + FromWide(system, length) + u"\\taskkill.exe\" /PID " +
                                 FromWide(std::to_wstring(processId).c_str()) + u" /T";
    PROCESS_INFORMATION taskkill = {};
    if (Launch(commandLine, CREATE_NO_WINDOW, &taskkill) != ERROR_SUCCESS)
        return false;
    // Its exit code tells whether a process was there to ask; one that is already gone is no failure.
    const bool finished = WaitForSingleObject(taskkill.hProcess, milliseconds) == WAIT_OBJECT_0;
    CloseHandle(taskkill.hThread);
    CloseHandle(taskkill.hProcess);
    return finished;
}

std::vector<ProcessId> ListProcesses() {
    std::vector<DWORD> ids(1024);
    for (;;) {
        DWORD bytes = 0;
        const auto capacity = static_cast<DWORD>(ids.size() * sizeof(DWORD));
        if (!EnumProcesses(ids.data(), capacity, &bytes))
            return {};
        // A full buffer may have cut the list short.
        if (bytes < capacity) {
            ids.resize(bytes / sizeof(DWORD));
            break;
        }
        ids.resize(ids.size() * 2);
    }
    return std::vector<ProcessId>(ids.begin(), ids.end());
}

std::u16string ProcessBaseName(ProcessId processId) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process) {
        wchar_t name[MAX_PATH] = {};
        const DWORD length = GetModuleBaseNameW(process, nullptr, name, MAX_PATH);
        CloseHandle(process);
        if (length > 0)
            return WithoutProgramExtension(FromWide(name, length));
    }
    // Another user's process may not be read; the name of its program file may.
    process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return {};
    wchar_t path[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    const bool named = QueryFullProcessImageNameW(process, 0, path, &size);
    CloseHandle(process);
    if (!named)
        return {};
    std::u16string full = FromWide(path, size);
    return WithoutProgramExtension(full.substr(full.find_last_of(u"\\/") + 1));
}

}  // namespace velmora::platform
