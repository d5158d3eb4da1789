#include "output/program_printer.h"

#include "platform/print_spooler.h"

#include "platform/system_error.h"
#include "text/format.h"

namespace velmora {

namespace {

// How long the request to close a process tree may take (the termination command's wait).
constexpr uint32_t TERMINATE_MILLISECONDS = 10000;
// A stop's cut: how often the wait looks for it, and how long a cut program gets to close.
constexpr uint32_t CUT_CHECK_MILLISECONDS = 200;
constexpr uint32_t CUT_TERMINATE_MILLISECONDS = 1000;

}  // namespace

CProgramPrinterOperations PlatformProgramPrinterOperations() {
    CProgramPrinterOperations operations;
    operations.PrinterDriverAndPort = platform::PrinterDriverAndPort;
    // The shell's "print" verb is not waited for, and its outcome is not the job's.
    operations.ShellPrint = [](const std::u16string& path) { platform::ShellPrint(path); };
    return operations;
}

namespace {

void ReplaceAll(std::u16string* text, std::u16string_view marker, const std::u16string& replacement) {
    // The search resumes after the inserted text: a marker inside a value is left to the later markers.
    for (std::size_t at = text->find(marker); at != std::u16string::npos;
         at = text->find(marker, at + replacement.size())) {
        text->replace(at, marker.size(), replacement);
    }
}

}  // namespace

const char16_t* const COMMAND_MARKERS[COMMAND_MARKER_COUNT] = {u"%1", u"%2", u"%3", u"%4", u"%5", u"%6",
                                                               u"%7", u"%8", u"%9", u"%A", u"%B", u"%C"};

std::u16string ExpandCommandTemplate(const std::u16string& commandTemplate, const CommandValues& values) {
    std::u16string commandLine = commandTemplate;
    for (std::size_t i = 0; i < COMMAND_MARKER_COUNT; ++i)
        ReplaceAll(&commandLine, COMMAND_MARKERS[i], u"\"" + values[i] + u"\"");
    return commandLine;
}

CommandValues CommandTemplateValues(const CSpoolFile& job, const std::u16string& printerName,
                                    const std::u16string& driverName, const std::u16string& portName) {
    return {job.LocalFileName, printerName,  driverName,   portName,       job.DocumentName, job.Owner,
            job.DateInserted,  job.FileSize, job.FileType, job.SourceHost, job.JobName,      job.JobClass};
}

bool CProgramPrinter::GetPrinterDevice(const std::u16string& printerName, std::u16string* driverName,
                                       std::u16string* portName) const {
    std::u16string driver;
    std::u16string port;
    const auto& lookup = Operations.PrinterDriverAndPort;
    if (!lookup || !lookup(printerName, &driver, &port))
        return false;
    *driverName = std::move(driver);
    *portName = std::move(port);
    return true;
}

CDispatchOutcome CProgramPrinter::RunPrintProgram(const CSpoolFile& job, const CPrinterSetting& printer,
                                                  const std::atomic<bool>* cut) const {
    const int mode = Reporter.ModeDigit();
    CDispatchOutcome outcome;
    Reporter.WriteLog(Format(u"%d\tSpooler: Use Application to print spool %s", mode, job.LocalFileName));

    std::u16string driverName;
    std::u16string portName;
    if (!GetPrinterDevice(printer.ProgramPrinter, &driverName, &portName)) {
        // The program still runs: it may well print without the named printer.
        outcome = {1, u"Printer not found"};
    }

    if (printer.ProgramCommand.empty()) {
        if (Operations.ShellPrint)
            Operations.ShellPrint(job.LocalFileName);
        return outcome;
    }

    const std::u16string commandLine = ExpandCommandTemplate(
        printer.ProgramCommand, CommandTemplateValues(job, printer.ProgramPrinter, driverName, portName));
    Reporter.WriteLog(Format(u"%d\tSpooler: Try to run application '%s'", mode, commandLine));

    platform::CProcess process;
    int error = 0;
    if (!platform::StartProcess(commandLine, &process, &error)) {
        // The mode digit and TAB belong to the error text too: the job shows the log line as it is.
        outcome = {1, Format(u"%d\tSpooler: Unable to run the command : %s.", mode,
                             platform::SystemErrorText(error))};
        Reporter.WriteLog(outcome.ErrorText);
        return outcome;
    }
    if (Settings.LogLevel == 2)
        Reporter.WriteLog(Format(u"%d\tSpooler: Application launched (PID=%d)", mode, process.Id()));
    if (!WaitUntilReady(process, cut)) {
        Reporter.WriteLog(Format(u"%d\tSpooler: Application (PID=%d) ended by the stop; the job stays Ready",
                                 mode, process.Id()));
        platform::TerminateProcessTree(process.Id(), CUT_TERMINATE_MILLISECONDS);
        return {0, {}, true};
    }
    TerminateProcessTree(process.Id());
    // Neither the wait nor the exit code decides the result: what the program did is its own affair.
    return outcome;
}

bool CProgramPrinter::WaitUntilReady(platform::CProcess& process, const std::atomic<bool>* cut) const {
    const int mode = Reporter.ModeDigit();
    const platform::ProcessId pid = process.Id();
    // No time limit: the spooler waits, as long as it takes, for the program to have started up, unless
    // the server's stop cuts the wait. It looks for that between slices of the wait.
    uint32_t result = platform::PROCESS_WAIT_TIMEOUT;
    while (result == platform::PROCESS_WAIT_TIMEOUT) {
        if (cut && *cut)
            return false;
        result = platform::WaitForInputIdle(process,
                                            cut ? CUT_CHECK_MILLISECONDS : platform::PROCESS_WAIT_INFINITE);
    }
    switch (result) {
        case platform::PROCESS_WAIT_READY: {
            uint32_t exitCode = 0;
            if (platform::GetExitCode(process, &exitCode)) {
                Reporter.WriteLog(Format(u"%d\tSpooler: Application done (PID=%d, exitCode=%d).", mode, pid,
                                         static_cast<int32_t>(exitCode)));
            } else {
                Reporter.WriteLog(
                    Format(u"%d\tSpooler: Application done (PID=%d, unknown exitCode).", mode, pid));
            }
            break;
        }
        case platform::PROCESS_WAIT_TIMEOUT:
            Reporter.WriteLog(Format(u"%d\tSpooler: Application failed (PID=%d, TIMEOUT).", mode, pid));
            break;
        case platform::PROCESS_WAIT_FAILED:
            Reporter.WriteLog(Format(u"%d\tSpooler: Application failed (PID=%d, unknown error).", mode, pid));
            break;
    }
    return true;
}

void CProgramPrinter::TerminateProcessTree(platform::ProcessId processId) const {
    if (Settings.KillProcessIfNeed == 0)
        return;
    const int mode = Reporter.ModeDigit();
    Reporter.WriteLog(Format(u"%d\tSpooler: Try to terminate process %d", mode, processId));
    if (!platform::TerminateProcessTree(processId, TERMINATE_MILLISECONDS))
        Reporter.WriteLog(Format(u"%d\tSpooler: Unable to terminate process %d.", mode, processId));
}

}  // namespace velmora
