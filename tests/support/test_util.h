// Shared test helpers: temporary folders, whole-file reads, child processes.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32) && !defined(SIGKILL)
// Windows has no signals between processes: ChildProcess::Kill terminates the process whatever the number.
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
    // The folder with a trailing separator, in UTF-16 as the system keeps its folders.
    std::u16string Folder() const;
    // A name inside the folder, joined with the system's separator.
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
// The ANSI code page of the platform layer's conversions: UTF-8 on Linux, 1252 under Wine.
enum class AnsiCodePage { Utf8, Windows1252, Other };
AnsiCodePage CurrentAnsiCodePage();
// The system's description of a sharing violation, as failures to open a held file report it.
std::u16string SharingViolationText();
// Sets or removes a variable of this process's environment, as the program itself reads them.
void SetEnvironment(const std::string& name, const std::string& value);
void UnsetEnvironment(const std::string& name);

// Removes the "YYYY/MM/DD<TAB>HH:MM:SS<TAB>" stamp that starts a log line; false when there is none.
bool StripLogStamp(std::string* line);
// The messages of a log file's lines (CR LF separated), without their stamps.
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
                 const std::vector<std::string>& environment = {});
    ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
                 const Options& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // Reads the child's standard output until the line arrives (true) or the output ends (false).
    bool WaitForLine(const std::string& line);
    // The next line of the child's standard output; false when the output ends.
    bool ReadLine(std::string* line);
    // Everything the child writes until its output ends.
    std::string ReadAll();
    // Waits for the child to end, collecting what it writes; its exit code, or -1 when it was killed
    // after the time.
    int RunToEnd(int milliseconds, std::string* output);
    // Waits for the child to end; its exit code, or 128 + the signal that ended it.
    int Wait();
    // The same, giving up after the time: then the child is killed and the result is -1.
    int WaitFor(int milliseconds);
    // On Windows the process ends with exit code 128 + signal.
    void Kill(int signal);

  private:
    // Blocks until the child writes something; the bytes read, 0 once its output has ended.
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

// Checks the condition every few milliseconds until it holds (true) or the time is over (its last value).
// Between checks it calls the idle step (a message loop's turn, for example) or sleeps.
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
