// Child processes of the tests on Windows: CreateProcessW with the output read through an anonymous pipe.
#include <windows.h>

#include <algorithm>
#include <stdexcept>

#include "platform/ansi.h"
#include "platform/process.h"
#include "support/test_util.h"

namespace velmora::test {

namespace {

std::wstring Widen(const std::string& text) {
    const std::u16string wide = platform::AnsiToUnicode(text);
    return {wide.begin(), wide.end()};
}

// This process's environment with the NAME=value entries added or replaced (names ignore case), as the
// double-null-terminated block CreateProcessW takes.
std::wstring EnvironmentBlock(const std::vector<std::string>& additions) {
    std::vector<std::wstring> variables;
    if (wchar_t* strings = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = strings; *entry; entry += wcslen(entry) + 1)
            variables.emplace_back(entry);
        FreeEnvironmentStringsW(strings);
    }
    for (const std::string& addition : additions) {
        const std::wstring entry = Widen(addition);
        const std::wstring name = entry.substr(0, entry.find(L'=') + 1);
        std::erase_if(variables, [&](const std::wstring& variable) {
            return variable.size() >= name.size() &&
                   CompareStringOrdinal(variable.c_str(), static_cast<int>(name.size()), name.c_str(),
                                        static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
        });
        variables.push_back(entry);
    }
    std::wstring block;
    for (const std::wstring& variable : variables)
        block += variable + L'\0';
    return block + L'\0';
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                           const Options& options) {
    if (options.PrintChannels)
        throw std::runtime_error("print channels exist on Linux only");
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        throw std::runtime_error("CreatePipe failed");
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const std::wstring inputName = options.Input.empty() ? std::wstring(L"NUL") : Widen(options.Input);
    HANDLE input = CreateFileW(inputName.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               &inheritable, OPEN_EXISTING, 0, nullptr);
    HANDLE errors = options.CaptureErrors ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);

    std::u16string line = platform::QuoteArgument(platform::AnsiToUnicode(program));
    for (const std::string& argument : arguments)
        line += u" " + platform::QuoteArgument(platform::AnsiToUnicode(argument));
    std::wstring commandLine(line.begin(), line.end());
    std::wstring block = EnvironmentBlock(options.Environment);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = writeEnd;
    startup.hStdError = errors;
    PROCESS_INFORMATION started{};
    const BOOL created =
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                       block.data(), nullptr, &startup, &started);
    CloseHandle(writeEnd);
    if (input != INVALID_HANDLE_VALUE)
        CloseHandle(input);
    if (!created) {
        CloseHandle(readEnd);
        throw std::runtime_error("CreateProcessW failed for " + program);
    }
    CloseHandle(started.hThread);
    process_ = started.hProcess;
    outputPipe_ = readEnd;
    pid_ = static_cast<pid_t>(started.dwProcessId);
}

ChildProcess::~ChildProcess() {
    Kill(SIGKILL);
    Wait();
    if (process_)
        CloseHandle(process_);
    if (outputPipe_)
        CloseHandle(outputPipe_);
}

long ChildProcess::ReadOutput(char* buffer, std::size_t size) {
    DWORD n = 0;
    if (!::ReadFile(outputPipe_, buffer, static_cast<DWORD>(size), &n, nullptr))
        return 0;
    return static_cast<long>(n);
}

int ChildProcess::RunToEnd(int milliseconds, std::string* output) {
    std::string all = pending_;
    pending_.clear();
    // Reads while the child runs, as on Linux: the pipe's buffer is small.
    const auto drain = [&] {
        char buffer[4096];
        DWORD n = 0;
        while (PeekNamedPipe(outputPipe_, nullptr, 0, nullptr, &n, nullptr) && n > 0 &&
               ::ReadFile(outputPipe_, buffer, std::min<DWORD>(n, sizeof buffer), &n, nullptr) && n > 0)
            all.append(buffer, n);
    };
    const bool ended =
        pid_ > 0 &&
        WaitUntil([&] { return WaitForSingleObject(process_, 20) == WAIT_OBJECT_0; }, milliseconds, drain);
    drain();
    if (output)
        *output = all;
    if (ended)
        return Wait();
    Kill(SIGKILL);
    Wait();
    return -1;
}

int ChildProcess::Wait() {
    if (pid_ <= 0)
        return -1;
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    pid_ = -1;
    return static_cast<int>(code);
}

int ChildProcess::WaitFor(int milliseconds) {
    if (pid_ > 0 && WaitForSingleObject(process_, static_cast<DWORD>(milliseconds)) == WAIT_OBJECT_0)
        return Wait();
    Kill(SIGKILL);
    Wait();
    return -1;
}

void ChildProcess::Kill(int signal) {
    if (pid_ > 0)
        TerminateProcess(process_, static_cast<UINT>(128 + signal));
}

}  // namespace velmora::test
