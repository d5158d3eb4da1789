// The LPD forwarding client against the own server, a scripted server, LPRng's lpd, cups-lpd and via
// velmora-lpr; real LPD clients (rlpr, the CUPS lpd back end, LPRng's lpr) against the own server.
#include "output/lpd_client.h"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>
#include <tuple>

#include "platform/ansi.h"
#include "platform/identity.h"
#include "platform/socket.h"
#include "support/cups_lpd_test_util.h"
#include "support/cups_server.h"
#include "support/lpd_server_fixture.h"
#include "support/lprng_test_util.h"
#include "text/code_page.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::U16;

constexpr const char* REFUSALS[] = {"The print request is rejected", "The control descriptor is rejected",
                                    "The control file is rejected", "The data descriptor is rejected",
                                    "The data file is rejected"};

struct Request {
    std::u16string Host = u"127.0.0.1";
    std::u16string Queue = u"PASS";
    std::u16string JobClass;
    std::u16string JobName;
    std::u16string HostName = u"printhost";
    std::u16string UserName = u"alice";
    std::string File;
    std::u16string Document = u"report.txt";
};

CLpdSendResult Forward(int port, const Request& job, const CLpdClientTimeouts& timeouts = {}) {
    return SendJobByLpd(CLpdJobRequest{port, job.Host, job.Queue, job.JobClass, job.JobName, job.HostName,
                                       job.UserName, U16(job.File), job.Document, timeouts});
}

std::string SocketText(int code) {
    return platform::UnicodeToAnsi(platform::SocketErrorText(code));
}

std::string RandomBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::mt19937 random(seed);
    for (char& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

int LoopbackSocket(int receiveBuffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

// A one-connection LPD server answering the five steps of a job (queue line, control file line and file,
// data file line and file) with its script's bytes (0 past its end); without keepData it only counts the
// data file's bytes. HANG stops reading; CLOSE_COMMAND closes unanswered.
class ScriptedServer {
  public:
    static constexpr int HANG = -1;
    static constexpr int CLOSE_COMMAND = -2;
    explicit ScriptedServer(std::vector<int> replies, int receiveBuffer = 0, bool keepData = true)
        : replies_(std::move(replies)), keepData_(keepData), listener_(LoopbackSocket(receiveBuffer)) {
        listen(listener_, 4);
        port_ = platform::LocalPort(listener_);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedServer() { Finish(); }
    uint16_t Port() const { return port_; }
    // Ends the server once the client is done (and has closed); everything it received.
    const std::string& Finish() {
        stop_ = true;
        shutdown(listener_, SHUT_RDWR);  // ends a wait for a connection
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
        listener_ = -1;
        return received_;
    }
    bool Accepted() const { return accepted_; }
    int64_t DataCounted() const { return counted_; }

  private:
    // Reads that many bytes, kept or only counted; false when the client closed first.
    bool Read(int fd, int64_t wanted, bool keep) {
        char buffer[65536];
        while (wanted > 0) {
            const ssize_t n = recv(fd, buffer, std::min<int64_t>(sizeof buffer, wanted), 0);
            if (n <= 0)
                return false;
            if (keep)
                received_.append(buffer, static_cast<std::size_t>(n));
            else
                counted_ += n;
            wanted -= n;
        }
        return true;
    }
    void Run() {
        const int fd = accept(listener_, nullptr, nullptr);
        if (fd < 0)
            return;
        accepted_ = true;
        int64_t count = 0;
        for (std::size_t step = 0; step < 5; ++step) {
            const int reply = step < replies_.size() ? replies_[step] : 0;
            if (reply == HANG) {
                while (!stop_)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                break;
            }
            const std::size_t start = received_.size();
            const bool file = step == 2 || step == 4;
            bool read = !file || Read(fd, count + 1, step == 2 || keepData_);
            while (read && !file && received_.find('\n', start) == std::string::npos)
                read = Read(fd, 1, true);
            if (!read)
                break;
            if (step == 1 || step == 3)
                count = std::atoll(received_.c_str() + start + 1);
            if (reply == CLOSE_COMMAND)
                break;
            const char byte = static_cast<char>(reply);
            send(fd, &byte, 1, MSG_NOSIGNAL);
            if (reply != 0 || step == 4) {
                while (Read(fd, 1, true)) {
                }
                break;
            }
        }
        close(fd);
    }
    std::vector<int> replies_;
    bool keepData_;
    int listener_;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<bool> accepted_{false};
    std::string received_;
    int64_t counted_ = 0;
    std::thread thread_;
};

class LpdClientTest : public test::LpdServerFixture {
  protected:
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = folder_.File(name);
        test::WriteFile(path, content);
        return path;
    }
    // The job at the index arrived with exactly these bytes and this control file.
    void ExpectJob(std::size_t index, const std::string& data, const std::string& controlFile) {
        ASSERT_GT(WaitForJobs(index + 1), index) << "job " << index << " did not arrive";
        const SpoolFilePtr job = Job(index);
        EXPECT_TRUE(ReadFile(platform::UnicodeToAnsi(job->LocalFileName)) == data) << "job " << index;
        EXPECT_EQ(ToBytes1252(job->ControlFile), controlFile);
        EXPECT_EQ(job->PrinterName, u"PASS");
        EXPECT_EQ(job->ReceivedFileName, u"dfA001");
    }
};

TEST_F(LpdClientTest, AJobBeyond32BitsIsReceivedAndForwardedWhole) {
    // A sparse file marked at each end goes to the own server's spool, and from there to a counting server.
    constexpr int64_t SIZE = int64_t{3} << 30;
    std::error_code ignored;
    if (std::filesystem::space(folder_.Path(), ignored).available < uint64_t{8} << 30)
        GTEST_SKIP() << "the spool copy needs 3 GiB of free disk space";
    const std::string source = folder_.File("large.bin");
    const int fd = open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, "head", 4, 0), 4);
    ASSERT_EQ(pwrite(fd, "tail", 4, SIZE - 4), 4);
    close(fd);
    Request job;
    job.File = source;
    CLpdSendResult outcome = Forward(port_, job);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    ASSERT_EQ(WaitForJobs(1), 1u);
    job.File = platform::UnicodeToAnsi(Job(0)->LocalFileName);
    EXPECT_EQ(Job(0)->FileSize, u"3221225472 bytes");
    std::ifstream spooled(job.File, std::ios::binary);
    std::string ends(8, '\0');
    spooled.read(ends.data(), 4).seekg(-4, std::ios::end).read(ends.data() + 4, 4);
    EXPECT_EQ(ends, "headtail");
    EXPECT_EQ(static_cast<int64_t>(spooled.tellg()), SIZE);
    ScriptedServer server({}, 0, false);
    outcome = Forward(server.Port(), job);
    EXPECT_EQ(outcome.Code, 0) << outcome.Text;
    EXPECT_NE(server.Finish().find(std::string(1, '\x03') + "3221225472 dfA001\n"), std::string::npos);
    EXPECT_EQ(server.DataCounted(), SIZE + 1);
}

TEST_F(LpdClientTest, RefusalsSetUpFailuresAndTheControlFileLimit) {
    Request job;
    job.File = Write("report.txt", "Quarterly report\n");
    // A bound port that nobody listens on.
    const int unused = LoopbackSocket();
    const struct {
        std::u16string Queue, Host;
        int Port, Code;
        std::string Text;
    } cases[] = {
        {u"PASS", u"127.0.0.1", platform::LocalPort(unused), 1, SocketText(platform::WSA_CONNECTION_REFUSED)},
        {u"PASS", u"no-such-host.invalid", port_, 1, "Unable to resolve server: no-such-host.invalid\n"},
    };
    for (const auto& c : cases) {
        job.Queue = c.Queue;
        job.Host = c.Host;
        const CLpdSendResult outcome = Forward(c.Port, job);
        EXPECT_EQ(outcome.Code, c.Code) << c.Text;
        EXPECT_EQ(outcome.Text, c.Text);
    }
    close(unused);
    job.Queue = job.Host = u"";  // 127.0.0.1 and PASS
    // H, N, P and print lines: 16 bytes besides the document name.
    job.HostName = u"h";
    job.UserName = u"u";
    job.Document = std::u16string(4095 - 16, u'd');
    CLpdSendResult outcome = Forward(port_, job);
    EXPECT_EQ(outcome.Code, 0) << outcome.Text;
    ExpectJob(0, ReadFile(job.File), "Hh\nN" + std::string(4095 - 16, 'd') + "\nPu\nldfA001\n");
    // One byte more, also by the class and job name lines, is refused before any connection.
    ScriptedServer server({});
    const std::u16string longer = job.Document + u'd';
    for (const auto& [document, jobName, size] :
         {std::tuple{longer, std::u16string(), "4096"},
          std::tuple{std::u16string(u"r"), std::u16string(4080, u'j'), "4099"}}) {
        job.Document = document;
        job.JobName = jobName;
        outcome = Forward(server.Port(), job);
        EXPECT_EQ(outcome.Code, 1);
        EXPECT_EQ(outcome.Text,
                  "The control file is too long (" + std::string(size) + " bytes, at most 4095)");
    }
    server.Finish();
    EXPECT_FALSE(server.Accepted());
}

TEST(LpdClientScriptedTest, ExactBytesAndEveryRefusal) {
    test::TempFolder folder;
    const std::string data = RandomBytes(10000, 5);
    test::WriteFile(folder.File("data.bin"), data);
    Request job;
    job.File = folder.File("data.bin");
    job.JobClass = u"Ledger";
    job.JobName = u"Z\u00f6e's job";
    job.UserName = u"Zo\u00eb";
    job.Document = u"Caf\u00e9.txt";
    // The document name in code page 1252, user, class and job name in the system's conversion (UTF-8).
    const std::string controlFile =
        "Hprinthost\nNCaf\xe9.txt\nPZo\xc3\xab\nCLedger\nJZ\xc3\xb6"
        "e's job\nldfA001\n";
    const std::string exchange = "\x02PASS\n\x02" + std::to_string(controlFile.size()) + " cfA001\n" +
                                 controlFile + std::string(1, '\0') + "\x03" + std::to_string(data.size()) +
                                 " dfA001\n" + data + std::string(1, '\0');
    {
        ScriptedServer server({0, 0, 0, 0, 0});
        const CLpdSendResult outcome = Forward(server.Port(), job);
        EXPECT_EQ(outcome.Code, 0);
        EXPECT_EQ(outcome.Text, "The file is printed");
        EXPECT_TRUE(server.Finish() == exchange) << server.Finish().substr(0, 200);
    }
    // A refusal at each step, or a hang-up instead of an answer, ends the exchange there.
    const std::size_t stepEnds[] = {exchange.find('\n') + 1, exchange.find("cfA001\n") + 7,
                                    exchange.find("cfA001\n") + 7 + controlFile.size() + 1,
                                    exchange.rfind("dfA001\n") + 7, exchange.size()};
    for (std::size_t step = 0; step < 6; ++step) {
        std::vector<int> replies(step % 5, 0);
        replies.push_back(step == 5 ? ScriptedServer::CLOSE_COMMAND : 1);
        ScriptedServer server(replies);
        const CLpdSendResult outcome = Forward(server.Port(), job);
        EXPECT_EQ(outcome.Code, -1) << step;
        EXPECT_EQ(outcome.Text, REFUSALS[step % 5]);
        EXPECT_TRUE(server.Finish() == exchange.substr(0, stepEnds[step % 5])) << step;
    }
    // A file that cannot be opened or is empty (a zero count reads "until the close") sends not a byte.
    test::WriteFile(folder.File("empty.bin"), "");
    const std::pair<std::string, std::string> unsent[] = {
        {"absent.bin", "The file is not found (reason:" + std::string(std::strerror(ENOENT)) + ")"},
        {"empty.bin", "The file is empty"}};
    for (const auto& [name, text] : unsent) {
        ScriptedServer server({});
        Request failing = job;
        failing.File = folder.File(name);
        const CLpdSendResult outcome = Forward(server.Port(), failing);
        EXPECT_EQ(outcome.Code, -1);
        EXPECT_EQ(outcome.Text, text);
        EXPECT_EQ(server.Finish(), "");
    }
}

TEST(LpdClientScriptedTest, TimeLimits) {
    test::TempFolder folder;
    test::WriteFile(folder.File("report.txt"), "Quarterly report\n");
    // A file far larger than the connection's buffers, for a server that stops taking data.
    test::WriteFile(folder.File("big.bin"), "");
    std::filesystem::resize_file(folder.File("big.bin"), 64 * 1024 * 1024);
    Request job;
    job.File = folder.File("report.txt");
    const CLpdClientTimeouts quick{300, 300};
    const std::string timedOut = SocketText(platform::WSA_TIMED_OUT);
    for (const auto& [hangAt, file] : {std::pair{0, "report.txt"}, std::pair{4, "big.bin"}}) {
        std::vector<int> replies(hangAt, 0);
        replies.push_back(ScriptedServer::HANG);
        ScriptedServer server(replies, 4096);
        Request hanging = job;
        hanging.File = folder.File(file);
        const CLpdSendResult outcome = Forward(server.Port(), hanging, quick);
        EXPECT_EQ(outcome.Code, -1) << file;
        EXPECT_EQ(outcome.Text, timedOut);
    }
    // A listener whose accept queue is full drops further connection requests: connecting never ends.
    const int listener = LoopbackSocket();
    ASSERT_EQ(listen(listener, 0), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(platform::LocalPort(listener));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> fillers;
    for (int i = 0; i < 2; ++i) {
        fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const CLpdSendResult outcome = Forward(platform::LocalPort(listener), job, quick);
    EXPECT_EQ(outcome.Code, 1);
    EXPECT_EQ(outcome.Text, timedOut);
    for (const int filler : fillers)
        close(filler);
    close(listener);
}

TEST(LpdClientLprngTest, LprngReceivesAndPrintsTheJob) {
    test::TempFolder folder;
    const std::string printer = folder.File("printer.out");
    test::WriteFile(printer, "");
    test::LprngLpd lpd(std::string(VELMORA_CLIENTS_DIR) + "/lprng", folder.Path(), "lp=" + printer + ":sh");
    std::string reason;
    if (!lpd.Start(&reason))
        GTEST_SKIP() << reason;
    const auto printed = [&](std::size_t size) {
        test::WaitUntil([&] { return ReadFile(printer).size() >= size; }, 30000);
        return ReadFile(printer);
    };
    // A binary file of many pieces is printed byte for byte, by the print line of the data file (format l).
    const std::string binary = RandomBytes(1024 * 1024, 11);
    Request job;
    job.File = folder.File("scan.bin");
    test::WriteFile(job.File, binary);
    job.JobClass = u"Ledger";
    job.JobName = u"Quarterly figures";
    CLpdSendResult outcome = Forward(lpd.Port(), job);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    EXPECT_EQ(outcome.Text, "The file is printed");
    EXPECT_TRUE(printed(binary.size()) == binary) << ReadFile(printer).size() << " bytes printed";
    job.Queue = u"NOPE";
    outcome = Forward(lpd.Port(), job);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_EQ(outcome.Text, "The print request is rejected");
}

// cups-lpd hands the job to a private scheduler whose raw queue prints it on a stand-in printer.
constexpr char CUPS_QUEUE[] = "ledger";

class CupsLpdForwardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (test::CupsLpdProgram().empty())
            GTEST_SKIP() << "cups-lpd is not installed (scripts/setup.sh installs it)";
        ASSERT_TRUE(printer_.Listening());
        ASSERT_TRUE(cups_.Start()) << cups_.Failure();
        ASSERT_TRUE(cups_.AddRawQueue(CUPS_QUEUE, printer_.DeviceUri())) << cups_.Failure();
        std::string failure;
        ASSERT_TRUE(test::ShareCupsQueue(CUPS_QUEUE, true, &failure)) << failure;
        lpd_ = std::make_unique<test::CupsLpd>(cups_.SocketPath());
        ASSERT_TRUE(lpd_->Start(&failure)) << failure;
    }
    void TearDown() override {
        // cups-lpd goes before the scheduler it talks to.
        lpd_.reset();
    }
    test::TempFolder folder_;
    // Only keeps a broken set-up from hanging the test.
    static constexpr int PRINT_MILLISECONDS = 60000;
    test::FakePrinter printer_;
    test::CupsServer cups_;
    std::unique_ptr<test::CupsLpd> lpd_;
};

// Printed, and completed by the scheduler with the J line's name and the P line's user.
TEST_F(CupsLpdForwardTest, AJobIsPrintedUnchangedWithItsNameAndUser) {
    Request job;
    job.Queue = U16(CUPS_QUEUE);
    job.File = folder_.File("scan.bin");
    job.JobName = u"Scan";
    job.UserName = u"bob";
    const std::string binary = RandomBytes(1024 * 1024 + 17, 7);
    test::WriteFile(job.File, binary);
    const CLpdSendResult outcome = Forward(lpd_->Port(), job);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    std::string printed;
    ASSERT_TRUE(printer_.NextDocument(&printed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    EXPECT_TRUE(printed == binary) << "the printed document differs: " << printed.size() << " bytes";
    cups_job_t* jobs = nullptr;
    int count = 0;
    const auto completed = [&] {
        cupsFreeJobs(count, jobs);
        count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
        return count == 1 && jobs[0].state == IPP_JSTATE_COMPLETED;
    };
    EXPECT_TRUE(test::WaitUntil(completed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    if (count == 1) {
        EXPECT_STREQ(jobs[0].title, "Scan");
        EXPECT_STREQ(jobs[0].user, "bob");
    }
    cupsFreeJobs(count, jobs);
}

// Real clients sending a 5 MB binary file to the own server.
class LpdClientsTest : public LpdClientTest {
  protected:
    // Runs a client to its end; its exit code (-1 when it had to be killed). What it printed goes to output_.
    int Run(const std::string& program, const std::vector<std::string>& arguments,
            ChildProcess::Options options = {}) {
        options.CaptureErrors = true;
        ChildProcess client(program, arguments, options);
        return client.RunToEnd(60000, &output_);
    }
    // The job received last carries exactly the bytes of the file.
    void ExpectReceived(std::size_t count, const std::string& what) {
        ASSERT_EQ(WaitForJobs(count), count) << what << " was not received\n" << output_;
        const SpoolFilePtr job = Job(count - 1);
        const std::string data = ReadFile(platform::UnicodeToAnsi(job->LocalFileName));
        EXPECT_TRUE(data == scan_) << what << ": " << data.size() << " bytes received";
        EXPECT_EQ(job->PrinterName, u"PASS") << what;
    }
    std::string Scan() { return Write("scan.bin", scan_); }
    static ChildProcess::Options Options(std::vector<std::string> environment, std::string input = {},
                                         bool printChannels = false) {
        ChildProcess::Options options;
        options.Environment = std::move(environment);
        options.Input = std::move(input);
        options.PrintChannels = printChannels;
        return options;
    }
    static bool Installed(const std::string& program) { return access(program.c_str(), X_OK) == 0; }
    const std::string scan_ = RandomBytes(5 * 1024 * 1024, 7);
    std::string output_;
};

TEST_F(LpdClientsTest, Rlpr) {
    const std::string rlpr = "/usr/bin/rlpr";
    if (!Installed(rlpr))
        GTEST_SKIP() << "rlpr is not installed (scripts/setup.sh installs it)";
    const auto arguments = [&](const std::string& queue) {
        return std::vector<std::string>{"-N", "-H",        "127.0.0.1", "--port=" + std::to_string(port_),
                                        "-P", queue,       "-U",        "alice",
                                        "-J", "quarterly", "-T",        "Quarterly figures"};
    };
    auto withFile = arguments("PASS");
    withFile.push_back(Scan());
    EXPECT_EQ(Run(rlpr, withFile), 0) << output_;
    ExpectReceived(1, "rlpr");
    EXPECT_EQ(Job(0)->Owner, u"alice");
    auto missing = arguments("NOPE");
    missing.push_back(Scan());
    EXPECT_NE(Run(rlpr, missing), 0);
    EXPECT_NE(output_.find("refused our job request"), std::string::npos) << output_;
    EXPECT_EQ(JobCount(), 1u);
}

TEST_F(LpdClientsTest, CupsLpdBackEnd) {
    const std::string backend = "/usr/lib/cups/backend/lpd";
    if (!Installed(backend))
        GTEST_SKIP() << "the CUPS lpd back end is not installed (package cups)";
    const auto uri = [&](const std::string& queue, const std::string& options) {
        return "DEVICE_URI=lpd://127.0.0.1:" + std::to_string(port_) + "/" + queue + "?snmp=no&reserve=none" +
               options;
    };
    const std::string file = Scan();
    EXPECT_EQ(Run(backend, {"42", "bob", "Board minutes", "1", "", file}, Options({uri("PASS", "")})), 0)
        << output_;
    ExpectReceived(1, "CUPS");
    EXPECT_EQ(Job(0)->Owner, u"bob");
    // In stream mode from standard input it cannot know the length and announces 999999999999.
    EXPECT_EQ(Run(backend, {"44", "bob", "Board minutes", "1", ""},
                  Options({uri("PASS", "&mode=stream")}, file, true)),
              0)
        << output_;
    ExpectReceived(2, "CUPS stream standard input");
    EXPECT_NE(Run(backend, {"45", "bob", "Board minutes", "1", "", file}, Options({uri("NOPE", "")})), 0);
    EXPECT_NE(output_.find("lpd_command returning 1"), std::string::npos) << output_;
    EXPECT_EQ(JobCount(), 2u);
}

TEST_F(LpdClientsTest, LprngLpr) {
    const std::string root = std::string(VELMORA_CLIENTS_DIR) + "/lprng";
    const std::string lpr = root + "/usr/bin/lpr";
    if (!Installed(lpr))
        GTEST_SKIP() << "LPRng is not unpacked (scripts/setup.sh unpacks it into build-tools/)";
    if (Run("/usr/bin/unshare", {"--mount", "/bin/true"}) != 0) {
        GTEST_SKIP() << "no private mount namespace here for LPRng's /etc";
    }
    // LPRng reads its configuration from /etc only, and conflicts with the CUPS package: it runs unpacked,
    // in a mount namespace of its own where /etc shows its configuration files on top of the real ones.
    const std::string upper = folder_.File("etc-upper");
    const std::string work = folder_.File("etc-work");
    std::filesystem::create_directories(upper + "/lprng");
    std::filesystem::create_directories(work);
    std::filesystem::copy(root + "/etc/lprng", upper + "/lprng", std::filesystem::copy_options::recursive);
    test::WriteFile(upper + "/printcap", "");
    // One attempt per job: a refused job is not tried again ten seconds later.
    test::WriteFile(upper + "/lprng/lpd.conf", ReadFile(root + "/etc/lprng/lpd.conf") + "\nsend_try=1\n");
    const std::string script = "mount -t overlay overlay -o lowerdir=/etc,upperdir=" + upper +
                               ",workdir=" + work + " /etc || exit 99; exec \"$@\"";
    const auto runLpr = [&](const std::string& queue, std::vector<std::string> arguments,
                            const std::string& input = {}) {
        std::vector<std::string> all = {"--mount", "--propagation",
                                        "private", "/bin/sh",
                                        "-c",      script,
                                        "sh",      lpr,
                                        "-P",      queue + "@127.0.0.1%" + std::to_string(port_),
                                        "-J",      "lprng job"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Run("/usr/bin/unshare", all, Options({}, input));
    };
    const std::string file = Scan();
    EXPECT_EQ(runLpr("PASS", {file}), 0) << output_;
    ExpectReceived(1, "LPRng");
    EXPECT_EQ(Job(0)->JobName, u"lprng job");
    // Cutting through (-k) from standard input it announces a length of 0 and sends until it closes.
    EXPECT_EQ(runLpr("PASS", {"-k"}, file), 0) << output_;
    ExpectReceived(2, "LPRng cut-through");
    EXPECT_NE(runLpr("NOPE", {file}), 0);
    EXPECT_FALSE(output_.empty());
    EXPECT_EQ(JobCount(), 2u);
}

TEST_F(LpdClientsTest, VelmoraLprProgram) {
    const std::string report = Write("report.txt", "Quarterly report\n");
    const std::string scan = Write("scan.bin", RandomBytes(300000, 9));
    const struct {
        std::vector<std::string> Arguments;
        int Exit;
        std::string Output;
    } runs[] = {
        {{"-p", std::to_string(port_), "localhost", "PASS", report, scan},  // a host given by name
         0,
         report + ": The file is printed\n" + scan + ": The file is printed\n"},
        {{"-p", std::to_string(port_), "127.0.0.1", "NOPE", report},
         1,
         report + ": The print request is rejected\n"},
        {{"-p", "0", "127.0.0.1", "PASS", report}, 2, "usage: velmora-lpr"},
    };
    for (const auto& run : runs) {
        EXPECT_EQ(Run(VELMORA_LPR_PATH, run.Arguments), run.Exit) << output_;
        EXPECT_NE(output_.find(run.Output), std::string::npos) << output_;
    }
    // Many 4096-byte pieces; the job is this computer's and this account's.
    const std::string computer = platform::UnicodeToAnsi(platform::ComputerName());
    const std::string user = platform::UnicodeToAnsi(platform::UserName());
    ASSERT_FALSE(computer.empty() || user.empty());
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& path = i == 0 ? report : scan;
        ExpectJob(i, ReadFile(path), "H" + computer + "\nN" + path + "\nP" + user + "\nldfA001\n");
    }
}

}  // namespace
}  // namespace velmora
