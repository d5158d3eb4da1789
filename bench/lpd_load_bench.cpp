// The LPD server under load: 10 KB jobs from 1, 16 and 64 concurrent clients and one big job, every
// client speaking the whole RFC 1179 receive-job exchange. Measured in one run against this server with
// DurableIntake=0 (the journal written but never flushed, so the cost of the flush shows) and two peers:
// LPRng's lpd (unpacked beside the build by scripts/setup.sh) and a plain loopback socket-to-file copy,
// which is what this machine can do at best.
//
// Options: --big-mb=N (the big job, default 1024), --seconds=S (each concurrency level, default 5),
// --max-jobs=N (each level and server, default 20000), --servers=velmora,noflush,lprng,copy (which to
// measure), --lprng=<folder> (where LPRng is unpacked, default build-tools/lprng of the source tree).
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "bench/bench_util.h"
#include "config/printer_list.h"
#include "platform/ansi.h"
#include "support/lprng_test_util.h"

using namespace velmora;
using namespace velmora::bench;
namespace fs = std::filesystem;

namespace {

// A smaller job beside the big one: the memory either needs must be the same.
constexpr int MEMORY_PROBE_MB = 64;
constexpr int CONCURRENCY_LEVELS[] = {1, 16, 64};

extern "C" void OnInterrupt(int) {
    interrupted = true;
}

// ---------------------------------------------------------------------------------------------------
// Memory, from /proc.

long TreePeakKb(pid_t root) {
    long total = 0;
    for (const test::ProcessId& process : test::ProcessTree(root))
        total += std::max(0L, StatusKb(std::to_string(process.Pid), "VmHWM"));
    return total;
}

// ---------------------------------------------------------------------------------------------------
// The client side.

// The same bytes without the replies, to a receiver that only stores them: the whole stream in one go,
// then the client waits for the receiver to close the connection.
bool SendPlainCopy(uint16_t port, int number, int64_t dataSize) {
    const std::string control = ControlFile(number);
    std::string head = "\x02PASS\n" + FileLine('\x02', control.size(), "cf", number) + control;
    head += '\0';
    head += FileLine('\x03', static_cast<std::size_t>(dataSize), "df", number);
    ClientSocket client;
    if (!client.Connect(port))
        return false;
    if (dataSize <= static_cast<int64_t>(SEND_BLOCK)) {
        head.append(DataBlock(), 0, static_cast<std::size_t>(dataSize));
        head += '\0';
        if (!client.Send(head))
            return false;
    } else if (!client.Send(head) || !SendData(client, dataSize) || !client.Send(std::string(1, '\0'))) {
        return false;
    }
    return client.FinishAndWaitForClose();
}

// ---------------------------------------------------------------------------------------------------
// The servers.

void EmptyFolder(const std::string& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder, ignored);
}

class Server {
  public:
    virtual ~Server() = default;
    virtual const char* Name() const = 0;
    // Starts from an empty spool; false with the reason when it cannot run here.
    virtual bool Start(std::string* reason) = 0;
    // Stops and throws away what was received.
    virtual void Stop() = 0;
    virtual uint16_t Port() const = 0;
    virtual bool SpeaksLpd() const { return true; }
    // Peak memory growth while a job runs, in kB: BeginMemory before it, EndMemory after it.
    virtual void BeginMemory() = 0;
    virtual long EndMemory() = 0;
};

// This server, in this process, as the service runs it: its own connection threads, the log at level 1,
// the job journal and prompt saves of the job list after every job.
class VelmoraServer : public Server {
  public:
    explicit VelmoraServer(bool durable) : durable_(durable) {}
    const char* Name() const override { return durable_ ? "this server" : "this server, no flush"; }

    bool Start(std::string* reason) override {
        if (!folder_.Valid()) {
            *reason = "no temporary folder";
            return false;
        }
        if (!app_) {
            setenv("VELMORA_BASE_FOLDER", folder_.Path().c_str(), 1);
            app_ = std::make_unique<CVelmoraVirtualPrinterApp>();
            if (!app_->SetUpWorkingFolders()) {
                *reason = "the working folders could not be set up";
                return false;
            }
            PrinterRecords printers(1);
            printers[0].Name = u"PASS";
            app_->PrinterList.Replace(printers);
            app_->LpdServer.LoopbackOnly = true;
            app_->Settings.PortLPD = 0;
            app_->Settings.LogLevel = 1;
            app_->Settings.DurableIntake = durable_ ? 1 : 0;
            app_->Jobs.LoadJobList();
        }
        app_->Jobs.StartPromptSaves();
        app_->LpdServer.StartLpdServer();
        for (int i = 0; i < 500 && app_->LpdServer.ListeningPort == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (app_->LpdServer.ListeningPort == 0) {
            *reason = "the server did not start listening";
            app_->LpdServer.StopLpdServer();
            return false;
        }
        port_ = app_->LpdServer.ListeningPort;
        return true;
    }

    void Stop() override {
        if (!app_)
            return;
        app_->LpdServer.StopLpdServer();
        // Sessions end by themselves; the application object must outlive them.
        for (int i = 0; i < 1500 && app_->LpdServer.ActiveConnections() > 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        app_->Jobs.StopPromptSaves();
        // What a spooler would have printed and removed: the next level starts from an empty list.
        {
            std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
            for (const SpoolFilePtr& job : app_->Jobs.JobList) {
                std::error_code ignored;
                fs::remove(platform::UnicodeToAnsi(job->LocalFileName), ignored);
            }
            app_->Jobs.JobList.clear();
        }
        app_->Jobs.WriteJobListFile(nullptr);
        port_ = 0;
    }

    uint16_t Port() const override { return port_; }
    void BeginMemory() override { memory_.Begin(); }
    long EndMemory() override { return memory_.End(); }

    ~VelmoraServer() override {
        Stop();
        app_.reset();
        unsetenv("VELMORA_BASE_FOLDER");
    }

  private:
    const bool durable_;
    TempFolder folder_;
    std::unique_ptr<CVelmoraVirtualPrinterApp> app_;
    uint16_t port_ = 0;
    InProcessMemory memory_;
};

// LPRng's lpd, unpacked rather than installed. It reads /etc/lprng/lpd.conf and /etc/printcap only, so it
// runs in a mount namespace of its own where an overlay on /etc shows its files: a loopback port, no UNIX
// socket, a spool under the temporary folder, and a queue PASS whose jobs are held (they stay in the spool,
// as this server's do while no spooler runs).
class LprngServer : public Server {
  public:
    explicit LprngServer(std::string root) : lpd_(std::move(root), folder_.Path(), "lp=/dev/null:ah") {}
    ~LprngServer() override { Stop(); }

    const char* Name() const override { return "LPRng lpd"; }

    // Its jobs are held (":ah"): they stay in the spool, as this server's do while no spooler runs.
    bool Start(std::string* reason) override {
        if (!folder_.Valid()) {
            *reason = "no temporary folder";
            return false;
        }
        return lpd_.Start(reason);
    }

    void Stop() override {
        lpd_.Stop();
        EmptyFolder(folder_.Path() + "/spool");
    }

    uint16_t Port() const override { return lpd_.Port(); }

    // Samples the VmHWM of every lpd process while the job runs: the connection's process comes and goes.
    void BeginMemory() override {
        before_ = TreePeakKb(lpd_.Pid());
        peak_ = before_;
        sampling_ = true;
        sampler_ = std::thread([this] {
            while (sampling_) {
                peak_ = std::max(peak_.load(), TreePeakKb(lpd_.Pid()));
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
    }
    long EndMemory() override {
        peak_ = std::max(peak_.load(), TreePeakKb(lpd_.Pid()));
        sampling_ = false;
        sampler_.join();
        return peak_ - before_;
    }

  private:
    TempFolder folder_;
    test::LprngLpd lpd_;
    long before_ = 0;
    std::atomic<long> peak_{0};
    std::atomic<bool> sampling_{false};
    std::thread sampler_;
};

// The physical limit: one receiver thread that accepts a connection at a time and writes whatever it reads
// to a file of its own, and closes the connection at the end of the stream.
class CopyServer : public Server {
  public:
    ~CopyServer() override { Stop(); }
    const char* Name() const override { return "loopback copy"; }
    bool SpeaksLpd() const override { return false; }

    bool Start(std::string* reason) override {
        if (!folder_.Valid()) {
            *reason = "no temporary folder";
            return false;
        }
        listener_ = OpenLoopbackListener(&port_, reason);
        if (listener_ < 0)
            return false;
        running_ = true;
        receiver_ = std::thread([this] { Receive(); });
        return true;
    }

    void Stop() override {
        if (receiver_.joinable()) {
            running_ = false;
            receiver_.join();
        }
        if (listener_ >= 0)
            close(listener_);
        listener_ = -1;
        EmptyFolder(folder_.Path());
    }

    uint16_t Port() const override { return port_; }
    void BeginMemory() override { memory_.Begin(); }
    long EndMemory() override { return memory_.End(); }

  private:
    void Receive() {
        std::vector<char> buffer(SEND_BLOCK);
        for (long count = 0; running_;) {
            pollfd entry = {listener_, POLLIN, 0};
            if (poll(&entry, 1, 100) <= 0)
                continue;
            const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                continue;
            const std::string path = folder_.Path() + "/copy" + std::to_string(++count);
            const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            for (ssize_t received; (received = recv(connection, buffer.data(), buffer.size(), 0)) > 0;) {
                if (file < 0 || write(file, buffer.data(), static_cast<std::size_t>(received)) != received)
                    break;
            }
            if (file >= 0)
                close(file);
            close(connection);
        }
    }

    TempFolder folder_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> running_{false};
    std::thread receiver_;
    InProcessMemory memory_;
};

// ---------------------------------------------------------------------------------------------------
// Measurements.

struct LoadResult {
    bool Measured = false;
    double JobsPerSecond = 0;
    double MedianMs = 0;
    double P99Ms = 0;
    long Jobs = 0;
    long Failed = 0;
};

struct BigResult {
    bool Measured = false;
    bool Ok = false;
    double MegabytesPerSecond = 0;
    long ProbeGrowthKb = 0;  // memory growth during the smaller job
    long BigGrowthKb = 0;    // and during the big job
};

struct ServerResults {
    std::string Unavailable;  // why it was not measured
    LoadResult Load[std::size(CONCURRENCY_LEVELS)];
    BigResult Big;
};

std::atomic<int> jobNumber{0};

bool SendJob(const Server& server, int64_t dataSize) {
    const int number = jobNumber.fetch_add(1) % 1000000;
    return server.SpeaksLpd() ? SendLpdJob(server.Port(), number, dataSize)
                              : SendPlainCopy(server.Port(), number, dataSize);
}

// Clients that each send 10 KB jobs back to back until the time is up or the jobs are all sent.
LoadResult RunLoad(const Server& server, int clients, double seconds, long maxJobs) {
    std::atomic<long> started{0};
    std::atomic<long> failed{0};
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    const auto begin = Clock::now();
    const auto deadline =
        begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            std::vector<double>& mine = latencies[static_cast<std::size_t>(c)];
            while (!interrupted && Clock::now() < deadline && started.fetch_add(1) < maxJobs) {
                const auto start = Clock::now();
                if (SendJob(server, SMALL_JOB_BYTES))
                    mine.push_back(Seconds(Clock::now() - start) * 1000);
                else
                    ++failed;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const double elapsed = Seconds(Clock::now() - begin);
    std::vector<double> all;
    for (const auto& list : latencies)
        all.insert(all.end(), list.begin(), list.end());
    std::sort(all.begin(), all.end());
    LoadResult result;
    result.Measured = true;
    result.Jobs = static_cast<long>(all.size());
    result.Failed = failed;
    result.JobsPerSecond = all.size() / elapsed;
    result.MedianMs = Percentile(all, 50);
    result.P99Ms = Percentile(all, 99);
    return result;
}

BigResult RunBig(Server& server, int bigMb) {
    BigResult result;
    result.Measured = true;
    server.BeginMemory();
    const bool probe = SendJob(server, int64_t{std::min(MEMORY_PROBE_MB, bigMb)} << 20);
    result.ProbeGrowthKb = server.EndMemory();

    server.BeginMemory();
    const auto start = Clock::now();
    const bool big = SendJob(server, int64_t{bigMb} << 20);
    const double elapsed = Seconds(Clock::now() - start);
    result.BigGrowthKb = server.EndMemory();
    result.Ok = probe && big;
    result.MegabytesPerSecond = bigMb / elapsed;
    return result;
}

// ---------------------------------------------------------------------------------------------------
// The table.

std::string Number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Ratio(double mine, double peer, bool valid) {
    if (!valid || peer <= 0)
        return "-";
    return Number(mine / peer, 2);
}

struct Row {
    std::string Label;
    std::function<bool(const ServerResults&)> Valid;
    std::function<double(const ServerResults&)> Value;
    int Decimals;
    bool Ratio = true;
};

// One column per server, each peer followed by the ratio of the first server to it.
void PrintTable(const std::vector<Row>& rows,
                const std::vector<std::pair<std::string, const ServerResults*>>& columns) {
    std::string head = "| measure | " + columns[0].first + " |";
    for (std::size_t i = 1; i < columns.size(); ++i)
        head += " " + columns[i].first + " | this ÷ " + columns[i].first + " |";
    std::printf("%s\n|---|---|", head.c_str());
    for (std::size_t i = 1; i < columns.size(); ++i)
        std::printf("---|---|");
    std::printf("\n");
    for (const Row& row : rows) {
        const ServerResults& mine = *columns[0].second;
        const auto cell = [&](const ServerResults& results) {
            return row.Valid(results) ? Number(row.Value(results), row.Decimals) : std::string("n/a");
        };
        std::string line = "| " + row.Label + " | " + cell(mine) + " |";
        for (std::size_t i = 1; i < columns.size(); ++i) {
            const ServerResults& peer = *columns[i].second;
            const bool valid = row.Ratio && row.Valid(mine) && row.Valid(peer);
            line += " " + cell(peer) + " | " + (valid ? Ratio(row.Value(mine), row.Value(peer), true) : "-") +
                    " |";
        }
        std::printf("%s\n", line.c_str());
    }
}

struct Options {
    int BigMb = 1024;
    double Seconds = 5;
    long MaxJobs = 20000;
    bool Velmora = true, NoFlush = true, Lprng = true, Copy = true;
    // Beside the source tree this program was built from.
    std::string LprngRoot = (fs::path(__FILE__).parent_path().parent_path() / "build-tools/lprng").string();
};

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const auto value = [&](const char* name) { return bench::OptionValue(argv[i], name); };
        if (const char* v = value("--big-mb=")) {
            options->BigMb = std::atoi(v);
        } else if (const char* v = value("--seconds=")) {
            options->Seconds = std::atof(v);
        } else if (const char* v = value("--max-jobs=")) {
            options->MaxJobs = std::atol(v);
        } else if (const char* v = value("--lprng=")) {
            options->LprngRoot = v;
        } else if (const char* v = value("--servers=")) {
            const std::string list = std::string(",") + v + ",";
            options->Velmora = list.find(",velmora,") != std::string::npos;
            options->NoFlush = list.find(",noflush,") != std::string::npos;
            options->Lprng = list.find(",lprng,") != std::string::npos;
            options->Copy = list.find(",copy,") != std::string::npos;
        } else {
            return false;
        }
    }
    // A data file's length is a 32-bit count in the LPD session.
    return options->BigMb >= 1 && options->BigMb <= 2047 && options->Seconds > 0 && options->MaxJobs > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr,
                     "usage: %s [--big-mb=1..2047] [--seconds=S] [--max-jobs=N] "
                     "[--servers=velmora,noflush,lprng,copy] [--lprng=<folder>]\n",
                     argv[0]);
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    VelmoraServer velmora(true);
    VelmoraServer noFlush(false);
    LprngServer lprng(options.LprngRoot);
    CopyServer copy;
    struct Entry {
        Server* Target;
        bool Wanted;
        ServerResults Results;
    };
    Entry entries[] = {{&velmora, options.Velmora, {}},
                       {&noFlush, options.NoFlush, {}},
                       {&lprng, options.Lprng, {}},
                       {&copy, options.Copy, {}}};
    for (Entry& entry : entries) {
        if (!entry.Wanted)
            entry.Results.Unavailable = "not measured in this run (--servers)";
    }

    // Level by level, the servers one after another, each from an empty spool: a load that comes and goes
    // on the shared machine falls on all of them alike.
    const auto measure = [&](const std::function<void(Entry&)>& run) {
        for (Entry& entry : entries) {
            if (!entry.Results.Unavailable.empty() || interrupted)
                continue;
            std::string reason;
            if (!entry.Target->Start(&reason)) {
                entry.Results.Unavailable = reason;
                continue;
            }
            run(entry);
            entry.Target->Stop();
        }
    };
    for (std::size_t level = 0; level < std::size(CONCURRENCY_LEVELS); ++level) {
        const int clients = CONCURRENCY_LEVELS[level];
        std::fprintf(stderr, "10 KB jobs, %d client(s)...\n", clients);
        measure([&](Entry& entry) {
            entry.Results.Load[level] = RunLoad(*entry.Target, clients, options.Seconds, options.MaxJobs);
        });
    }
    std::fprintf(stderr, "%d MB job...\n", options.BigMb);
    measure([&](Entry& entry) { entry.Results.Big = RunBig(*entry.Target, options.BigMb); });
    if (interrupted) {
        std::fprintf(stderr, "interrupted\n");
        return 1;
    }

    std::vector<Row> rows;
    for (std::size_t level = 0; level < std::size(CONCURRENCY_LEVELS); ++level) {
        const int clients = CONCURRENCY_LEVELS[level];
        const auto valid = [level](const ServerResults& r) { return r.Load[level].Measured; };
        const std::string who = std::to_string(clients) + (clients == 1 ? " client" : " clients");
        rows.push_back({"10 KB jobs/s, " + who, valid,
                        [level](const ServerResults& r) { return r.Load[level].JobsPerSecond; }, 0});
    }
    for (std::size_t level = 0; level < std::size(CONCURRENCY_LEVELS); ++level) {
        const int clients = CONCURRENCY_LEVELS[level];
        const auto valid = [level](const ServerResults& r) { return r.Load[level].Measured; };
        const std::string who = std::to_string(clients) + (clients == 1 ? " client" : " clients");
        rows.push_back({"10 KB job, connect to last reply, median ms, " + who, valid,
                        [level](const ServerResults& r) { return r.Load[level].MedianMs; }, 2});
        rows.push_back({"10 KB job, connect to last reply, p99 ms, " + who, valid,
                        [level](const ServerResults& r) { return r.Load[level].P99Ms; }, 2});
    }
    const auto bigValid = [](const ServerResults& r) { return r.Big.Measured && r.Big.Ok; };
    const std::string big = std::to_string(options.BigMb) + " MB";
    rows.push_back({"one " + big + " job, MB/s", bigValid,
                    [](const ServerResults& r) { return r.Big.MegabytesPerSecond; }, 0});
    rows.push_back(
        {"peak memory growth, " + std::to_string(std::min(MEMORY_PROBE_MB, options.BigMb)) + " MB job, MB",
         bigValid, [](const ServerResults& r) { return r.Big.ProbeGrowthKb / 1024.0; }, 1, false});
    rows.push_back({"peak memory growth, " + big + " job, MB", bigValid,
                    [](const ServerResults& r) { return r.Big.BigGrowthKb / 1024.0; }, 1, false});
    rows.push_back({"10 KB jobs failed (all levels)",
                    [](const ServerResults& r) { return r.Load[0].Measured; },
                    [](const ServerResults& r) {
                        double failed = 0;
                        for (const LoadResult& load : r.Load)
                            failed += static_cast<double>(load.Failed);
                        return failed;
                    },
                    0, false});

    std::printf(
        "LPD load over loopback: 10 KB jobs for %.0f s or %ld jobs per level and server; one %s job\n",
        options.Seconds, options.MaxJobs, big.c_str());
    std::printf("(jobs/s and MB/s: higher is better; times and memory: lower is better)\n\n");
    PrintTable(rows, {{"this server", &entries[0].Results},
                      {"no flush", &entries[1].Results},
                      {"LPRng lpd", &entries[2].Results},
                      {"loopback copy", &entries[3].Results}});
    std::printf("\n");
    for (const Entry& entry : entries) {
        if (!entry.Results.Unavailable.empty())
            std::printf("%s: n/a, %s\n", entry.Target->Name(), entry.Results.Unavailable.c_str());
        else if (entry.Results.Big.Measured && !entry.Results.Big.Ok)
            std::printf("%s: the big job failed\n", entry.Target->Name());
    }
    std::printf(
        "Memory: this server and the copy run in this process (VmHWM growth); LPRng: sum of the VmHWM of its "
        "processes, sampled every 20 ms.\nThe loopback copy receives the same bytes without the replies, "
        "in one write per 10 KB job.\n");
    return 0;
}
