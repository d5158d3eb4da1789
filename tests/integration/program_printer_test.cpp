// Program mode with real programs: scripts written into the test's folder and programs of the system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "output/program_printer.h"
#include "platform/process.h"
#include "support/app_fixture.h"
#include "support/service_test_util.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::U16;

// Kills the uncollected processes a test started, however it ends.
struct KillAtEnd {
    std::vector<platform::CProcess*> Processes;
    ~KillAtEnd() {
        for (platform::CProcess* process : Processes) {
            uint32_t exitCode = 0;
            if (platform::GetExitCode(*process, &exitCode) && exitCode == platform::PROCESS_STILL_ACTIVE)
                kill(static_cast<pid_t>(process->Id()), SIGKILL);
        }
    }
};

class ProgramPrinterTest : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        operations_.PrinterDriverAndPort = [](const std::u16string& name, std::u16string* driver,
                                              std::u16string* port) {
            if (name != u"Office Laser")
                return false;
            *driver = u"HP LaserJet 4";
            *port = u"socket://10.0.0.5";
            return true;
        };
        operations_.ShellPrint = [this](const std::u16string& path) { shellPrinted_.push_back(path); };
        // Spaces in both paths: the quoting of the template must carry them.
        programs_ = folder_.Path() + "/my programs";
        ASSERT_EQ(mkdir(programs_.c_str(), 0755), 0);
        const std::string spool = folder_.Path() + "/spool dir";
        ASSERT_EQ(mkdir(spool.c_str(), 0755), 0);
        test::WriteFile(spool + "/job 1.prn", "%PDF-1.4\n");
        job_.LocalFileName = U16(spool + "/job 1.prn");
        job_.DocumentName = u"Q3 report";
        job_.Owner = u"alice";
        job_.DateInserted = u"2024/05/06 10:11:12";
        job_.FileSize = u"9 bytes";
        job_.FileType = u"PDF";
        job_.SourceHost = u"erp01";
        job_.JobName = u"Invoice 42";
        job_.JobClass = u"finance";
        printer_.Name = u"PDF";
        printer_.OutputMode = OUTPUT_PROGRAM;
        printer_.ProgramPrinter = u"Office Laser";
    }
    void TearDown() override {
        for (const int pid : leftRunning_) {
            if (test::IsProcessAlive(pid))
                kill(pid, SIGKILL);
        }
        AppFixture::TearDown();
    }
    // Prints the job through the stand-in system operations; the outcome's text becomes the job's.
    int32_t RunPrintProgram(CSpoolFile& job, const CPrinterSetting& printer) {
        const CDispatchOutcome outcome =
            CProgramPrinter(app_->Reporter, app_->Settings, operations_).RunPrintProgram(job, printer);
        job.ErrorText = outcome.ErrorText;
        return outcome.Result;
    }
    // An executable shell script in the programs folder; its path.
    std::string WriteScript(const std::string& name, const std::string& body) {
        const std::string path = programs_ + "/" + name;
        test::WriteFile(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), 0755);
        return path;
    }
    // A script that writes each of its arguments between brackets, one a line, to the file given.
    std::string WriteArgumentsScript(const std::string& output) {
        return WriteScript("print args.sh",
                           "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done > '" + output + "'\n");
    }
    std::string Narrow(const std::u16string& text) { return platform::UnicodeToAnsi(text); }
    CProgramPrinterOperations operations_;
    std::vector<std::u16string> shellPrinted_;
    std::vector<int> leftRunning_;
    std::string programs_;
    CSpoolFile job_;
    CPrinterSetting printer_;
};

TEST_F(ProgramPrinterTest, EveryValueReachesTheProgramAsOneArgumentOfDataAndNoCommandUsesTheShell) {
    const std::string output = folder_.File("argv.txt");
    const std::string script = WriteArgumentsScript(output);
    const std::string pwned = folder_.File("pwned");
    job_.DocumentName = U16("Q3 \"final\" report; touch " + pwned + "1 $(touch " + pwned + "2) `touch " +
                            pwned + "3` | tee " + pwned + "4");
    job_.Owner = u"DOMAIN\\alice";
    printer_.ProgramCommand = U16("\"" + script + "\" %1 %2 %3 %4 %5 %6 %7 %8 %9 %A %B %C");
    EXPECT_EQ(RunPrintProgram(job_, printer_), 0);
    EXPECT_EQ(job_.ErrorText, u"");
    // The quotation marks of the name pair up with the inserted ones, as the Windows rules read them;
    // nothing of it runs.
    EXPECT_EQ(ReadFile(output), "[" + folder_.Path() +
                                    "/spool dir/job 1.prn]\n[Office Laser]\n[HP LaserJet 4]\n" +
                                    "[socket://10.0.0.5]\n[Q3 final report; touch " + pwned + "1 $(touch " +
                                    pwned + "2) `touch " + pwned + "3` | tee " + pwned +
                                    "4]\n[DOMAIN\\alice]\n[2024/05/06 10:11:12]\n[9 bytes]\n[PDF]\n[erp01]\n"
                                    "[Invoice 42]\n[finance]\n");
    for (const char* suffix : {"1", "2", "3", "4"})
        EXPECT_FALSE(std::filesystem::exists(pwned + suffix)) << suffix;
    // A printer the system does not know leaves its values empty and fails the job, but the program runs.
    printer_.ProgramPrinter = u"Nowhere";
    printer_.ProgramCommand = U16("\"" + script + "\" %2 %3 %4 %B");
    EXPECT_EQ(RunPrintProgram(job_, printer_), 1);
    EXPECT_EQ(job_.ErrorText, u"Printer not found");
    EXPECT_EQ(ReadFile(output), "[Nowhere]\n[]\n[]\n[Invoice 42]\n");
    // An empty command prints with the shell's verb; an unknown printer still fails the job.
    printer_.ProgramCommand.clear();
    EXPECT_EQ(RunPrintProgram(job_, printer_), 1);
    EXPECT_EQ(job_.ErrorText, u"Printer not found");
    printer_.ProgramPrinter = u"Office Laser";
    EXPECT_EQ(RunPrintProgram(job_, printer_), 0);
    EXPECT_EQ(job_.ErrorText, u"");
    EXPECT_EQ(shellPrinted_, (std::vector<std::u16string>{job_.LocalFileName, job_.LocalFileName}));
}

// A program that cannot be started fails the job with the system's reason; its exit code never does.
TEST_F(ProgramPrinterTest, StartFailuresFailTheJobAndExitCodesAreOnlyLogged) {
    const std::string notExecutable = WriteScript("not executable.sh", "exit 0\n");
    chmod(notExecutable.c_str(), 0644);
    const auto unable = [](int error) {
        return "0\tSpooler: Unable to run the command : " + std::string(std::strerror(error)) + ".";
    };
    const struct {
        std::string Command;
        int Result;
        std::string LastLine;
    } cases[] = {
        {"\"" + programs_ + "/no such program\" %1", 1, unable(ENOENT)},
        {"velmora-no-such-program-in-path %1", 1, unable(ENOENT)},
        {"\"" + notExecutable + "\" %1", 1, unable(EACCES)},
        {"false", 0, ", exitCode=1)."},  // found in PATH
        {"\"" + WriteScript("exit7.sh", "exit 7\n") + "\" %1", 0, ", exitCode=7)."},
        {"\"" + WriteScript("killed.sh", "kill -KILL $$\n") + "\"", 0,
         ", exitCode=" + std::to_string(128 + SIGKILL) + ")."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Command);
        printer_.ProgramCommand = U16(c.Command);
        EXPECT_EQ(RunPrintProgram(job_, printer_), c.Result);
        EXPECT_EQ(Narrow(job_.ErrorText), c.Result ? c.LastLine : "");
        const std::string last = LogMessages().back();
        EXPECT_TRUE(last.ends_with(c.LastLine)) << last;
        EXPECT_TRUE(c.Result || last.starts_with("0\tSpooler: Application done (PID=")) << last;
    }
    // The service's mode digit is part of the error text; the start failure replaces "Printer not found".
    app_->SetServiceMode(true);
    printer_.ProgramPrinter = u"Nowhere";
    printer_.ProgramCommand = U16("\"" + programs_ + "/no such program\"");
    EXPECT_EQ(RunPrintProgram(job_, printer_), 1);
    EXPECT_EQ(Narrow(job_.ErrorText), "1" + unable(ENOENT).substr(1));
}

// The program waits for its child: it is still running when the job is done. With KillProcessIfNeed it
// and its child are asked to close; either way the program is collected once it ends, not left a zombie.
TEST_F(ProgramPrinterTest, KillProcessIfNeedDecidesWhetherTheProgramAndItsChildrenAreClosed) {
    app_->Settings.LogLevel = 2;
    for (const int killing : {1, 0}) {
        SCOPED_TRACE(killing);
        app_->Settings.KillProcessIfNeed = killing;
        const std::string childIdFile = folder_.File("child" + std::to_string(killing) + ".pid");
        printer_.ProgramCommand =
            U16("\"" + WriteScript("tree.sh", "sleep 1000 &\necho $! > \"$1\"\nwait\n") + "\" \"" +
                childIdFile + "\"");
        const std::size_t before = LogMessages().size();
        EXPECT_EQ(RunPrintProgram(job_, printer_), 0);
        const std::vector<std::string> log = LogMessages();
        ASSERT_EQ(log.size(), before + 4 + killing);
        const std::string prefix = "0\tSpooler: Application launched (PID=";
        ASSERT_TRUE(log[before + 2].starts_with(prefix)) << log[before + 2];
        const int pid = std::stoi(log[before + 2].substr(prefix.size()));
        leftRunning_.push_back(pid);
        EXPECT_TRUE(test::WaitUntil([&] { return ReadFile(childIdFile).ends_with("\n"); })) << childIdFile;
        const int child = std::stoi("0" + ReadFile(childIdFile));
        ASSERT_GT(child, 0);
        leftRunning_.push_back(child);
        // Idle in its wait, the program has not ended: the code of a process still running.
        EXPECT_EQ(log[before + 3],
                  "0\tSpooler: Application done (PID=" + std::to_string(pid) + ", exitCode=259).");
        if (killing) {
            EXPECT_EQ(log[before + 4], "0\tSpooler: Try to terminate process " + std::to_string(pid));
            EXPECT_TRUE(
                test::WaitUntil([&] { return !test::IsProcessAlive(pid) && !test::IsProcessAlive(child); }));
        } else {
            EXPECT_TRUE(test::IsProcessAlive(pid) && test::IsProcessAlive(child));
            ::kill(child, SIGKILL);
            ::kill(pid, SIGKILL);
        }
        EXPECT_TRUE(
            test::WaitUntil([&] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); }));
    }
}

// A started program is observed and its tree asked to close; it inherits neither open files nor the
// blocked or ignored SIGTERM of a service's threads.
TEST(ProcessTest, AStartedProcessIsObservedAndItsTreeAskedToClose) {
    test::TempFolder folder;
    const int open = ::open("/dev/null", O_RDONLY);  // without close-on-exec
    ASSERT_GE(open, 0);
    const std::string report = folder.File("report.txt");
    const std::string command = "/bin/sh -c \"readlink /proc/self/fd/0 > '" + report +
                                "'; test -e /proc/self/fd/" + std::to_string(open) +
                                " && echo inherited >> '" + report + "'; exit 0\"";
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigset_t previousMask;
    pthread_sigmask(SIG_BLOCK, &term, &previousMask);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previousAction {};
    sigaction(SIGTERM, &ignore, &previousAction);
    platform::CProcess reporter;
    platform::CProcess process;
    int error = 0;
    const bool startedReporter = platform::StartProcess(U16(command), &reporter, &error);
    const bool started = platform::StartProcess(u"sleep 1000", &process, &error);
    sigaction(SIGTERM, &previousAction, nullptr);
    pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
    close(open);
    ASSERT_TRUE(startedReporter && started) << error;
    const KillAtEnd cleanup{{&reporter, &process}};
    uint32_t exitCode = 0;
    EXPECT_TRUE(
        test::WaitUntil([&] { return platform::GetExitCode(reporter, &exitCode) && exitCode != 259; }));
    EXPECT_EQ(exitCode, 0u);
    EXPECT_EQ(ReadFile(report), "/dev/null\n");
    EXPECT_TRUE(platform::TerminateProcessTree(process.Id(), 10000));
    EXPECT_TRUE(
        test::WaitUntil([&] { return platform::GetExitCode(process, &exitCode) && exitCode != 259; }));
    EXPECT_EQ(exitCode, 128u + SIGTERM);
}

}  // namespace
}  // namespace velmora
