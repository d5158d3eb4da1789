// From an LPD client to the printer, measured in one run over two routes that end in the same place: a
// private CUPS scheduler with one raw queue whose device is one stand-in printer.
//
//   this server: LPD client -> this server (spooled, then printed raw by its spooler) -> raw queue -> printer
//   cups-lpd:    LPD client -> cups-lpd (run by socat per connection, as inetd would) -> raw queue -> printer
//
// The client is the system's own LPD client (SendJobByLpd), sending one job after another. A job counts as
// done when the printer has received its whole document. Figures: 10 KB jobs per second (first job sent to
// last document printed) and MB/s of one big job (first byte sent to last byte printed); each is the best
// of the rounds, the routes taking turns within each round.
//
// Options: --jobs=N (10 KB jobs per round and route, default 200), --big-mb=N (default 100),
// --rounds=N (default 3), --routes=velmora,cups-lpd (which to measure).
#include <cups/cups.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "bench/bench_util.h"
#include "config/printer_list.h"
#include "output/lpd_client.h"
#include "platform/ansi.h"
#include "support/cups_lpd_test_util.h"
#include "support/cups_server.h"

using namespace velmora;
using bench::Clock;
using bench::Seconds;

namespace {

constexpr const char* CUPS_QUEUE = "bench";
constexpr int SMALL_JOB_BYTES = 10 * 1024;
// A document that has not arrived by then never will: the round fails instead of hanging.
constexpr auto DOCUMENT_LIMIT = std::chrono::seconds(60);
constexpr auto IDLE_LIMIT = std::chrono::seconds(120);

std::atomic<bool> interrupted{false};

extern "C" void OnInterrupt(int) {
    interrupted = true;
}

// Printable lines, neither PDF nor PCL: no route spends time on page counts.
std::string TextOfSize(std::size_t size) {
    std::string text;
    text.reserve(size + 64);
    for (int line = 0; text.size() < size; ++line) {
        char row[64];
        std::snprintf(row, sizeof row, "Velmora end-to-end test, line %07d: the quick brown fox\n", line);
        text += row;
    }
    text.resize(size);
    return text;
}

// Waits until the scheduler has no job left to print.
bool WaitForIdleQueue() {
    const auto deadline = Clock::now() + IDLE_LIMIT;
    while (Clock::now() < deadline && !interrupted) {
        cups_job_t* jobs = nullptr;
        const int active = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, CUPS_QUEUE, 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(active, jobs);
        if (active == 0)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// ---------------------------------------------------------------------------------------------------
// The clients.

// The bytes SendJobByLpd sends, over a socket with Nagle's algorithm off: a small write that follows
// unacknowledged data (the end byte after the data file) goes out at once instead of waiting for the
// peer's acknowledgement, which a server that delays its acknowledgements holds back for up to 40 ms.
class NoDelayClient {
  public:
    ~NoDelayClient() {
        if (fd_ >= 0)
            close(fd_);
    }
    bool Send(uint16_t port, const std::string& queue, const std::string& content) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        const timeval timeout = {60, 0};
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            return false;
        const std::string control = "Hlocalhost\nNbench.txt\nPbench\nJend-to-end\nldfA001\n";
        return Step("\x02" + queue + "\n") && Step("\x02" + std::to_string(control.size()) + " cfA001\n") &&
               Step(control + '\0') && Step("\x03" + std::to_string(content.size()) + " dfA001\n") &&
               Write(content.data(), content.size()) && Step(std::string(1, '\0'));
    }

  private:
    bool Write(const char* bytes, std::size_t size) {
        while (size > 0) {
            const ssize_t sent = send(fd_, bytes, std::min<std::size_t>(size, 64 * 1024), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            bytes += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }
    bool Step(const std::string& bytes) {
        char reply = 1;
        return Write(bytes.data(), bytes.size()) && recv(fd_, &reply, 1, 0) == 1 && reply == 0;
    }

    int fd_ = -1;
};

// ---------------------------------------------------------------------------------------------------
// The routes.

class Route {
  public:
    virtual ~Route() = default;
    virtual const char* Name() const = 0;
    // False with the reason when it cannot run here.
    virtual bool Start(std::string* reason) = 0;
    virtual void Stop() = 0;
    virtual uint16_t Port() const = 0;
    // The LPD queue the client names.
    virtual std::u16string Queue() const = 0;
};

// This server in this process, as the service runs it: its own connection threads, the log at level 1,
// prompt saves of the job list, and the spooler printing each job raw on the queue as it arrives.
class VelmoraRoute : public Route {
  public:
    explicit VelmoraRoute(std::string baseFolder) : baseFolder_(std::move(baseFolder)) {}
    ~VelmoraRoute() override { Stop(); }
    const char* Name() const override { return "this server"; }

    bool Start(std::string* reason) override {
        if (running_)
            return true;
        if (!app_) {
            setenv("VELMORA_BASE_FOLDER", baseFolder_.c_str(), 1);
            app_ = std::make_unique<CVelmoraVirtualPrinterApp>();
            if (!app_->SetUpWorkingFolders()) {
                *reason = "the working folders could not be set up";
                return false;
            }
            PrinterRecords printers(1);
            printers[0].Name = u"PASS";
            printers[0].OutputMode = OUTPUT_LOCAL_PRINTER;
            printers[0].LocalPrinter = platform::AnsiToUnicode(CUPS_QUEUE);
            app_->PrinterList.Replace(printers);
            app_->LpdServer.LoopbackOnly = true;
            app_->Settings.PortLPD = 0;
            app_->Settings.LogLevel = 1;
        }
        app_->Jobs.StartPromptSaves();
        app_->LpdServer.StartLpdServer();
        for (int i = 0; i < 500 && app_->LpdServer.ListeningPort == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (app_->LpdServer.ListeningPort == 0) {
            *reason = "the server did not start listening";
            app_->LpdServer.StopLpdServer();
            app_->Jobs.StopPromptSaves();
            return false;
        }
        port_ = app_->LpdServer.ListeningPort;
        app_->Spooler.StartSpooler();
        running_ = true;
        return true;
    }

    void Stop() override {
        if (!running_)
            return;
        running_ = false;
        app_->LpdServer.StopLpdServer();
        // Sessions end by themselves; the application object must outlive them.
        for (int i = 0; i < 1500 && app_->LpdServer.ActiveConnections() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        app_->Spooler.StopSpooler();
        app_->Spooler.JoinSpoolerThread();
        app_->Jobs.StopPromptSaves();
    }

    uint16_t Port() const override { return port_; }
    std::u16string Queue() const override { return u"PASS"; }

  private:
    const std::string baseFolder_;
    std::unique_ptr<CVelmoraVirtualPrinterApp> app_;
    bool running_ = false;
    uint16_t port_ = 0;
};

// cups-lpd, one process per connection, handing each job to the scheduler once the client has closed.
class CupsLpdRoute : public Route {
  public:
    explicit CupsLpdRoute(const std::string& schedulerSocket) : lpd_(schedulerSocket) {}
    const char* Name() const override { return "cups-lpd"; }
    bool Start(std::string* reason) override { return lpd_.Pid() > 0 || lpd_.Start(reason); }
    void Stop() override { lpd_.Stop(); }
    uint16_t Port() const override { return lpd_.Port(); }
    std::u16string Queue() const override { return platform::AnsiToUnicode(CUPS_QUEUE); }

  private:
    test::CupsLpd lpd_;
};

// ---------------------------------------------------------------------------------------------------
// Measurements.

struct Result {
    bool Measured = false;
    bool Ok = false;
    std::string Failure;
    double PrintedSeconds = 0;       // first byte sent to last document printed
    double AcknowledgedSeconds = 0;  // first byte sent to the last job's last reply
};

enum Client { VELMORA_CLIENT, NO_DELAY_CLIENT, CLIENT_COUNT };
constexpr const char* CLIENT_NAMES[CLIENT_COUNT] = {"SendJobByLpd", "client without Nagle"};

// Sends the file `jobs` times, one job after another, and waits until the printer has every document;
// each document must equal the file.
Result SendAndPrint(const Route& route, Client client, test::FakePrinter& printer, const std::string& file,
                    const std::string& content, int jobs) {
    Result result;
    result.Measured = true;
    std::atomic<bool> senderFailed{false};
    std::string failure;
    Clock::time_point acknowledged;
    const auto begin = Clock::now();
    std::thread sender([&] {
        CLpdJobRequest request;
        request.Port = route.Port();
        request.Host = u"127.0.0.1";
        request.Queue = route.Queue();
        request.JobName = u"end-to-end";
        request.HostName = u"localhost";
        request.UserName = u"bench";
        request.FilePath = platform::AnsiToUnicode(file);
        request.DocumentName = u"bench.txt";
        const std::string queue = platform::UnicodeToAnsi(route.Queue());
        for (int i = 0; i < jobs && !interrupted; ++i) {
            CLpdSendResult result;
            const bool sent = client == VELMORA_CLIENT ? (result = SendJobByLpd(request)).Code == 0
                                                       : NoDelayClient().Send(route.Port(), queue, content);
            if (!sent) {
                failure = "job " + std::to_string(i + 1) + " was refused: " + result.Text;
                senderFailed = true;
                return;
            }
        }
        acknowledged = Clock::now();
    });
    int printed = 0;
    bool intact = true;
    auto lastProgress = Clock::now();
    while (printed < jobs && !interrupted && !senderFailed) {
        std::string document;
        if (printer.NextDocument(&document, 200)) {
            ++printed;
            intact = intact && document == content;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > DOCUMENT_LIMIT) {
            break;
        }
    }
    const auto end = Clock::now();
    sender.join();
    if (senderFailed) {
        result.Failure = failure;
    } else if (printed < jobs) {
        result.Failure = std::to_string(printed) + " of " + std::to_string(jobs) + " documents printed";
    } else if (!intact) {
        result.Failure = "a printed document differs from the file sent";
    } else {
        result.Ok = true;
        result.PrintedSeconds = Seconds(end - begin);
        result.AcknowledgedSeconds = Seconds(acknowledged - begin);
    }
    return result;
}

struct RouteResults {
    std::string Unavailable;
    Result Small[CLIENT_COUNT];  // best round of each client
    Result Big[CLIENT_COUNT];
};

// Keeps the faster of two measurements, or the first failure.
void KeepBest(Result* best, const Result& round) {
    if (!round.Ok) {
        if (!best->Measured || best->Ok)
            *best = round;
        return;
    }
    if (best->Measured && !best->Ok)
        return;
    if (!best->Measured || round.PrintedSeconds < best->PrintedSeconds)
        *best = round;
}

// ---------------------------------------------------------------------------------------------------
// The table.

std::string Number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

struct Options {
    int Jobs = 200;
    int BigMb = 100;
    int Rounds = 3;
    bool Velmora = true;
    bool CupsLpd = true;
};

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const auto value = [&](const char* name) { return bench::OptionValue(argv[i], name); };
        if (const char* v = value("--jobs=")) {
            options->Jobs = std::atoi(v);
        } else if (const char* v = value("--big-mb=")) {
            options->BigMb = std::atoi(v);
        } else if (const char* v = value("--rounds=")) {
            options->Rounds = std::atoi(v);
        } else if (const char* v = value("--routes=")) {
            const std::string list = std::string(",") + v + ",";
            options->Velmora = list.find(",velmora,") != std::string::npos;
            options->CupsLpd = list.find(",cups-lpd,") != std::string::npos;
        } else {
            return false;
        }
    }
    // A data file's length is a 32-bit count in the LPD exchange.
    return options->Jobs >= 1 && options->BigMb >= 1 && options->BigMb <= 2047 && options->Rounds >= 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: %s [--jobs=N] [--big-mb=1..2047] [--rounds=N] [--routes=velmora,cups-lpd]\n",
                     argv[0]);
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A route that closes a connection early must not end the benchmark.
    signal(SIGPIPE, SIG_IGN);

    test::TempFolder folder;
    test::FakePrinter printer;
    test::CupsServer cups;
    std::string failure;
    if (!printer.Listening() || !cups.Start() || !cups.AddRawQueue(CUPS_QUEUE, printer.DeviceUri()) ||
        !test::ShareCupsQueue(CUPS_QUEUE, true, &failure)) {
        std::fprintf(stderr, "the private CUPS scheduler could not be set up: %s%s\n", cups.Failure().c_str(),
                     failure.c_str());
        return 1;
    }
    const std::string smallFile = folder.File("small.txt");
    const std::string smallContent = TextOfSize(SMALL_JOB_BYTES);
    test::WriteFile(smallFile, smallContent);
    const std::string bigFile = folder.File("big.txt");
    const std::string bigContent = TextOfSize(static_cast<std::size_t>(options.BigMb) << 20);
    test::WriteFile(bigFile, bigContent);

    const std::string baseFolder = folder.File("base");
    VelmoraRoute velmora(baseFolder);
    CupsLpdRoute cupsLpd(cups.SocketPath());
    struct Entry {
        Route* Target;
        bool Wanted;
        RouteResults Results;
    };
    std::vector<Entry> entries = {{&velmora, options.Velmora, {}}, {&cupsLpd, options.CupsLpd, {}}};
    for (Entry& entry : entries) {
        if (!entry.Wanted)
            entry.Results.Unavailable = "not measured in this run (--routes)";
    }

    for (int round = 1; round <= options.Rounds && !interrupted; ++round) {
        for (Entry& entry : entries) {
            if (!entry.Results.Unavailable.empty() || interrupted)
                continue;
            std::string reason;
            if (!entry.Target->Start(&reason)) {
                entry.Results.Unavailable = reason;
                continue;
            }
            for (int client = 0; client < CLIENT_COUNT && !interrupted; ++client) {
                const Client kind = static_cast<Client>(client);
                std::fprintf(stderr, "round %d, %s, %s: %d jobs of 10 KB, one of %d MB\n", round,
                             entry.Target->Name(), CLIENT_NAMES[client], options.Jobs, options.BigMb);
                WaitForIdleQueue();
                KeepBest(&entry.Results.Small[client],
                         SendAndPrint(*entry.Target, kind, printer, smallFile, smallContent, options.Jobs));
                WaitForIdleQueue();
                KeepBest(&entry.Results.Big[client],
                         SendAndPrint(*entry.Target, kind, printer, bigFile, bigContent, 1));
            }
        }
    }
    WaitForIdleQueue();
    for (Entry& entry : entries)
        entry.Target->Stop();
    if (interrupted) {
        std::fprintf(stderr, "interrupted\n");
        return 1;
    }

    const RouteResults& mine = entries[0].Results;
    const RouteResults& peer = entries[1].Results;
    std::printf(
        "From an LPD client to the printer through the same CUPS raw queue: %d jobs of 10 KB sent one "
        "after another, and one %d MB job; best of %d round(s)\n",
        options.Jobs, options.BigMb, options.Rounds);
    std::printf(
        "(higher is better; printed = until the printer has the last document, acknowledged = until "
        "the client has the last reply)\n\n");
    std::printf("| measure | client | this server | cups-lpd | this ÷ cups-lpd |\n|---|---|---|---|---|\n");
    struct Row {
        const char* Label;
        bool Big;
        bool Printed;
    };
    const Row rows[] = {{"10 KB jobs/s, printed", false, true},
                        {"10 KB jobs/s, acknowledged", false, false},
                        {"MB/s of one big job, printed", true, true},
                        {"MB/s of one big job, acknowledged", true, false}};
    for (const Row& row : rows) {
        for (int client = 0; client < CLIENT_COUNT; ++client) {
            const auto figure = [&](const RouteResults& r, double* value) {
                const Result& result = row.Big ? r.Big[client] : r.Small[client];
                if (!r.Unavailable.empty() || !result.Ok)
                    return false;
                const double seconds = row.Printed ? result.PrintedSeconds : result.AcknowledgedSeconds;
                *value = (row.Big ? options.BigMb : options.Jobs) / seconds;
                return true;
            };
            double a = 0, b = 0;
            const bool haveA = figure(mine, &a);
            const bool haveB = figure(peer, &b);
            std::printf("| %s | %s | %s | %s | %s |\n", row.Label, CLIENT_NAMES[client],
                        haveA ? Number(a, 1).c_str() : "n/a", haveB ? Number(b, 1).c_str() : "n/a",
                        haveA && haveB && b > 0 ? Number(a / b, 2).c_str() : "-");
        }
    }
    std::printf("\n");
    for (const Entry& entry : entries) {
        const RouteResults& r = entry.Results;
        if (!r.Unavailable.empty()) {
            std::printf("%s: n/a, %s\n", entry.Target->Name(), r.Unavailable.c_str());
            continue;
        }
        for (int client = 0; client < CLIENT_COUNT; ++client) {
            for (const Result* result : {&r.Small[client], &r.Big[client]}) {
                if (result->Measured && !result->Ok)
                    std::printf("%s, %s: %s\n", entry.Target->Name(), CLIENT_NAMES[client],
                                result->Failure.c_str());
            }
        }
    }
    return 0;
}
