// Printing by an external program: a virtual printer in program mode prints each job by starting a
// program (typically a PDF reader) with a command line made from its template and the job's values.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "config/printer_setting.h"
#include "core/reporter.h"
#include "core/settings.h"
#include "platform/process.h"
#include "spool/job_store.h"
#include "spool/spool_file.h"

namespace velmora {

// The values of a command template, in the order of their markers: %1 local file name, %2 printer name,
// %3 driver name, %4 port name, %5 document name, %6 owner, %7 date inserted, %8 file size, %9 file type,
// %A source host, %B job name, %C job class.
constexpr std::size_t COMMAND_MARKER_COUNT = 12;
using CommandValues = std::array<std::u16string, COMMAND_MARKER_COUNT>;
extern const char16_t* const COMMAND_MARKERS[COMMAND_MARKER_COUNT];

// The command line: each marker, case-sensitive and in the order above, replaced everywhere by its value
// between double quotation marks. Each step works on the result of the one before, so a marker inside an
// earlier value is replaced too. Nothing is escaped; any other "%x" stays as it is.
std::u16string ExpandCommandTemplate(const std::u16string& commandTemplate, const CommandValues& values);

// The template values of a job printed through a printer of the system's print spooler.
CommandValues CommandTemplateValues(const CSpoolFile& job, const std::u16string& printerName,
                                    const std::u16string& driverName, const std::u16string& portName);

// The two print-spooler operations this back-end uses: the platform's by default, replaceable as a whole
// (tests install stand-ins).
struct CProgramPrinterOperations {
    // The driver and port names of a printer of the system's print spooler (on CUPS its make and model and
    // its device URI); false when there is no such printer.
    std::function<bool(const std::u16string& printerName, std::u16string* driverName,
                       std::u16string* portName)>
        PrinterDriverAndPort;
    // Has the system print a file with the "print" verb of the shell (ShellExecuteW; on Linux an auto-typed
    // CUPS job of the file on the default queue). Returns at once; the outcome is not examined.
    std::function<void(const std::u16string& path)> ShellPrint;
};

// The system's own operations.
CProgramPrinterOperations PlatformProgramPrinterOperations();

// Prints the jobs of virtual printers in program mode.
class CProgramPrinter {
  public:
    CProgramPrinter(CReporter& reporter, const CSettings& settings,
                    CProgramPrinterOperations operations = PlatformProgramPrinterOperations())
        : Reporter(reporter), Settings(settings), Operations(std::move(operations)) {}

    // Whether the system's print spooler knows the printer, with its driver and port names.
    bool GetPrinterDevice(const std::u16string& printerName, std::u16string* driverName,
                          std::u16string* portName) const;
    // Prints a job on the calling (spooler) thread: 0 when sent, 1 when it failed, with the reason. Waits
    // until the program is ready for input; with KillProcessIfNeed the program and its children are then
    // asked to close. Once *cut is set the wait ends, the program and its children are ended whatever
    // KillProcessIfNeed says, and the outcome is a cut one.
    CDispatchOutcome RunPrintProgram(const CSpoolFile& job, const CPrinterSetting& printer,
                                     const std::atomic<bool>* cut = nullptr) const;
    // Asks a process and every process it started to close when KillProcessIfNeed is on; nothing otherwise.
    void TerminateProcessTree(platform::ProcessId processId) const;

  private:
    // False when the wait was cut.
    bool WaitUntilReady(platform::CProcess& process, const std::atomic<bool>* cut) const;

    CReporter& Reporter;
    const CSettings& Settings;
    CProgramPrinterOperations Operations;
};

}  // namespace velmora
