// The spooler thread and the print dispatch with real programs, real sockets and the own LPD port.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "output/print_dispatch.h"
#include "output/program_printer.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "spool/spooler.h"
#include "support/lpd_server_fixture.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::U16;
using test::WriteFile;

// An LPD server that hangs: connections wait in its backlog until it closes.
struct SilentServer {
    SilentServer() {
        platform::BindLoopback(fd, 0);
        platform::Listen(fd, 8);
        port = platform::LocalPort(fd);
    }
    ~SilentServer() { Close(); }
    void Close() {
        if (fd != platform::SOCKET_INVALID)
            platform::CloseSocket(fd);
        fd = platform::SOCKET_INVALID;
    }
    platform::SocketHandle fd = platform::CreateTcpSocket();
    uint16_t port = 0;
};

class SpoolerTest : public test::LpdServerFixture {
  protected:
    void SetUp() override {
        LpdServerFixture::SetUp();
        ui_.OnSetTrayIcon = [this](int icon) { icons_.push_back(icon); };
        // Program mode asks the print spooler about its printer; every printer exists here.
        app_->Dispatch.ProgramOperations.PrinterDriverAndPort =
            [](const std::u16string&, std::u16string* driver, std::u16string* port) {
                *driver = u"Generic";
                *port = u"file:/dev/null";
                return true;
            };
        // Appends its first argument to a file: the order in which the spooler printed.
        script_ = folder_.File("record.sh");
        WriteFile(script_, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$2\"\n");
        chmod(script_.c_str(), 0755);
        record_ = folder_.File("printed.txt");
    }
    void TearDown() override {
        app_->Spooler.StopSpooler();
        app_->Spooler.JoinSpoolerThread();
        LpdServerFixture::TearDown();
    }
    // PASS and HOLD, then virtual printers of the output modes given with the queue of their route: program
    // printers record what they print, LPD ones forward to 127.0.0.1, raw ones print on the local queue.
    void SetPrinters(const std::vector<std::tuple<std::u16string, int32_t, std::u16string>>& extra) {
        PrinterRecords printers = *app_->PrinterList.Snapshot();
        printers.resize(2);
        for (const auto& [name, mode, queue] : extra) {
            CPrinterSetting& printer = printers.emplace_back();
            printer.Name = name;
            printer.OutputMode = mode;
            printer.ProgramPrinter = u"Office";
            printer.ProgramCommand = u"\"" + U16(script_) + u"\" %5 \"" + U16(record_) + u"\"";
            printer.IPAddress = u"127.0.0.1";
            printer.QueueName = printer.LocalPrinter = queue;
        }
        app_->PrinterList.Replace(printers);
    }
    // Reads the job list under its lock.
    template <typename Read>
    auto Locked(Read read) {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        return read();
    }
    // A job as intake leaves it, with its data file in the spool folder.
    SpoolFilePtr AddJob(const std::string& document, const std::u16string& printer,
                        int32_t state = STATE_READY) {
        auto job = std::make_shared<CSpoolFile>();
        job->DocumentName = U16(document);
        job->PrinterName = printer;
        job->LocalFileName = app_->SpoolFolder + U16(document + ".prn");
        job->FileType = u"RAW";
        job->JobName = U16(document);
        job->SetState(state);
        WriteFile(File(job), "data of " + document + "\n");
        Locked([&] { return app_->Jobs.AppendJob(job); });
        app_->SpoolerEvent.Set();
        return job;
    }
    static std::string File(const SpoolFilePtr& job) { return platform::UnicodeToAnsi(job->LocalFileName); }
    int32_t State(const SpoolFilePtr& job) {
        return Locked([&] { return job->State; });
    }
    std::u16string ErrorText(const SpoolFilePtr& job) {
        return Locked([&] { return job->ErrorText; });
    }
    bool Listed(const SpoolFilePtr& job) {
        return Locked([&] { return app_->Jobs.FindJob(job->Id()) >= 0; });
    }
    bool WaitForState(const SpoolFilePtr& job, int32_t state, int milliseconds = 20000) {
        return test::WaitUntil([&] { return State(job) == state; }, milliseconds);
    }
    bool WaitUntilGone(const SpoolFilePtr& job, int milliseconds = 20000) {
        return test::WaitUntil([&] { return !Listed(job); }, milliseconds);
    }
    long Count(const std::string& message) const {
        const std::vector<std::string> messages = LogMessages();
        return std::count(messages.begin(), messages.end(), message);
    }
    std::string script_;
    std::string record_;
    std::vector<int> icons_;
};

TEST_F(SpoolerTest, ReadyJobsWaitForTheStartAndThenPrintOneAfterTheOtherInListOrder) {
    SetPrinters({{u"PROG", OUTPUT_PROGRAM, u""}});
    const SpoolFilePtr first = AddJob("first", u"PROG");
    const SpoolFilePtr held = AddJob("held", u"PROG", STATE_HELD);
    const SpoolFilePtr second = AddJob("second", u"PROG");
    Sleep(100);
    EXPECT_EQ(State(first), STATE_READY);
    app_->Spooler.StartSpooler();
    ASSERT_TRUE(WaitForState(second, STATE_SAVED));
    EXPECT_EQ(State(first), STATE_SAVED);
    EXPECT_EQ(State(held), STATE_HELD);
    EXPECT_EQ(ReadFile(record_), "first\nsecond\n");
    // Saved jobs keep their record and their data file.
    EXPECT_TRUE(Listed(first));
    EXPECT_TRUE(platform::FileExists(first->LocalFileName));
    // Starting a running spooler does nothing at all.
    app_->Spooler.StartSpooler();
    EXPECT_EQ(Count("0\tStarting Spooler"), 1);
    EXPECT_EQ(Count("0\tSpooler is started"), 1);
    // Released, a Saved job prints again; so does a job that arrives later.
    app_->Jobs.ApplyJobAction(JOB_RELEASE, first->Id(), false);
    const SpoolFilePtr later = AddJob("later", u"PROG");
    ASSERT_TRUE(WaitForState(later, STATE_SAVED));
    EXPECT_TRUE(WaitForState(first, STATE_SAVED));
    EXPECT_EQ(ReadFile(record_), "first\nsecond\nfirst\nlater\n");
    app_->Spooler.StopSpooler();
    app_->Spooler.StopSpooler();
    EXPECT_EQ(Count("0\tEnding Spooler"), 1);
    EXPECT_EQ(Count("0\tSpooler is stopped"), 1);
    EXPECT_EQ(icons_, (std::vector<int>{131, 132}));
    app_->Spooler.JoinSpoolerThread();
    const SpoolFilePtr waiting = AddJob("waiting", u"PROG");
    app_->Spooler.StartSpooler();
    EXPECT_TRUE(WaitForState(waiting, STATE_SAVED));
    EXPECT_GT(posts_, 0);
}

TEST_F(SpoolerTest, EveryRouteEndsInTheStateAndErrorTextOfItsOutcome) {
    SilentServer closed;
    const uint16_t refusedPort = closed.port;
    closed.Close();
    SetPrinters({{u"ODD", 3, u""},
                 {u"RAW", OUTPUT_LOCAL_PRINTER, u"No such queue"},
                 {u"FORWARD", OUTPUT_LPD, u"HOLD"},
                 {u"NOPRINTER", OUTPUT_PROGRAM, u""}});
    app_->Dispatch.ProgramOperations.PrinterDriverAndPort = [](const std::u16string&, std::u16string*,
                                                               std::u16string*) { return false; };
    // The private scheduler of no test: nothing answers there, so no queue exists.
    setenv("CUPS_SERVER", folder_.File("no-cups.sock").c_str(), 1);
    // The LPD route goes to this very server, whose HOLD queue keeps what it receives.
    app_->Dispatch.LpdForwardPort = port_;
    const SpoolFilePtr nowhere = AddJob("nowhere", u"Deleted printer");
    const SpoolFilePtr odd = AddJob("odd", u"ODD");
    const SpoolFilePtr rawJob = AddJob("raw", u"RAW");
    const SpoolFilePtr forwarded = AddJob("forwarded", u"FORWARD");
    const SpoolFilePtr program = AddJob("program", u"NOPRINTER");
    // A job whose previous failure is forgotten when it is dispatched again.
    Locked([&] { return forwarded->ErrorText = u"old failure"; });
    app_->Spooler.StartSpooler();
    ASSERT_TRUE(WaitForState(program, STATE_ERROR));
    unsetenv("CUPS_SERVER");
    // The program still ran although its printer is unknown.
    const std::tuple<SpoolFilePtr, int32_t, std::u16string> outcomes[] = {
        {nowhere, STATE_SAVED, u""},
        {odd, STATE_ERROR, u"Unknown case"},
        {rawJob, STATE_ERROR, u"Printer not found"},
        {forwarded, STATE_SAVED, u""},
        {program, STATE_ERROR, u"Printer not found"},
    };
    for (const auto& [job, state, error] : outcomes) {
        EXPECT_EQ(State(job), state) << platform::UnicodeToAnsi(job->DocumentName);
        EXPECT_EQ(ErrorText(job), error) << platform::UnicodeToAnsi(job->DocumentName);
    }
    EXPECT_EQ(ReadFile(record_), "program\n");
    // The forwarded job arrived whole in the queue of the receiving server.
    ASSERT_EQ(WaitForJobs(6), 6u);
    const SpoolFilePtr received = Job(5);
    EXPECT_EQ(received->PrinterName, u"HOLD");
    EXPECT_EQ(received->JobName, u"forwarded");
    EXPECT_EQ(ReadFile(File(received)), "data of forwarded\n");
    // A server that refuses the connection: the forwarding's own words become the job's error.
    app_->Dispatch.LpdForwardPort = refusedPort;
    app_->Jobs.ApplyJobAction(JOB_RELEASE, forwarded->Id(), false);
    ASSERT_TRUE(WaitForState(forwarded, STATE_ERROR));
    EXPECT_EQ(ErrorText(forwarded), u"Connection refused");
}

TEST_F(SpoolerTest, OneDispatcherAtATimeAndDeletionAfterTheDelayNeverUnderARunningDispatch) {
    SilentServer hanging;
    app_->Dispatch.LpdForwardPort = hanging.port;
    SetPrinters({{u"SLOW", OUTPUT_LPD, u"lp"}});
    app_->Settings.DeleteSpool = true;
    app_->Settings.DeleteSpoolTimeOut = 1;
    // Dispatched at once (no such virtual printer), then released towards the server that hangs: the
    // delayed deletion of the first dispatch falls due while the second one runs.
    const SpoolFilePtr job = AddJob("job", u"Gone");
    const SpoolFilePtr held = AddJob("held", u"SLOW", STATE_HELD);
    app_->Spooler.StartSpooler();
    ASSERT_TRUE(WaitForState(job, STATE_SAVED));
    Locked([&] { return job->PrinterName = u"SLOW"; });
    app_->Jobs.ApplyJobAction(JOB_RELEASE, job->Id(), false);
    ASSERT_TRUE(WaitForState(job, STATE_PRINTING));
    // Stopped and started again during the dispatch: the thread that dispatches goes on as the
    // spooler, so the next job waits for the one under way.
    const SpoolFilePtr next = AddJob("next", u"Gone");
    app_->Spooler.StopSpooler();
    app_->Spooler.StartSpooler();
    Sleep(2000);
    EXPECT_EQ(State(job), STATE_PRINTING);
    EXPECT_EQ(State(next), STATE_READY);
    EXPECT_TRUE(Listed(job));
    EXPECT_TRUE(platform::FileExists(job->LocalFileName));
    // The server gives up: the dispatch fails, and then the deletion that waited goes ahead.
    hanging.Close();
    EXPECT_TRUE(WaitUntilGone(job, 30000));
    EXPECT_FALSE(platform::FileExists(job->LocalFileName));
    EXPECT_TRUE(WaitUntilGone(next, 30000));
    // Jobs never dispatched stay.
    EXPECT_TRUE(Listed(held));
    EXPECT_TRUE(platform::FileExists(held->LocalFileName));
    EXPECT_EQ(app_->Spooler.PendingDelayedDeletes(), 0);
}

TEST_F(SpoolerTest, StoppingDuringADispatchLetsItFinishAndTakesNoFurtherJob) {
    SilentServer hanging;
    app_->Dispatch.LpdForwardPort = hanging.port;
    SetPrinters({{u"SLOW", OUTPUT_LPD, u"lp"}});
    const SpoolFilePtr job = AddJob("job", u"SLOW");
    const SpoolFilePtr next = AddJob("next", u"Gone");
    app_->Spooler.StartSpooler();
    ASSERT_TRUE(WaitForState(job, STATE_PRINTING));
    // "Stop" on the job itself shows Held until the dispatch's outcome overwrites it.
    app_->Jobs.ApplyJobAction(JOB_HOLD, job->Id(), false);
    EXPECT_EQ(State(job), STATE_HELD);
    app_->Spooler.StopSpooler();
    hanging.Close();
    app_->Spooler.JoinSpoolerThread();
    EXPECT_EQ(State(job), STATE_ERROR);
    EXPECT_NE(ErrorText(job), u"");
    EXPECT_EQ(State(next), STATE_READY);
}

TEST_F(SpoolerTest, AutoDeleteRemovesSavedJobsWithTheirFilesAndKeepsTheOthers) {
    std::vector<SpoolFilePtr> kept;
    std::vector<SpoolFilePtr> saved;
    const std::pair<const char*, int32_t> jobs[] = {{"saved1", STATE_SAVED},     {"saved2", STATE_SAVED},
                                                    {"ready", STATE_READY},      {"saved3", STATE_SAVED},
                                                    {"held", STATE_HELD},        {"error", STATE_ERROR},
                                                    {"printing", STATE_PRINTING}};
    for (const auto& [name, state] : jobs)
        (state == STATE_SAVED ? saved : kept).push_back(AddJob(name, u"PASS", state));
    // A Saved job whose data file is already gone goes too.
    saved.push_back(AddJob("vanished", u"PASS", STATE_SAVED));
    platform::RemoveFile(saved.back()->LocalFileName);
    const int postsBefore = posts_;
    app_->SpoolerEvent.Reset();
    app_->Jobs.AutoDeleteSavedJobs();
    for (const SpoolFilePtr& job : saved)
        EXPECT_FALSE(platform::FileExists(job->LocalFileName));
    EXPECT_EQ(Locked([&] { return app_->Jobs.JobList; }), kept);
    for (const SpoolFilePtr& job : kept)
        EXPECT_TRUE(platform::FileExists(job->LocalFileName));
    EXPECT_TRUE(app_->SpoolerEvent.IsSet());
    EXPECT_GT(posts_, postsBefore);
    EXPECT_EQ(Count("0\tEnd Auto Delete"), 1);
}

}  // namespace
}  // namespace velmora
