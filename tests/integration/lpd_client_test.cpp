// The LPD forwarding client: against this system's own server, against a scripted server that checks the
// exact bytes and answers each step as told (refusals, silence, a full accept queue), against LPRng's lpd
// as a real RFC 1179 server that prints what it receives, and through the velmora-lpr program.
#include "output/lpd_client.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

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

CLpdJobRequest ToRequest(int port, const Request& job, const CLpdClientTimeouts& timeouts = {}) {
    return CLpdJobRequest{port,         job.Host,     job.Queue,     job.JobClass, job.JobName,
                          job.HostName, job.UserName, U16(job.File), job.Document, timeouts};
}

CLpdSendResult Forward(int port, const Request& job, const CLpdClientTimeouts& timeouts = {}) {
    return SendJobByLpd(ToRequest(port, job, timeouts));
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

// What the client sends for a job that every step accepts.
std::string Exchange(const std::string& queue, const std::string& controlFile, const std::string& data) {
    return "\x02" + queue + "\n" + "\x02" + std::to_string(controlFile.size()) + " cfA001\n" + controlFile +
           std::string(1, '\0') + "\x03" + std::to_string(data.size()) + " dfA001\n" + data +
           std::string(1, '\0');
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

uint16_t PortOf(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

// An LPD server for one connection that frames what the client sends as the protocol does (queue line,
// control file line and file, data file line and file), answers each of these five steps with the byte
// its script gives (0 past the script's end), and keeps every byte received, or, without keepData, only
// counts the data file's bytes. HANG stops reading and answering; CLOSE_COMMAND closes the connection
// without an answer. After a refusal or the last step it reads until the client closes.
class ScriptedServer {
  public:
    static constexpr int HANG = -1;
    static constexpr int CLOSE_COMMAND = -2;

    explicit ScriptedServer(std::vector<int> replies, int receiveBuffer = 0, bool keepData = true)
        : replies_(std::move(replies)), keepData_(keepData), listener_(LoopbackSocket(receiveBuffer)) {
        listen(listener_, 4);
        port_ = PortOf(listener_);
        thread_ = std::thread([this] { Run(); });
    }
    ~ScriptedServer() { Finish(); }

    uint16_t Port() const { return port_; }
    // Ends the server once the client is done; everything it received.
    const std::string& Finish() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
        listener_ = -1;
        return received_;
    }
    bool Accepted() const { return accepted_; }
    // The data file's bytes and its end byte, when they were not kept.
    int64_t DataCounted() const { return counted_; }

  private:
    // Waits for something to read; false once stopped with nothing left.
    bool Readable(int fd) {
        for (;;) {
            pollfd ready{fd, POLLIN, 0};
            if (poll(&ready, 1, 50) > 0)
                return true;
            if (stop_)
                return false;
        }
    }
    // Reads until `wanted` bytes have been received in all; false when the client closed first.
    bool ReadUntil(int fd, std::size_t wanted) {
        char buffer[65536];
        while (received_.size() < wanted) {
            if (!Readable(fd))
                return false;
            const ssize_t n = recv(fd, buffer, std::min(sizeof buffer, wanted - received_.size()), 0);
            if (n <= 0)
                return false;
            received_.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }
    bool CountUntil(int fd, int64_t wanted) {
        char buffer[65536];
        while (counted_ < wanted) {
            if (!Readable(fd))
                return false;
            const ssize_t n = recv(fd, buffer, std::min<int64_t>(sizeof buffer, wanted - counted_), 0);
            if (n <= 0)
                return false;
            counted_ += n;
        }
        return true;
    }
    bool ReadLine(int fd) {
        const std::size_t start = received_.size();
        while (received_.find('\n', start) == std::string::npos) {
            if (!ReadUntil(fd, received_.size() + 1))
                return false;
        }
        return true;
    }
    // The step's line, or its file and end byte.
    bool ReadStep(int fd, std::size_t step, int64_t count) {
        if (step == 4 && !keepData_)
            return CountUntil(fd, count + 1);
        if (step == 2 || step == 4)
            return ReadUntil(fd, received_.size() + static_cast<std::size_t>(count) + 1);
        return ReadLine(fd);
    }
    void Drain(int fd) {
        char buffer[65536];
        while (Readable(fd)) {
            const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return;
            received_.append(buffer, static_cast<std::size_t>(n));
        }
    }

    void Run() {
        if (!Readable(listener_))
            return;
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
            if (!ReadStep(fd, step, count))
                break;
            if (step == 1 || step == 3)
                count = std::atoll(received_.c_str() + start + 1);
            if (reply == CLOSE_COMMAND)
                break;
            const char byte = static_cast<char>(reply);
            send(fd, &byte, 1, MSG_NOSIGNAL);
            if (reply != 0 || step == 4) {
                Drain(fd);
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
        EXPECT_TRUE(ReadFile(platform::UnicodeToAnsi(job->LocalFileName)) == data)
            << "job " << index << ": the data differ";
        EXPECT_EQ(ToBytes1252(job->ControlFile), controlFile);
        EXPECT_EQ(job->PrinterName, u"PASS");
        EXPECT_EQ(job->ReceivedFileName, u"dfA001");
    }
};

TEST_F(LpdClientTest, JobsArriveIntactAtTheOwnServer) {
    Request text;
    text.File = Write("report.txt", "Quarterly report\nline two\n\f");
    text.JobClass = u"A";
    text.JobName = u"Quarterly figures";
    CLpdSendResult outcome = Forward(port_, text);
    EXPECT_EQ(outcome.Code, 0);
    EXPECT_EQ(outcome.Text, "The file is printed");
    ExpectJob(0, ReadFile(text.File), "Hprinthost\nNreport.txt\nPalice\nCA\nJQuarterly figures\nldfA001\n");
    EXPECT_EQ(Job(0)->SourceHost, u"printhost");
    EXPECT_EQ(Job(0)->Owner, u"alice");
    EXPECT_EQ(Job(0)->JobName, u"Quarterly figures");
    EXPECT_EQ(Job(0)->JobClass, u"A");
    EXPECT_EQ(Job(0)->DocumentName, u"report.txt");

    // Far more than one 4096-byte piece, of every byte value; empty host and queue mean 127.0.0.1 and PASS,
    // empty host and user names this computer and account, and without class and job name those lines go.
    Request binary;
    binary.Host = binary.Queue = binary.HostName = binary.UserName = u"";
    binary.File = Write("scan.bin", RandomBytes(1024 * 1024 + 17, 3));
    binary.Document = u"scan.bin";
    outcome = Forward(port_, binary);
    EXPECT_EQ(outcome.Code, 0) << outcome.Text;
    const std::u16string computer = platform::ComputerName();
    const std::u16string user = platform::UserName();
    ASSERT_FALSE(computer.empty());
    ASSERT_FALSE(user.empty());
    ExpectJob(1, ReadFile(binary.File),
              "H" + platform::UnicodeToAnsi(computer) + "\nNscan.bin\nP" + platform::UnicodeToAnsi(user) +
                  "\nldfA001\n");
    EXPECT_EQ(Job(1)->SourceHost, computer);
    EXPECT_EQ(Job(1)->Owner, user);

    // A host given by name.
    Request named;
    named.Host = u"localhost";
    named.File = Write("short.txt", "x");
    outcome = Forward(port_, named);
    EXPECT_EQ(outcome.Code, 0) << outcome.Text;
    ExpectJob(2, "x", "Hprinthost\nNreport.txt\nPalice\nldfA001\n");
}

TEST_F(LpdClientTest, AJobBeyond32BitsIsReceivedAndForwardedWhole) {
    // A sparse file with a mark at each end reaches the own server's spool, and from there a server that
    // counts the bytes without keeping them.
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

TEST_F(LpdClientTest, RefusalsAndSetUpFailures) {
    Request job;
    job.File = Write("report.txt", "Quarterly report\n");

    // The server compares queue names exactly; nothing is left on its side.
    for (const char16_t* queue : {u"NOPE", u"pass"}) {
        job.Queue = queue;
        const CLpdSendResult outcome = Forward(port_, job);
        EXPECT_EQ(outcome.Code, -1);
        EXPECT_EQ(outcome.Text, "The print request is rejected");
    }
    job.Queue = u"PASS";

    Request missing = job;
    missing.File = folder_.File("absent.txt");
    CLpdSendResult outcome = Forward(port_, missing);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_EQ(outcome.Text, "The file is not found (reason:" + std::string(std::strerror(ENOENT)) + ")");

    // An empty file is not sent: servers read a zero count as "until the connection closes".
    Request empty = job;
    empty.File = Write("empty.txt", "");
    outcome = Forward(port_, empty);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_EQ(outcome.Text, "The file is empty");

    // A bound port that nobody listens on, held for the test so that nothing else takes it.
    const int unused = LoopbackSocket();
    outcome = Forward(PortOf(unused), job);
    close(unused);
    EXPECT_EQ(outcome.Code, 1);
    EXPECT_EQ(outcome.Text, SocketText(platform::WSA_CONNECTION_REFUSED));
#ifdef __linux__
    EXPECT_EQ(outcome.Text, "Connection refused");
#endif

    Request unknown = job;
    unknown.Host = u"no-such-host.invalid";
    outcome = Forward(port_, unknown);
    EXPECT_EQ(outcome.Code, 1);
    EXPECT_EQ(outcome.Text, "Unable to resolve server: no-such-host.invalid\n");

    WaitForSessions();
    EXPECT_EQ(JobCount(), 0u);
}

TEST_F(LpdClientTest, ControlFileOfAtMost4095Bytes) {
    // H, N, P and print lines: 16 bytes besides the document name.
    Request job;
    job.HostName = u"h";
    job.UserName = u"u";
    job.File = Write("report.txt", "Quarterly report\n");
    job.Document = std::u16string(4095 - 16, u'd');
    CLpdSendResult outcome = Forward(port_, job);
    EXPECT_EQ(outcome.Code, 0) << outcome.Text;
    ExpectJob(0, ReadFile(job.File), "Hh\nN" + std::string(4095 - 16, 'd') + "\nPu\nldfA001\n");

    // One byte more is refused before any connection, with no line cut short.
    ScriptedServer server({});
    job.Document += u'd';
    outcome = Forward(server.Port(), job);
    EXPECT_EQ(outcome.Code, 1);
    EXPECT_EQ(outcome.Text, "The control file is too long (4096 bytes, at most 4095)");
    server.Finish();
    EXPECT_FALSE(server.Accepted());

    // The class and job name lines count as well.
    job.Document = u"report.txt";
    job.JobName = std::u16string(4080, u'j');
    outcome = Forward(port_, job);
    EXPECT_EQ(outcome.Code, 1);
    EXPECT_EQ(outcome.Text.rfind("The control file is too long (", 0), 0u) << outcome.Text;
    WaitForSessions();
    EXPECT_EQ(JobCount(), 1u);
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
    // Document name through code page 1252 (one byte a character), user, class and job name through the
    // system's conversion (UTF-8 here); single LFs end every line; the print line names the data file.
    const std::string controlFile =
        "Hprinthost\nNCaf\xe9.txt\nPZo\xc3\xab\nCLedger\nJZ\xc3\xb6"
        "e's job\nldfA001\n";
    const std::string exchange = Exchange("PASS", controlFile, data);
    {
        ScriptedServer server({0, 0, 0, 0, 0});
        const CLpdSendResult outcome = Forward(server.Port(), job);
        EXPECT_EQ(outcome.Code, 0);
        EXPECT_EQ(outcome.Text, "The file is printed");
        EXPECT_TRUE(server.Finish() == exchange) << server.Finish().substr(0, 200);
    }

    // An empty data file: the connection closes with nothing sent.
    test::WriteFile(folder.File("empty.bin"), "");
    Request empty = job;
    empty.File = folder.File("empty.bin");
    {
        ScriptedServer server({0, 0, 0, 0, 0});
        EXPECT_EQ(Forward(server.Port(), empty).Code, -1);
        EXPECT_EQ(server.Finish(), "");
    }

    // A refusal at each step ends the exchange there: nothing more is sent.
    const std::size_t stepEnds[] = {exchange.find('\n') + 1, exchange.find("cfA001\n") + 7,
                                    exchange.find("cfA001\n") + 7 + controlFile.size() + 1,
                                    exchange.rfind("dfA001\n") + 7, exchange.size()};
    for (std::size_t step = 0; step < 5; ++step) {
        std::vector<int> replies(step, 0);
        replies.push_back(1);
        ScriptedServer server(replies);
        const CLpdSendResult outcome = Forward(server.Port(), job);
        EXPECT_EQ(outcome.Code, -1) << step;
        EXPECT_EQ(outcome.Text, REFUSALS[step]);
        EXPECT_TRUE(server.Finish() == exchange.substr(0, stepEnds[step])) << step;
    }

    // A server that hangs up instead of answering refuses as well.
    {
        ScriptedServer server({ScriptedServer::CLOSE_COMMAND});
        const CLpdSendResult outcome = Forward(server.Port(), job);
        EXPECT_EQ(outcome.Code, -1);
        EXPECT_EQ(outcome.Text, REFUSALS[0]);
    }

    // A file that cannot be opened: the connection is made and closed without a byte.
    {
        ScriptedServer server({});
        Request missing = job;
        missing.File = folder.File("absent.bin");
        const CLpdSendResult outcome = Forward(server.Port(), missing);
        EXPECT_EQ(outcome.Code, -1);
        EXPECT_EQ(outcome.Text.rfind("The file is not found (reason:", 0), 0u) << outcome.Text;
        EXPECT_EQ(server.Finish(), "");
        EXPECT_TRUE(server.Accepted());
    }
}

TEST(LpdClientScriptedTest, TimeLimits) {
    test::TempFolder folder;
    test::WriteFile(folder.File("report.txt"), "Quarterly report\n");
    Request job;
    job.File = folder.File("report.txt");
    const CLpdClientTimeouts quick{300, 300};
    const std::string timedOut = SocketText(platform::WSA_TIMED_OUT);
#ifdef __linux__
    EXPECT_EQ(timedOut, "Connection timed out");
#endif

    // A server that accepts and never answers.
    {
        ScriptedServer server({ScriptedServer::HANG});
        const CLpdSendResult outcome = Forward(server.Port(), job, quick);
        EXPECT_EQ(outcome.Code, -1);
        EXPECT_EQ(outcome.Text, timedOut);
    }

    // A server that stops taking data in the middle of the data file: the file is far larger than what the
    // connection's buffers hold, so a send waits on it.
    {
        const std::string big = folder.File("big.bin");
        const int fd = open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 64 * 1024 * 1024), 0);
        close(fd);
        Request stalled = job;
        stalled.File = big;
        ScriptedServer server({0, 0, 0, 0, ScriptedServer::HANG}, 4096);
        const CLpdSendResult outcome = Forward(server.Port(), stalled, quick);
        EXPECT_EQ(outcome.Code, -1);
        EXPECT_EQ(outcome.Text, timedOut);
    }

    // A listener whose accept queue is full drops further connection requests, so connecting never ends
    // by itself.
    {
        const int listener = LoopbackSocket();
        ASSERT_EQ(listen(listener, 0), 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(PortOf(listener));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        std::vector<int> fillers;
        for (int i = 0; i < 2; ++i) {
            fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
            connect(fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const CLpdSendResult outcome = Forward(PortOf(listener), job, quick);
        EXPECT_EQ(outcome.Code, 1);
        EXPECT_EQ(outcome.Text, timedOut);
        for (const int filler : fillers)
            close(filler);
        close(listener);
    }
}

test::ChildProcess::Options Capturing() {
    test::ChildProcess::Options options;
    options.CaptureErrors = true;
    return options;
}

TEST_F(LpdClientTest, VelmoraLprProgram) {
    const std::string report = Write("report.txt", "Quarterly report\n");
    const std::string scan = Write("scan.bin", RandomBytes(300000, 9));
    std::string output;
    {
        test::ChildProcess lpr(VELMORA_LPR_PATH,
                               {"-p", std::to_string(port_), "127.0.0.1", "PASS", report, scan}, Capturing());
        EXPECT_EQ(lpr.RunToEnd(60000, &output), 0) << output;
    }
    EXPECT_EQ(output, report + ": The file is printed\n" + scan + ": The file is printed\n");
    ASSERT_EQ(WaitForJobs(2), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& path = i == 0 ? report : scan;
        EXPECT_TRUE(ReadFile(platform::UnicodeToAnsi(Job(i)->LocalFileName)) == ReadFile(path)) << path;
        EXPECT_EQ(Job(i)->DocumentName, U16(path));
        EXPECT_EQ(Job(i)->Owner, platform::UserName());
        EXPECT_EQ(Job(i)->SourceHost, platform::ComputerName());
    }

    {
        test::ChildProcess lpr(VELMORA_LPR_PATH, {"-p", std::to_string(port_), "127.0.0.1", "NOPE", report},
                               Capturing());
        EXPECT_EQ(lpr.RunToEnd(60000, &output), 1) << output;
    }
    EXPECT_EQ(output, report + ": The print request is rejected\n");
    {
        test::ChildProcess lpr(VELMORA_LPR_PATH, {"-p", "0", "127.0.0.1", "PASS", report}, Capturing());
        EXPECT_EQ(lpr.RunToEnd(60000, &output), 2) << output;
    }
    EXPECT_NE(output.find("usage: velmora-lpr"), std::string::npos) << output;
    WaitForSessions();
    EXPECT_EQ(JobCount(), 2u);
}

// ---------------------------------------------------------------------------------------------------
// LPRng's lpd as the remote server.

// LPRng keeps a received job in a file of key=value lines ("hf..." in the queue's spool folder), which it
// rewrites while it prints; read once it records the end of printing (far longer than that takes).
std::map<std::string, std::string> LprngJobFile(const std::string& spool) {
    std::map<std::string, std::string> fields;
    for (int i = 0; i < 750 && !(fields.count("done_time") && fields.count("H")); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        fields.clear();
        for (const auto& entry : std::filesystem::directory_iterator(spool)) {
            if (entry.path().filename().string().rfind("hf", 0) != 0)
                continue;
            std::istringstream lines(ReadFile(entry.path().string()));
            for (std::string line; std::getline(lines, line);) {
                const std::size_t equals = line.find('=');
                if (equals != std::string::npos)
                    fields[line.substr(0, equals)] = line.substr(equals + 1);
            }
        }
    }
    return fields;
}

// Waits until the printer file holds the size (far longer than it takes); its content.
std::string WaitForPrinted(const std::string& path, std::size_t size) {
    std::string content;
    for (int i = 0; i < 1500 && (content = ReadFile(path)).size() < size; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return content;
}

TEST(LpdClientLprngTest, LprngReceivesAndPrintsTheJob) {
    test::TempFolder folder;
    const std::string printer = folder.File("printer.out");
    test::WriteFile(printer, "");
    test::LprngLpd lpd(std::string(VELMORA_CLIENTS_DIR) + "/lprng", folder.Path(), "lp=" + printer + ":sh");
    std::string reason;
    if (!lpd.Start(&reason))
        GTEST_SKIP() << reason;

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
    EXPECT_TRUE(WaitForPrinted(printer, text.size()) == text) << ReadFile(printer);
    const auto fields = LprngJobFile(lpd.Spool());
    EXPECT_EQ(fields.count("H") ? fields.at("H") : "", "printhost");
    EXPECT_EQ(fields.count("P") ? fields.at("P") : "", "alice");
    EXPECT_EQ(fields.count("J") ? fields.at("J") : "", "Quarterly figures");
    EXPECT_EQ(fields.count("C") ? fields.at("C") : "", "Ledger");
    const std::string files = fields.count("hfdatafiles") ? fields.at("hfdatafiles") : "";
    EXPECT_NE(files.find("format=l"), std::string::npos) << files;
    EXPECT_NE(files.find("N=report.txt"), std::string::npos) << files;

    // A binary file of many pieces reaches the printer byte for byte, after the first job.
    const std::string binary = RandomBytes(1024 * 1024, 11);
    test::WriteFile(folder.File("scan.bin"), binary);
    job.File = folder.File("scan.bin");
    outcome = Forward(lpd.Port(), job);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    EXPECT_TRUE(WaitForPrinted(printer, text.size() + binary.size()) == text + binary);

    job.Queue = u"NOPE";
    outcome = Forward(lpd.Port(), job);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_EQ(outcome.Text, "The print request is rejected");
}

}  // namespace
}  // namespace velmora
