// The program route on Windows: CreateProcessW, WaitForInputIdle, and TASKKILL with KillProcessIfNeed.
#include <gtest/gtest.h>

#include "windows/windows_test_util.h"
#include "windows/wine_printer.h"

#include <filesystem>

#include "output/program_printer.h"
#include "platform/ansi.h"
#include "platform/system_error.h"
#include "support/app_fixture.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::U16;

bool IsAlive(DWORD pid) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process)
        return false;
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

class ProgramRouteTest : public test::AppFixture {
  protected:
    void SetUp() override {
        test::AppFixture::SetUp();
        printer_ = std::make_unique<test::WinePrinter>(folder_.File("port.prn"));
        ASSERT_TRUE(printer_->Failure().empty()) << printer_->Failure();
        app_->Settings.LogLevel = 2;
        job_.LocalFileName = U16(folder_.File("job 1.prn"));
        test::WriteFile(folder_.File("job 1.prn"), "%PDF-1.4\n");
        job_.DocumentName = u"report.pdf";
        job_.Owner = u"DOMAIN\\alice";
        job_.JobName = u"Invoice 42";
        setting_.Name = u"PDF";
        setting_.OutputMode = OUTPUT_PROGRAM;
        setting_.ProgramPrinter = U16(test::WinePrinter::NAME);
    }
    void TearDown() override {
        for (const DWORD pid : leftRunning_) {
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
        }
        printer_.reset();
        test::AppFixture::TearDown();
    }

    static std::string Program() { return test::ToolPath("print_program") + ".exe"; }

    int32_t RunPrintProgram(CSpoolFile& job, const CPrinterSetting& printer) {
        const CDispatchOutcome outcome =
            CProgramPrinter(app_->Reporter, app_->Settings).RunPrintProgram(job, printer);
        job.ErrorText = outcome.ErrorText;
        return outcome.Result;
    }

    DWORD LaunchedPid() {
        const std::string prefix = "0\tSpooler: Application launched (PID=";
        for (const std::string& line : LogMessages()) {
            if (line.starts_with(prefix))
                return static_cast<DWORD>(std::stoul(line.substr(prefix.size())));
        }
        return 0;
    }

    std::unique_ptr<test::WinePrinter> printer_;
    CSpoolFile job_;
    CPrinterSetting setting_;
    std::vector<DWORD> leftRunning_;
};

TEST_F(ProgramRouteTest, EveryValueReachesTheWaitingProgramAsOneArgumentAndNothingRunsThroughAShell) {
    const std::string output = folder_.File("arguments.txt");
    const std::string pwned = folder_.File("pwned.txt");
    job_.DocumentName = U16("Q3 \"final\" report & echo x > \"" + pwned + "\" | more");
    setting_.ProgramCommand = U16("\"" + Program() + "\" \"" + output + "\" %1 %2 %3 %4 %5 %6 %B");

    EXPECT_EQ(RunPrintProgram(job_, setting_), 0);
    EXPECT_EQ(job_.ErrorText, u"");
    const DWORD pid = LaunchedPid();
    ASSERT_NE(pid, 0u);
    leftRunning_.push_back(pid);
    // The name's quotation marks pair up with the inserted ones, as Windows reads them.
    EXPECT_EQ(ReadFile(output), "[" + folder_.File("job 1.prn") + "]\n[" + test::WinePrinter::NAME +
                                    "]\n[Wine PostScript Driver]\n[" + printer_->PortFile() +
                                    "]\n[Q3 final report & echo x > " + pwned +
                                    " | more]\n[DOMAIN\\alice]\n"
                                    "[Invoice 42]\n");
    EXPECT_FALSE(std::filesystem::exists(pwned));

    const std::vector<std::string> log = LogMessages();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], "0\tSpooler: Use Application to print spool " + folder_.File("job 1.prn"));
    EXPECT_TRUE(log[1].starts_with("0\tSpooler: Try to run application '\"" + Program())) << log[1];
    // Ready for input, it still runs (259).
    EXPECT_EQ(log[3], "0\tSpooler: Application done (PID=" + std::to_string(pid) + ", exitCode=259).");
    EXPECT_TRUE(IsAlive(pid));
}

TEST_F(ProgramRouteTest, KillProcessIfNeedAsksTheProgramToClose) {
    app_->Settings.KillProcessIfNeed = 1;
    setting_.ProgramCommand = U16("\"" + Program() + "\" \"" + folder_.File("arguments.txt") + "\"");
    EXPECT_EQ(RunPrintProgram(job_, setting_), 0);
    const DWORD pid = LaunchedPid();
    ASSERT_NE(pid, 0u);
    leftRunning_.push_back(pid);
    const std::vector<std::string> log = LogMessages();
    ASSERT_EQ(log.size(), 5u);
    EXPECT_EQ(log[3], "0\tSpooler: Application done (PID=" + std::to_string(pid) + ", exitCode=259).");
    EXPECT_EQ(log[4], "0\tSpooler: Try to terminate process " + std::to_string(pid));
    if (test::RunningUnderWine())
        GTEST_SKIP() << "Wine's taskkill closes no program";
    EXPECT_TRUE(test::WaitUntil([&] { return !IsAlive(pid); }));
}

TEST_F(ProgramRouteTest, AProgramThatCannotStartFailsWithTheSystemsReasonAnUnknownPrinterFailsTheJob) {
    CSpoolFile job;
    job.LocalFileName = job_.LocalFileName;
    setting_.ProgramCommand = U16("\"" + folder_.File("no such program.exe") + "\" %1");
    EXPECT_EQ(RunPrintProgram(job, setting_), 1);
    const std::string expected = "0\tSpooler: Unable to run the command : " +
                                 platform::UnicodeToAnsi(platform::SystemErrorText(ERROR_FILE_NOT_FOUND)) +
                                 ".";
    EXPECT_EQ(platform::UnicodeToAnsi(job.ErrorText), expected);
    EXPECT_EQ(LogMessages().back(), expected);

    // A printer the spooler does not know fails the job; the program still runs.
    setting_.ProgramPrinter = u"No Such Printer";
    setting_.ProgramCommand = U16("\"" + Program() + "\" --exit 0");
    EXPECT_EQ(RunPrintProgram(job_, setting_), 1);
    EXPECT_EQ(job_.ErrorText, u"Printer not found");
    EXPECT_TRUE(LogMessages().back().ends_with(", exitCode=0)."));
}

}  // namespace
}  // namespace velmora
