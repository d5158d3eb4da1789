#include "platform/process.h"

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <psapi.h>
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

// The main module's name without ".exe"; empty for a name without it.
std::u16string WithoutProgramExtension(const std::u16string& name) {
    constexpr std::u16string_view EXTENSION = u".exe";
    if (name.size() <= EXTENSION.size() || !name.ends_with(EXTENSION))
        return {};
    return name.substr(0, name.size() - EXTENSION.size());
}

// CreateProcessW without an application name, inheriting no handle, with a zeroed start-up record.
DWORD Launch(const std::u16string& commandLine, DWORD creationFlags, PROCESS_INFORMATION* started) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    // CreateProcessW may write into the command line it is given.
    std::u16string mutableLine = commandLine;
    if (!CreateProcessW(nullptr, Wide(mutableLine), nullptr, nullptr, FALSE, creationFlags, nullptr, nullptr,
                        &startup, started)) {
        return GetLastError();
    }
    return ERROR_SUCCESS;
}

}  // namespace

CProcess::~CProcess() {
    Close();
}

CProcess::Status CProcess::Poll() {
    if (Finished)
        return Status::Ended;
    if (!ProcessHandle)
        return Status::Unknown;
    if (!HasEnded(Handle(ProcessHandle)))
        return Status::Running;
    DWORD code = 0;
    if (!GetExitCodeProcess(Handle(ProcessHandle), &code))
        return Status::Unknown;
    Finished = true;
    ExitCode = code;
    return Status::Ended;
}

void CProcess::Close() {
    // Windows keeps no ended process waiting for its parent: letting go of the handle is all.
    if (ProcessHandle)
        CloseHandle(Handle(ProcessHandle));
    ProcessHandle = nullptr;
    Pid = -1;
    Finished = false;
    ExitCode = 0;
}

bool StartProcess(const std::u16string& commandLine, CProcess* process, int* error) {
    PROCESS_INFORMATION started = {};
    const DWORD failure = Launch(commandLine, 0, &started);
    if (failure != ERROR_SUCCESS) {
        *error = static_cast<int>(failure);
        return false;
    }
    CloseHandle(started.hThread);
    CProcess result;
    result.Pid = static_cast<int>(started.dwProcessId);
    result.ProcessHandle = started.hProcess;
    *process = std::move(result);
    return true;
}

uint32_t WaitForInputIdle(CProcess& process, uint32_t milliseconds) {
    if (!process.IsValid() || !process.ProcessHandle)
        return PROCESS_WAIT_FAILED;
    const DWORD result = ::WaitForInputIdle(Handle(process.ProcessHandle), milliseconds);
    // A program without a message queue (any console program) makes the wait fail at once.
    if (result == 0)
        return PROCESS_WAIT_READY;
    return result == WAIT_TIMEOUT ? PROCESS_WAIT_TIMEOUT : PROCESS_WAIT_FAILED;
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
    const HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (!process)
        return {};
    HMODULE mainModule = nullptr;
    DWORD needed = 0;
    wchar_t name[MAX_PATH] = {};
    DWORD length = 0;
    if (EnumProcessModules(process, &mainModule, sizeof mainModule, &needed))
        length = GetModuleBaseNameW(process, mainModule, name, MAX_PATH);
    CloseHandle(process);
    return length > 0 ? WithoutProgramExtension(FromWide(name, length)) : std::u16string();
}

}  // namespace velmora::platform
