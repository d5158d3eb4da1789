// The receive-job session against a real server on a loopback socket, spoken to byte by byte.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#endif

#include <algorithm>
#include <filesystem>
#include <memory>

#include "net/job_intake.h"
#include "support/lpd_server_fixture.h"

namespace velmora {
namespace {

using test::RawLpdClient;
using test::ReadFile;
using test::U16;

constexpr char CONTROL_FILE[] = "Hclient\nPjohn\nJreport\nCA\nldfA001client\nNreport.txt\n";

class LpdSessionTest : public test::LpdServerFixture {
  protected:
    // The number of files left in PASS's spool folder.
    std::size_t SpoolFiles() {
        std::error_code ignored;
        const std::string queue = folder_.File("Spool") + test::TempFolder::SEPARATOR + "PASS";
        return static_cast<std::size_t>(
            std::distance(std::filesystem::directory_iterator(queue, ignored), {}));
    }
    // Once the sessions ended: no job, and no spool file left behind.
    void ExpectNothingKept() {
        WaitForSessions();
        EXPECT_EQ(JobCount(), 0u);
        EXPECT_EQ(SpoolFiles(), 0u);
    }
    // The number of log lines with the text.
    long Count(const std::string& text) {
        const std::vector<std::string> lines = LogMessages();
        return std::count_if(lines.begin(), lines.end(),
                             [&](const std::string& line) { return line.find(text) != std::string::npos; });
    }
    bool LogHas(const std::string& text) { return Count(text) > 0; }
    // A client whose queue line for PASS was accepted.
    std::unique_ptr<RawLpdClient> Receiving() {
        auto client = std::make_unique<RawLpdClient>(port_);
        EXPECT_TRUE(client->Send("\x02PASS\n"));
        EXPECT_EQ(client->Reply(), 0);
        return client;
    }
    // A data file line with its count, and after its acknowledgement the bytes (no end byte).
    static void SendData(RawLpdClient& client, const std::string& count, const std::string& bytes,
                         const std::string& name = "dfA001client") {
        ASSERT_TRUE(client.Send("\x03" + count + " " + name + "\n"));
        ASSERT_EQ(client.Reply(), 0);
        ASSERT_TRUE(client.Send(bytes));
    }
    std::string Data(std::size_t index) {
        return ReadFile(platform::UnicodeToAnsi(Job(index)->LocalFileName));
    }
};

TEST_F(LpdSessionTest, ACompleteJobIsRegisteredWithItsFieldsAndDataAndEveryStepLogged) {
    app_->Settings.LogLevel = 2;
    const std::string data = "%!PS\nshowpage\n";
    ASSERT_TRUE(test::SendLpdJob(port_, "PASS", CONTROL_FILE, data));
    ASSERT_EQ(WaitForJobs(1), 1u);
    const SpoolFilePtr job = Job(0);
    EXPECT_EQ(job->State, STATE_READY);
    EXPECT_EQ(job->Owner, u"john");  // the control file's fields are the unit tests' business
    EXPECT_EQ(job->ControlFile, U16(CONTROL_FILE));
    EXPECT_EQ(job->FileSize, u"14 bytes");
    EXPECT_EQ(Data(0), data);
    EXPECT_TRUE(job->LocalFileName.starts_with(app_->SpoolFolder + u"PASS" + platform::PATH_SEPARATOR));
    EXPECT_EQ(posts_, 1);
    EXPECT_TRUE(app_->SpoolerEvent.IsSet());
    for (const std::string line :
         {"): Sent acknowledgement for queue reception", "): Sent ACK for CFA reception",
          "): Sent ACK for DFA reception", "): CFA Length = 51, CFA Name = cfA001client",
          "): Add Spool Job:report, Class:A, Name:report.txt, User:john, Type:N/A, Queue:PASS"})
        EXPECT_TRUE(LogHas(line)) << line;
}

TEST_F(LpdSessionTest, QueuesMatchExactlyHoldingQueuesHoldAndOtherCommandsGetNoReply) {
    for (const std::string queue : {"pass", "PASS\r", "NONE"}) {
        RawLpdClient client(port_);
        ASSERT_TRUE(client.Send("\x02" + queue + "\n"));
        EXPECT_EQ(client.Reply(), 1) << queue;
        EXPECT_TRUE(client.WaitClosed()) << queue;
    }
    EXPECT_TRUE(LogHas("): Queue pass does not exist"));
    RawLpdClient other(port_);
    ASSERT_TRUE(other.Send("\x04PASS\n"));
    EXPECT_TRUE(other.WaitClosed());
    WaitForSessions();
    EXPECT_TRUE(LogHas("): Unknown method (modeLPD=4)"));
    EXPECT_EQ(JobCount(), 0u);
    // Trailing spaces of the queue name do not count.
    ASSERT_TRUE(test::SendLpdJob(port_, "HOLD  ", "Nheld\n", "x"));
    ASSERT_EQ(WaitForJobs(1), 1u);
    EXPECT_EQ(Job(0)->State, STATE_HELD);
    EXPECT_EQ(Job(0)->StateText, u"Held");
}

TEST_F(LpdSessionTest, DataFilesAreStreamedConcatenatedAndEndAtTheirLengthOrTheClose) {
    std::string first(10000, '\0');
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<char>(i * 7);
    {
        auto client = Receiving();
        EXPECT_EQ(client->SendFile('\x03', "dfA001client", first, '\x05'), 0);  // any end byte will do
        EXPECT_EQ(client->SendFile('\x03', "dfB001client", "second file"), 0);
        EXPECT_EQ(client->SendFile('\x02', "cfA001client", "Nboth\n"), 0);
    }
    ASSERT_EQ(WaitForJobs(1), 1u);
    EXPECT_EQ(Data(0), first + "second file");
    EXPECT_EQ(Job(0)->ReceivedFileName, u"cfA001client");
    EXPECT_EQ(Job(0)->DocumentName, u"both");
    // A length of 0 (RFC 1179's "unknown"), or the twelve nines stream-mode clients send: until the close.
    std::size_t jobs = 1;
    for (const std::string count : {"0", "999999999999"}) {
        const std::string data = "streamed " + count + std::string(200000, 'z');
        {
            auto client = Receiving();
            EXPECT_EQ(client->SendFile('\x02', "cfA001client", "Nstream\n"), 0);
            SendData(*client, count, data);
        }
        ASSERT_EQ(WaitForJobs(++jobs), jobs) << count;
        EXPECT_EQ(Data(jobs - 1), data) << count;
    }
    // A close after the last byte, without the end byte, completes the job.
    SendData(*Receiving(), "5", "hello");
    ASSERT_EQ(WaitForJobs(++jobs), jobs);
    EXPECT_EQ(Data(jobs - 1), "hello");
    // Less than was announced, also of a length beyond 32 bits, does not.
    for (const std::string count : {"10", "3221225472"}) {
        SendData(*Receiving(), count, "hello");
        WaitForSessions();
        EXPECT_EQ(JobCount(), jobs);
        EXPECT_TRUE(
            LogHas(", error=CONNECTION_CLOSED, total_size=" + count + ", size_already_read=0, size_read=0)"));
        EXPECT_EQ(SpoolFiles(), jobs);
    }
}

TEST_F(LpdSessionTest, AbortsAndUnknownSubcommands) {
    {
        auto client = Receiving();
        // An unknown subcommand gets no reply, so the next line may arrive with it.
        const std::string control = CONTROL_FILE;
        ASSERT_TRUE(client->Send("\x07whatever\n\x02" + std::to_string(control.size()) + " cfA001client\n"));
        ASSERT_EQ(client->Reply(), 0);
        ASSERT_TRUE(client->Send(control + std::string(1, '\0')));
        EXPECT_EQ(client->Reply(), 0);
        // Aborted even after a complete job's acknowledgement: nothing is kept.
        EXPECT_EQ(client->SendFile('\x03', "dfA001client", "data"), 0);
        ASSERT_TRUE(client->Send("\x01\n"));
        EXPECT_EQ(client->Reply(), 0);
        EXPECT_TRUE(client->WaitClosed());
    }
    ExpectNothingKept();
    EXPECT_TRUE(LogHas("): Received command to abort job"));
}

TEST_F(LpdSessionTest, SilenceInTheMiddleOfAFileEndsTheSessionWithANack) {
    app_->LpdServer.ReceiveTiming.Set({10, 50});  // half a second of silence instead of ten
    auto client = Receiving();
    SendData(*client, "100", std::string(40, 'x'));
    EXPECT_EQ(client->Reply(), 1);
    EXPECT_TRUE(client->WaitClosed());
    ExpectNothingKept();
    EXPECT_TRUE(LogHas(", error=ERROR_INTERNAL_TIMEOUT, total_size=100, size_already_read=0, size_read=0)"));
    // A client that keeps the connection open after its last file loses the job too.
    auto idle = Receiving();
    EXPECT_EQ(idle->SendFile('\x03', "dfA001client", "data"), 0);
    EXPECT_TRUE(idle->WaitClosed());
    WaitForSessions();
    EXPECT_EQ(JobCount(), 0u);
    EXPECT_TRUE(LogHas(", error=ERROR_INTERNAL_TIMEOUT, size_read=0)"));
    // One that names its queue and then says nothing is closed by the listener after the same silence.
    EXPECT_TRUE(Receiving()->WaitClosed());
    // Acknowledged once its control file came, the job is kept, without the further file that never ended.
    auto complete = Receiving();
    EXPECT_EQ(complete->SendFile('\x03', "dfA001client", "data"), 0);
    EXPECT_EQ(complete->SendFile('\x02', "cfA001client", CONTROL_FILE), 0);
    SendData(*complete, "100", "partial", "dfA002client");
    EXPECT_EQ(complete->Reply(), 1);
    EXPECT_TRUE(complete->WaitClosed());
    ASSERT_EQ(WaitForJobs(1), 1u);
    EXPECT_EQ(Data(0), "data");
    EXPECT_TRUE(LogHas("): Reception ended after the job was acknowledged; the job is kept: "));
}

TEST_F(LpdSessionTest, OversizedAndNegativeControlFilesAreRefused) {
    for (const std::string count : {"2000000", "-5", "-1"}) {
        auto client = Receiving();
        ASSERT_TRUE(client->Send("\x02" + count + " cfA001client\n"));
        ASSERT_EQ(client->Reply(), 0);
        EXPECT_EQ(client->Reply(), 1) << count;
        EXPECT_TRUE(client->WaitClosed());
    }
    ExpectNothingKept();
    EXPECT_TRUE(LogHas(", error=ERROR_ALLOCATION, total_size=2000000, size_read=0)"));
}

TEST_F(LpdSessionTest, AFailedSpoolWriteIsAFailedReception) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no limit on the size of the files a process writes to fail a write with";
#else
    // The data file outgrows what the process may write: the spool file cannot take it.
    signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = 256 * 1024;
    setrlimit(RLIMIT_FSIZE, &limited);
    auto client = Receiving();
    EXPECT_EQ(client->SendFile('\x03', "dfA001client", std::string(400 * 1024, 'x')), 1);
    EXPECT_TRUE(client->WaitClosed());
    ExpectNothingKept();
    setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_TRUE(LogHas("): Unable to write the spool file "));
#endif
}

TEST_F(LpdSessionTest, StressModeDeletesReceivedJobsOnTheDesktopOnlyAndSpoolNamesNeverCollide) {
    app_->Settings.Stress = 1;
    ASSERT_TRUE(test::SendLpdJob(port_, "PASS", CONTROL_FILE, "data"));
    ExpectNothingKept();
    app_->SetServiceMode(true);
    ASSERT_TRUE(test::SendLpdJob(port_, "PASS", CONTROL_FILE, "data"));
    EXPECT_EQ(WaitForJobs(1), 1u);
    EXPECT_EQ(posts_, 0);  // no window to notify in the service
    // Spool names end in the thread number and ".tmp" and are made unique.
    const SpoolFilePtr first = CreateSpoolJob(app_->SpoolFolder, u"PASS", 77);
    const SpoolFilePtr second = CreateSpoolJob(app_->SpoolFolder, u"PASS", 77);
    EXPECT_NE(first->LocalFileName, second->LocalFileName);
    EXPECT_TRUE(platform::FileExists(first->LocalFileName) && platform::FileExists(second->LocalFileName));
    EXPECT_TRUE(first->LocalFileName.ends_with(u"77.tmp"));
}

// Hundreds of connections that name their queue and go silent, then no descriptor left at all: jobs still
// get through, the listener reports the failed accepts and serves again once descriptors are free.
TEST_F(LpdSessionTest, IdleConnectionsAndNoDescriptorsLeftNeverStopTheListener) {
#ifndef _WIN32
    std::vector<std::unique_ptr<RawLpdClient>> idle;
    for (int i = 0; i < 300; ++i) {
        idle.push_back(std::make_unique<RawLpdClient>(port_));
        ASSERT_TRUE(idle.back()->Send("\x02PASS\n"));
        if (i % 50 == 0) {
            ASSERT_TRUE(test::SendLpdJob(port_, "PASS", CONTROL_FILE, "during"));
        }
    }
    for (const auto& client : idle)
        ASSERT_EQ(client->Reply(), 0);
    EXPECT_EQ(WaitForJobs(6), 6u);
    EXPECT_EQ(SpoolFiles(), 6u);  // silent connections have no spool file
    // They wait on the listener's thread, not on threads of their own.
    EXPECT_GE(app_->LpdServer.ActiveConnections(), 300);
    EXPECT_LT(std::distance(std::filesystem::directory_iterator("/proc/self/task"), {}), 100);
    // Every descriptor taken but one, which the next client takes: the listener's accept has none.
    rlimit previous{};
    getrlimit(RLIMIT_NOFILE, &previous);
    rlimit limited = previous;
    limited.rlim_cur = std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}) + 16;
    setrlimit(RLIMIT_NOFILE, &limited);
    std::vector<int> filler;
    for (int fd; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);
    close(filler.back());
    filler.pop_back();
    auto waiting = std::make_unique<RawLpdClient>(port_);
    ASSERT_TRUE(waiting->Connected());
    // WSAEMFILE; the log file cannot be opened either, so the desktop's message shows the failure.
    const auto reported = [this] {
        std::lock_guard<std::mutex> lock(seamLock_);
        return std::count(messages_.begin(), messages_.end(), u"0\tLPD Server: ERROR ON ACCEPT (10024)") > 0;
    };
    EXPECT_TRUE(test::WaitUntil(reported, 5000));
    for (const int fd : filler)
        close(fd);
    setrlimit(RLIMIT_NOFILE, &previous);
    idle.clear();
    ASSERT_TRUE(waiting->Send("\x02PASS\n"));
    EXPECT_EQ(waiting->Reply(), 0);
    EXPECT_TRUE(test::SendLpdJob(port_, "PASS", CONTROL_FILE, "after"));
    EXPECT_EQ(WaitForJobs(7), 7u);
    // A stop closes the connections that have not begun a job: these and the one that waited above.
    for (int i = 0; i < 3; ++i)
        idle.push_back(Receiving());
    app_->LpdServer.StopLpdServer();
    EXPECT_TRUE(LogHas("\tLPD Server: 4 connection(s) without a job yet closed by the stop"));
    EXPECT_TRUE(idle.back()->WaitClosed());
#endif
}

constexpr uint32_t FIRST_LOOPBACK = 0x7F000001;
constexpr uint32_t SECOND_LOOPBACK = 0x7F000002;

TEST_F(LpdSessionTest, OnlyTheClientsTheListNamesMayPrint) {
    if (!RawLpdClient(port_, SECOND_LOOPBACK).Connected())
        GTEST_SKIP() << "no connection from 127.0.0.2 to 127.0.0.1 here";
    // Whether the queue line of a client from that address is answered: a refused one is closed unread.
    const auto answered = [this](uint32_t source) {
        RawLpdClient client(port_, source);
        return client.Send("\x02PASS\n") && client.Reply() == 0;
    };
    // Parsing the entries is the unit tests' business; here the listener applies the list it is given.
    const struct {
        const char16_t* List;
        bool First, Second;
    } cases[] = {
        {u"", true, true},
        {u"127.0.0.2", false, true},
        {u"10.0.0.5 127.0.0.0/31", true, false},
        {u"bogus 127.0.0.1/33", true, true},  // nothing readable: nobody is locked out
    };
    app_->Settings.LogLevel = 2;
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::UnicodeToAnsi(c.List));
        // The listener reads a changed list before its next connection.
        app_->Settings.SetAllowedClients(c.List);
        EXPECT_EQ(answered(FIRST_LOOPBACK), c.First);
        EXPECT_EQ(answered(SECOND_LOOPBACK), c.Second);
    }
    EXPECT_TRUE(test::SendLpdJob(port_, "PASS", CONTROL_FILE, "allowed"));
    EXPECT_EQ(WaitForJobs(1), 1u);
    EXPECT_EQ(Count("0\tLPD Server: Refused 1 connection(s) from 127.0.0.1: not in AllowedClients"), 1);
    EXPECT_EQ(Count("0\tLPD Server: Refused 1 connection(s) from 127.0.0.2: not in AllowedClients"), 1);
    EXPECT_EQ(Count("0\tLPD Server: Clients accepted: 10.0.0.5, 127.0.0.0/31"), 1);
    // A refused client has no session: the 6 answered above, the probe and the job.
    EXPECT_EQ(Count("Accept from"), 8);
}

TEST_F(LpdSessionTest, AFloodOfRefusedConnectionsWritesOneLineAMinutePerAddress) {
#ifdef _WIN32
    constexpr int REFUSED = 500;
#else
    constexpr int REFUSED = 10000;
#endif
    app_->Settings.SetAllowedClients(u"127.0.0.2");
    for (int i = 0; i < REFUSED; ++i) {
        RawLpdClient client(port_);
        ASSERT_TRUE(client.WaitClosed()) << i;
    }
    EXPECT_EQ(Count("Refused"), 1);
    EXPECT_TRUE(LogHas("0\tLPD Server: Refused 1 connection(s) from 127.0.0.1: not in AllowedClients"));
    // The stop writes the count of those not logged yet.
    app_->LpdServer.StopLpdServer();
    EXPECT_TRUE(LogHas("0\tLPD Server: Refused " + std::to_string(REFUSED - 1) +
                       " connection(s) from 127.0.0.1: not in AllowedClients"));
}

TEST_F(LpdSessionTest, StoppingTheServerEndsTheListenerAndAPortInUseIsReported) {
    app_->LpdServer.StopLpdServer();
    EXPECT_EQ(LogMessages().back(), "0\tLPD Server is stopped");
    RawLpdClient refused(port_);
    EXPECT_FALSE(refused.Connected());
    // Another program listens on the port: the listener reports it and ends.
    const platform::SocketHandle other = platform::CreateTcpSocket();
    ASSERT_EQ(platform::BindLoopback(other, 0), 0);
    ASSERT_EQ(platform::Listen(other, 5), 0);
    const uint16_t taken = platform::LocalPort(other);
    app_->Settings.PortLPD = taken + 65536;  // only the low 16 bits are bound
    app_->LpdServer.StartLpdServer();
    app_->LpdServer.StopLpdServer();
    platform::CloseSocket(other);
    const std::string expected = "0\tLPD Server: Unable to bind Port : " + std::to_string(taken + 65536);
    EXPECT_EQ(LogMessages().back(), expected);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(platform::UnicodeToAnsi(messages_[0]), expected);
}

}  // namespace
}  // namespace velmora
