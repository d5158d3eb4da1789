// A connection storm against the LPD server: do good clients still get their jobs through while thousands of
// connections arrive, and while they all sit open saying nothing? 16 good clients send 10 KB jobs back to
// back (the whole receive-job exchange, each reply awaited) through three phases: calm; the arrival of the
// storm (one thread opening N connections as fast as it can, each sending its queue line and then nothing);
// and all open (the N idle connections held). Measured in one run against this server in this process and
// a minimal server beside it (a thread per connection, just enough of the receive-job exchange to store the
// files).
//
// Options: --connections=N (the storm, default 5000), --seconds=S (the calm and the all-open phases,
// default 3), --servers=velmora,minimal (which to measure).
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "bench/bench_util.h"
#include "config/printer_list.h"

using namespace velmora;
using namespace velmora::bench;

namespace {

constexpr int GOOD_CLIENTS = 16;
// The arrival phase lasts at least this long, so that its figures rest on enough jobs.
constexpr double MIN_ARRIVAL_SECONDS = 1;
// How long the sessions may take to end once the storm has closed its connections.
constexpr double SETTLE_LIMIT_SECONDS = 20;

extern "C" void OnInterrupt(int) {
    interrupted = true;
}

Clock::duration Span(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Waits until the time, or until done() (called every 20 ms) is true.
template <typename Done>
void WaitUntil(Clock::time_point end, Done done) {
    while (!interrupted && Clock::now() < end && !done())
        std::this_thread::sleep_for(
            std::min<Clock::duration>(std::chrono::milliseconds(20), end - Clock::now()));
}

bool Never() {
    return false;
}

// ---------------------------------------------------------------------------------------------------
// The servers.

class Server {
  public:
    virtual ~Server() = default;
    virtual const char* Name() const = 0;
    // False with the reason when it cannot run here.
    virtual bool Start(std::string* reason) = 0;
    // Stops and waits for every session.
    virtual void Stop() = 0;
    virtual uint16_t Port() const = 0;
    // Sessions under way.
    virtual int Sessions() const = 0;
};

// This server, in this process, as the service runs it: its own connection threads, the log at level 1,
// the job journal and prompt saves of the job list after every job.
class VelmoraServer : public Server {
  public:
    ~VelmoraServer() override { Stop(); }
    const char* Name() const override { return "this server"; }

    bool Start(std::string* reason) override {
        if (!folder_.Valid()) {
            *reason = "no temporary folder";
            return false;
        }
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
        app_->Jobs.LoadJobList();
        app_->Jobs.StartPromptSaves();
        app_->LpdServer.StartLpdServer();
        for (int i = 0; i < 500 && app_->LpdServer.ListeningPort == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (app_->LpdServer.ListeningPort == 0)
            *reason = "the server did not start listening";
        return app_->LpdServer.ListeningPort != 0;
    }

    void Stop() override {
        if (!app_)
            return;
        app_->LpdServer.StopLpdServer();
        app_->LpdServer.WaitForSessions();
        app_->Jobs.StopPromptSaves();
        app_.reset();
        unsetenv("VELMORA_BASE_FOLDER");
    }

    uint16_t Port() const override { return app_ ? app_->LpdServer.ListeningPort.load() : 0; }
    int Sessions() const override { return app_ ? app_->LpdServer.ActiveConnections() : 0; }

  private:
    TempFolder folder_;
    std::unique_ptr<CVelmoraVirtualPrinterApp> app_;
};

// The reference: a thread per accepted connection that takes the queue line and each file (its subcommand
// line, its bytes and the end byte), acknowledges every step with a zero byte and writes the files. No time
// limits, no checks, no job list: a session ends when its client closes the connection.
class MinimalServer : public Server {
  public:
    ~MinimalServer() override { Stop(); }
    const char* Name() const override { return "minimal server"; }

    bool Start(std::string* reason) override {
        if (!folder_.Valid()) {
            *reason = "no temporary folder";
            return false;
        }
        listener_ = OpenLoopbackListener(&port_, reason);
        if (listener_ < 0)
            return false;
        running_ = true;
        acceptor_ = std::thread([this] { Accept(); });
        return true;
    }

    // The sessions still open are shut down, so that none waits for a client that sends nothing.
    void Stop() override {
        if (acceptor_.joinable()) {
            running_ = false;
            acceptor_.join();
        }
        if (listener_ >= 0)
            close(listener_);
        listener_ = -1;
        std::unique_lock<std::mutex> lock(lock_);
        for (Session& session : sessions_) {
            if (session.Fd >= 0)
                shutdown(session.Fd, SHUT_RDWR);
        }
        lock.unlock();
        for (Session& session : sessions_)
            session.Thread.join();
        sessions_.clear();
        ended_.clear();
    }

    uint16_t Port() const override { return port_; }
    int Sessions() const override { return active_; }

  private:
    struct Session {
        std::thread Thread;
        int Fd = -1;  // closed by the session itself, under lock_
    };

    void Accept() {
        for (long count = 0; running_;) {
            pollfd entry = {listener_, POLLIN, 0};
            if (poll(&entry, 1, 100) <= 0)
                continue;
            const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(errno == EMFILE ? 10 : 0));
                continue;
            }
            // The threads of ended sessions are joined here, so that they do not pile up.
            std::lock_guard<std::mutex> lock(lock_);
            for (const auto& session : ended_) {
                session->Thread.join();
                sessions_.erase(session);
            }
            ended_.clear();
            const auto session = sessions_.insert(sessions_.end(), Session{{}, fd});
            ++active_;
            const std::string prefix = folder_.Path() + "/" + std::to_string(++count) + "-";
            session->Thread = std::thread([this, session, prefix] {
                Serve(session->Fd, prefix);
                std::lock_guard<std::mutex> lock(lock_);
                close(session->Fd);
                session->Fd = -1;
                ended_.push_back(session);
                --active_;
            });
        }
    }

    static void Serve(int fd, const std::string& prefix) {
        std::string held;  // received, not yet taken
        char buffer[16 * 1024];
        // Clients send each file's end byte in a write of its own, which waits for the acknowledgement of
        // the data: a delayed one would cost about 40 ms a file. Linux forgets the setting after a while.
        const auto receive = [&] {
            const int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
            const ssize_t received = recv(fd, buffer, sizeof buffer, 0);
            if (received > 0)
                held.append(buffer, static_cast<std::size_t>(received));
            return received > 0;
        };
        const auto line = [&](std::string* text) {
            std::size_t end;
            while ((end = held.find('\n')) == std::string::npos) {
                if (!receive())
                    return false;
            }
            text->assign(held, 0, end);
            held.erase(0, end + 1);
            return !text->empty();
        };
        const auto acknowledge = [fd] { return send(fd, "", 1, MSG_NOSIGNAL) == 1; };
        std::string text;
        if (!line(&text) || text[0] != '\x02' || !acknowledge())
            return;
        for (int files = 0; line(&text) && (text[0] == '\x02' || text[0] == '\x03'); ++files) {
            std::size_t left = std::strtoul(text.c_str() + 1, nullptr, 10);
            if (!acknowledge())
                return;
            const std::string path = prefix + std::to_string(files);
            const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            bool stored = file >= 0;
            while (left > 0 && (!held.empty() || receive())) {
                const std::size_t part = std::min(left, held.size());
                stored = stored && write(file, held.data(), part) == static_cast<ssize_t>(part);
                held.erase(0, part);
                left -= part;
            }
            if (file >= 0)
                close(file);
            if (left > 0 || !stored || (held.empty() && !receive()))
                return;
            held.erase(0, 1);  // the end byte
            if (!acknowledge())
                return;
        }
    }

    TempFolder folder_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> running_{false};
    std::thread acceptor_;
    std::mutex lock_;
    std::list<Session> sessions_;  // added and removed by the acceptor
    std::vector<std::list<Session>::iterator> ended_;
    std::atomic<int> active_{0};
};

// ---------------------------------------------------------------------------------------------------
// One server through the phases.

struct JobRecord {
    Clock::time_point End;  // of the last reply, or of the failure
    double Ms;              // connect to last reply
    bool Ok;
};

struct PhaseResult {
    double Seconds = 0;
    double JobsPerSecond = 0;
    double MedianMs = 0;
    double P99Ms = 0;
    long Failed = 0;
};

constexpr const char* PHASES[] = {"calm", "arrival", "all open"};

struct ServerResult {
    std::string Unavailable;  // why it was not measured
    PhaseResult Phases[std::size(PHASES)];
    int Opened = 0;
    double EstablishSeconds = 0;
    long PeakGrowthKb = 0;
    long Threads = 0;
    double SettleSeconds = -1;  // -1: sessions still under way at the limit
};

// The good clients' jobs whose last reply, or failure, came within the time.
PhaseResult Phase(const std::vector<JobRecord>& records, Clock::time_point from, Clock::time_point to) {
    PhaseResult result;
    result.Seconds = Seconds(to - from);
    std::vector<double> times;
    for (const JobRecord& record : records) {
        if (record.End < from || record.End >= to)
            continue;
        if (record.Ok)
            times.push_back(record.Ms);
        else
            ++result.Failed;
    }
    std::sort(times.begin(), times.end());
    result.JobsPerSecond = times.size() / result.Seconds;
    result.MedianMs = Percentile(times, 50);
    result.P99Ms = Percentile(times, 99);
    return result;
}

void Measure(Server& server, int connections, double seconds, ServerResult* result) {
    if (!server.Start(&result->Unavailable))
        return;
    const uint16_t port = server.Port();
    std::fprintf(stderr, "%s: calm...\n", server.Name());
    // The good clients: 10 KB jobs back to back, one at a time each, until the all-open phase ends.
    std::atomic<bool> stopClients{false};
    std::atomic<int> number{0};
    std::vector<std::vector<JobRecord>> records(GOOD_CLIENTS);
    std::vector<std::thread> clients;
    for (std::vector<JobRecord>& mine : records) {
        clients.emplace_back([&stopClients, &number, &mine, port] {
            while (!stopClients && !interrupted) {
                const auto start = Clock::now();
                const bool ok = SendLpdJob(port, number.fetch_add(1) % 1000000, SMALL_JOB_BYTES);
                const auto end = Clock::now();
                mine.push_back({end, Seconds(end - start) * 1000, ok});
            }
        });
    }
    const auto calm = Clock::now();
    WaitUntil(calm + Span(seconds), Never);

    // The storm: one thread opening the connections one after another, as fast as it can.
    std::fprintf(stderr, "%s: %d connections arriving...\n", server.Name(), connections);
    InProcessMemory memory;
    memory.Begin();
    // Each sends its queue line and leaves the reply unread (its connect has 15 s).
    std::vector<std::unique_ptr<ClientSocket>> storm;
    const auto first = Clock::now();
    std::thread([&] {
        for (int i = 0; i < connections && !interrupted; ++i) {
            auto connection = std::make_unique<ClientSocket>();
            if (connection->Connect(port) && connection->Send("\x02PASS\n"))
                storm.push_back(std::move(connection));
        }
    }).join();
    const auto established = Clock::now();
    const auto arrived = std::max(established, first + Span(MIN_ARRIVAL_SECONDS));
    result->Opened = static_cast<int>(storm.size());
    result->EstablishSeconds = Seconds(established - first);
    WaitUntil(arrived, Never);

    std::fprintf(stderr, "%s: all open...\n", server.Name());
    WaitUntil(arrived + Span(seconds), [result] {
        result->Threads = std::max(result->Threads, StatusKb("self", "Threads"));
        return false;
    });
    const auto allOpen = Clock::now();
    result->PeakGrowthKb = memory.End();

    // The closed connections end the storm's sessions; the good clients finish the job under way.
    storm.clear();
    const auto closed = Clock::now();
    stopClients = true;
    for (std::thread& client : clients)
        client.join();
    WaitUntil(closed + Span(SETTLE_LIMIT_SECONDS), [&server] { return server.Sessions() == 0; });
    if (server.Sessions() == 0)
        result->SettleSeconds = Seconds(Clock::now() - closed);
    server.Stop();

    std::vector<JobRecord> all;
    for (const auto& list : records)
        all.insert(all.end(), list.begin(), list.end());
    result->Phases[0] = Phase(all, calm, first);
    result->Phases[1] = Phase(all, first, arrived);
    result->Phases[2] = Phase(all, arrived, allOpen);
}

// ---------------------------------------------------------------------------------------------------
// The table.

std::string Number(double value, int decimals) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

struct Options {
    int Connections = 5000;
    double Seconds = 3;
    bool Velmora = true, Minimal = true;
};

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const auto value = [&](const char* name) { return bench::OptionValue(argv[i], name); };
        if (const char* v = value("--connections=")) {
            options->Connections = std::atoi(v);
        } else if (const char* v = value("--seconds=")) {
            options->Seconds = std::atof(v);
        } else if (const char* v = value("--servers=")) {
            const std::string list = std::string(",") + v + ",";
            options->Velmora = list.find(",velmora,") != std::string::npos;
            options->Minimal = list.find(",minimal,") != std::string::npos;
        } else {
            return false;
        }
    }
    return options->Connections >= 1 && options->Seconds > 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, &options)) {
        std::fprintf(stderr, "usage: %s [--connections=N] [--seconds=S] [--servers=velmora,minimal]\n",
                     argv[0]);
        return 2;
    }
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    // Both ends of every storm connection are descriptors of this process.
    rlimit files = {};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    const rlim_t needed = 2 * static_cast<rlim_t>(options.Connections) + 200;
    if (files.rlim_max != RLIM_INFINITY && files.rlim_max < needed) {
        const int fitting = static_cast<int>(files.rlim_max > 400 ? (files.rlim_max - 200) / 2 : 100);
        std::printf("Note: at most %llu descriptors here (%llu needed): the storm is %d connections.\n\n",
                    static_cast<unsigned long long>(files.rlim_max), static_cast<unsigned long long>(needed),
                    fitting);
        options.Connections = fitting;
    }

    VelmoraServer velmora;
    MinimalServer minimal;
    struct Entry {
        Server* Target;
        bool Wanted;
        ServerResult Result;
    };
    Entry entries[] = {{&velmora, options.Velmora, {}}, {&minimal, options.Minimal, {}}};
    for (Entry& entry : entries) {
        if (!entry.Wanted)
            entry.Result.Unavailable = "not measured in this run (--servers)";
        else if (!interrupted)
            Measure(*entry.Target, options.Connections, options.Seconds, &entry.Result);
    }
    if (interrupted) {
        std::fprintf(stderr, "interrupted\n");
        return 1;
    }

    std::printf(
        "LPD connection storm over loopback: %d good clients sending 10 KB jobs while %d idle "
        "connections arrive, then stay open %.0f s\n",
        GOOD_CLIENTS, options.Connections, options.Seconds);
    std::printf("(jobs/s: higher is better; times, failures, memory and threads: lower is better)\n\n");
    std::printf(
        "| server | phase | s | good jobs/s | ÷ calm | median ms | p99 ms | failed |\n"
        "|---|---|---|---|---|---|---|---|\n");
    for (const Entry& entry : entries) {
        const PhaseResult& calm = entry.Result.Phases[0];
        for (std::size_t p = 0; p < std::size(PHASES) && entry.Result.Unavailable.empty(); ++p) {
            const PhaseResult& phase = entry.Result.Phases[p];
            const std::string ratio =
                calm.JobsPerSecond > 0 ? Number(phase.JobsPerSecond / calm.JobsPerSecond, 2) : "-";
            std::printf("| %s | %s | %.1f | %.0f | %s | %.2f | %.2f | %ld |\n", entry.Target->Name(),
                        PHASES[p], phase.Seconds, phase.JobsPerSecond, ratio.c_str(), phase.MedianMs,
                        phase.P99Ms, phase.Failed);
        }
    }
    std::printf("\n| measure | %s | %s |\n|---|---|---|\n", velmora.Name(), minimal.Name());
    const auto row = [&](const char* label, auto cell) {
        std::printf("| %s |", label);
        for (const Entry& entry : entries)
            std::printf(" %s |", entry.Result.Unavailable.empty() ? cell(entry.Result).c_str() : "n/a");
        std::printf("\n");
    };
    row("storm connections established", [&](const ServerResult& r) {
        return std::to_string(r.Opened) + " of " + std::to_string(options.Connections);
    });
    row("time to establish the storm, s",
        [](const ServerResult& r) { return Number(r.EstablishSeconds, 2); });
    row("peak memory growth, arrival and all open, MB",
        [](const ServerResult& r) { return Number(r.PeakGrowthKb / 1024.0, 1); });
    row("threads of the process, all open", [](const ServerResult& r) { return std::to_string(r.Threads); });
    row("sessions ended after the storm closed, s", [](const ServerResult& r) {
        return r.SettleSeconds < 0 ? std::string("not within 20 s") : Number(r.SettleSeconds, 2);
    });
    std::printf("\n");
    for (const Entry& entry : entries) {
        if (!entry.Result.Unavailable.empty())
            std::printf("%s: n/a, %s\n", entry.Target->Name(), entry.Result.Unavailable.c_str());
    }
    std::printf(
        "Arrival: from the first storm connect until the last is established (at least %.0f s). Both "
        "servers run in this process:\nmemory is its VmHWM growth from the storm's first connect, "
        "threads its highest count (with the %d good clients).\n",
        MIN_ARRIVAL_SECONDS, GOOD_CLIENTS);
    return 0;
}
