// The LPD forwarding client against the own server, a scripted server, LPRng's lpd and via velmora-lpr.
#include "output/lpd_client.h"

#include <arpa/inet.h>
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
#include <random>
#include <thread>
#include <tuple>

#include "platform/ansi.h"
#include "platform/identity.h"
#include "platform/socket.h"
#include "support/lpd_server_fixture.h"
#include "support/lprng_test_util.h"
#include "text/code_page.h"

namespace velmora {
namespace {

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

TEST_F(LpdClientTest, JobsArriveIntactAtTheOwnServer) {
    // Many 4096-byte pieces; empty fields mean 127.0.0.1, PASS, this computer and this account.
    Request binary;
    binary.Host = binary.Queue = binary.HostName = binary.UserName = u"";
    binary.File = Write("scan.bin", RandomBytes(1024 * 1024 + 17, 3));
    binary.Document = u"scan.bin";
    CLpdSendResult outcome = Forward(port_, binary);
    EXPECT_EQ(outcome.Code, 0) << outcome.Text;
    EXPECT_EQ(outcome.Text, "The file is printed");
    const std::string computer = platform::UnicodeToAnsi(platform::ComputerName());
    const std::string user = platform::UnicodeToAnsi(platform::UserName());
    ASSERT_FALSE(computer.empty() || user.empty());
    ExpectJob(0, ReadFile(binary.File), "H" + computer + "\nNscan.bin\nP" + user + "\nldfA001\n");
}

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
    app_->Settings.LogLevel = 2;
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
    const std::vector<std::string> log = LogMessages();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const std::string& line) {
        return line.ends_with("DFA Length = 3221225472, DFA Name = dfA001");
    }));
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
        {u"NOPE", u"127.0.0.1", port_, -1, "The print request is rejected"},
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
    job.Queue = u"PASS";
    job.Host = u"127.0.0.1";
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

TEST_F(LpdClientTest, VelmoraLprProgram) {
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
        test::ChildProcess::Options options;
        options.CaptureErrors = true;
        std::string output;
        EXPECT_EQ(test::ChildProcess(VELMORA_LPR_PATH, run.Arguments, options).RunToEnd(60000, &output),
                  run.Exit)
            << output;
        EXPECT_NE(output.find(run.Output), std::string::npos) << output;
    }
    ASSERT_EQ(WaitForJobs(2), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& path = i == 0 ? report : scan;
        EXPECT_TRUE(ReadFile(platform::UnicodeToAnsi(Job(i)->LocalFileName)) == ReadFile(path)) << path;
        EXPECT_EQ(Job(i)->DocumentName, U16(path));
    }
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
    const std::string text = "Quarterly report\nline two\n";
    test::WriteFile(folder.File("report.txt"), text);
    Request job;
    job.File = folder.File("report.txt");
    job.JobClass = u"Ledger";
    job.JobName = u"Quarterly figures";
    CLpdSendResult outcome = Forward(lpd.Port(), job);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    EXPECT_EQ(outcome.Text, "The file is printed");
    // Printed as it came, by the print line of the data file (format l).
    EXPECT_TRUE(printed(text.size()) == text) << ReadFile(printer);
    // A binary file of many pieces reaches the printer byte for byte, after the first job.
    const std::string binary = RandomBytes(1024 * 1024, 11);
    test::WriteFile(folder.File("scan.bin"), binary);
    job.File = folder.File("scan.bin");
    outcome = Forward(lpd.Port(), job);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    EXPECT_TRUE(printed(text.size() + binary.size()) == text + binary);
    job.Queue = u"NOPE";
    outcome = Forward(lpd.Port(), job);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_EQ(outcome.Text, "The print request is rejected");
}

}  // namespace
}  // namespace velmora
