// Processes as the rest of the system sees them: started from one command line, waited for until they are
// ready for input, their exit code read, a process tree asked to close, and the running processes listed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

using ProcessId = uint32_t;

// The exit code of a process that is still running (STILL_ACTIVE).
constexpr uint32_t PROCESS_STILL_ACTIVE = 259;
// Outcomes of WaitForInputIdle, with their Windows values.
constexpr uint32_t PROCESS_WAIT_READY = 0;
constexpr uint32_t PROCESS_WAIT_TIMEOUT = 258;
constexpr uint32_t PROCESS_WAIT_FAILED = 0xFFFFFFFF;
// A time limit that never runs out.
constexpr uint32_t PROCESS_WAIT_INFINITE = 0xFFFFFFFF;

// The arguments of a command line, split by the Windows rules. The first argument is a program name:
// quotation marks only delimit it (up to the next one), backslashes are plain characters, and otherwise it
// ends at the first white space. Every later argument follows the C runtime's rules: 2n backslashes and a
// quotation mark give n backslashes and start or end a quoted part, 2n+1 backslashes and a quotation mark
// give n backslashes and a literal quotation mark, other backslashes are literal, and two quotation marks
// inside a quoted part give one literal quotation mark. White space is space and tab. An empty command line
// has no arguments.
std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine);
// One argument after the program name, quoted so that SplitCommandLine gives it back unchanged.
std::u16string QuoteArgument(const std::u16string& argument);

// A started process. Destroying it does not end the process; one that is still running then is collected
// by the system in the background once it ends, so it never stays behind as a zombie.
class CProcess {
  public:
    CProcess() = default;
    ~CProcess();
    CProcess(CProcess&& other) noexcept;
    CProcess& operator=(CProcess&& other) noexcept;
    CProcess(const CProcess&) = delete;
    CProcess& operator=(const CProcess&) = delete;

    bool IsValid() const { return Pid > 0; }
    ProcessId Id() const { return static_cast<ProcessId>(Pid); }
    // Lets go of the process (CloseHandle); it keeps running.
    void Close();

  private:
    friend bool StartProcess(const std::u16string&, CProcess*, int*);
    friend uint32_t WaitForInputIdle(CProcess&, uint32_t);
    friend bool GetExitCode(CProcess&, uint32_t*);

    enum class Status { Running, Ended, Unknown };
    // Collects the exit code once the process has ended; Unknown when it is not ours to collect.
    Status Poll();

    int Pid = -1;
    bool Finished = false;
    uint32_t ExitCode = 0;
    // The process handle, which keeps the id from being reused (Windows; unused elsewhere).
    void* ProcessHandle = nullptr;
};

// Starts the program the command line names (CreateProcessW without an application name): the first
// argument is the program, searched in PATH when it holds no separator, and it receives the other
// arguments as they are, never through a shell. It inherits no open file (on Linux its standard input is
// the null device, and it starts with default signal handling; on Windows it gets the standard handles of
// a zeroed start-up record). On failure: false and the system's error number in *error.
bool StartProcess(const std::u16string& commandLine, CProcess* process, int* error);

// Waits until the process is ready for input: it has ended, or it is idle (sleeping and not using the
// processor between two looks about 100 ms apart). PROCESS_WAIT_READY, PROCESS_WAIT_TIMEOUT after the time
// limit (milliseconds, or PROCESS_WAIT_INFINITE), or PROCESS_WAIT_FAILED when the process cannot be observed.
uint32_t WaitForInputIdle(CProcess& process, uint32_t milliseconds);

// The process's exit code, PROCESS_STILL_ACTIVE while it runs; a process ended by a signal reports 128 plus
// the signal number. False when it cannot be told.
bool GetExitCode(CProcess& process, uint32_t* exitCode);

// Asks the process and every process descended from it to close (SIGTERM; nothing is forced). False when
// the request could not be made within the time limit (milliseconds); a process that is already gone or
// that refuses the signal is no failure.
bool TerminateProcessTree(ProcessId processId, uint32_t milliseconds);

// The ids of the running processes.
std::vector<ProcessId> ListProcesses();
// The base name of the process's program file (its main module on Windows, whose name must end in ".exe",
// which is left out); empty when it cannot be read.
std::u16string ProcessBaseName(ProcessId processId);

}  // namespace velmora::platform
