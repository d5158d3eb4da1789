// Shared test helpers: temporary folders, whole-file reads, child processes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32) && !defined(SIGKILL)
// ChildProcess::Kill terminates the process on Windows whatever the number.
#define SIGKILL 9
#endif

namespace velmora::test {

// A fresh folder under the system's temporary folder, removed with its content at destruction.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + SEPARATOR + name; }
#ifdef _WIN32
    static constexpr char SEPARATOR = '\\';
#else
    static constexpr char SEPARATOR = '/';
#endif

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::u16string U16(const std::string& utf8);
// The platform layer's ANSI code page: UTF-8 on Linux, 1252 under Wine.
enum class AnsiCodePage { Utf8, Windows1252, Other };
AnsiCodePage CurrentAnsiCodePage();
// The system's description of a sharing violation.
std::u16string SharingViolationText();
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

// Removes a log line's "YYYY/MM/DD<TAB>HH:MM:SS<TAB>" stamp; false when there is none.
bool StripLogStamp(std::string* line);
// The CR LF separated lines of a log file, without their stamps.
std::vector<std::string> LogFileMessages(const std::string& path);

// A program started as a separate process; killed (by process id) and reaped at destruction.
class ChildProcess {
  public:
    struct Options {
        std::vector<std::string> Environment;  // NAME=value entries added to the child's environment
        std::string Input;                     // a file the child reads as its standard input
        bool CaptureErrors = false;            // standard error joins standard output
        bool PrintChannels = false;  // descriptors 3 and 4 on a socket, as a spooler gives its back ends
    };
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const std::vector<std::string>& environment = {})
        : ChildProcess(program, arguments, Options{environment, {}, false}) {}
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Reads standard output until the line arrives (true) or the output ends (false).
    bool WaitForLine(const std::string& line);
    bool ReadLine(std::string* line);
    std::string ReadAll();
    // Waits for the end, collecting the output; the exit code, or -1 when killed after the time.
    int RunToEnd(int milliseconds, std::string* output);
    // The exit code, or 128 + the signal that ended it.
    int Wait();
    // The same, or -1 when killed after the time.
    int WaitFor(int milliseconds);
    // On Windows the process ends with exit code 128 + signal.
    void Kill(int signal);

  private:
    // The bytes read, blocking; 0 once the output has ended.
    long ReadOutput(char* buffer, std::size_t size);

    pid_t pid_ = -1;
#ifdef _WIN32
    void* process_ = nullptr;     // the process's handle
    void* outputPipe_ = nullptr;  // the reading end of its output
#endif
    int output_ = -1;
    int channels_ = -1;
    std::string pending_;
};

// Checks the condition until it holds (true) or the time is over (its last value), calling the idle step
// (a message loop's turn, for example) or sleeping between checks.
template <typename Condition, typename Idle>
bool WaitUntil(Condition condition, int milliseconds, Idle idle) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return condition();
        idle();
    }
}
template <typename Condition>
bool WaitUntil(Condition condition, int milliseconds = 10000) {
    return WaitUntil(condition, milliseconds,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(5)); });
}

// Path of a helper program built beside the tests (velmora_<name>).
std::string ToolPath(const std::string& name);

}  // namespace velmora::test
