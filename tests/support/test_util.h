// Shared test helpers: temporary folders, whole-file reads, child processes.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora::test {

// A fresh folder under the system's temporary folder, removed with its content at destruction.
class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    // The folder with a trailing separator, as UTF-16 (the form the system keeps its folders in).
    std::u16string Folder() const;
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
std::u16string U16(const std::string& utf8);

// Removes the "YYYY/MM/DD<TAB>HH:MM:SS<TAB>" stamp that starts a log line; false when there is none.
bool StripLogStamp(std::string* line);
// The messages of a log file's lines (CR LF separated), without their stamps.
std::vector<std::string> LogFileMessages(const std::string& path);

// A program started as a separate process; killed (by process id) and reaped at destruction.
class ChildProcess {
  public:
    struct Options {
        std::vector<std::string> environment;  // NAME=value entries added to the child's environment
        std::string input;                     // a file the child reads as its standard input
        bool captureErrors = false;            // standard error joins standard output
        // File descriptors 3 and 4 open on a socket whose other end this object keeps, as a print
        // spooler gives its back ends (their back and side channels).
        bool printChannels = false;
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
    // Waits for the child to end, collecting what it writes; its exit code, or -1 when it had to be
    // killed after the time.
    int RunToEnd(int milliseconds, std::string* output);
    // Waits for the child to end; its exit code, or 128 + the signal that ended it.
    int Wait();
    // The same, giving up after the time: then the child is killed and the result is -1.
    int WaitFor(int milliseconds);
    void Kill(int signal);

  private:
    pid_t pid_ = -1;
    int output_ = -1;
    int channels_ = -1;
    std::string pending_;
};

// Path of a helper program built beside the tests (velmora_<name>).
std::string ToolPath(const std::string& name);

}  // namespace velmora::test
