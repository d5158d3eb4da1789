// The job list file under load: loading and saving a large spool.list, and what the prompt saves cost
// while jobs keep arriving. Each figure comes with a peer measured in the same run.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "app/app.h"
#include "core/my_file.h"
#include "platform/ansi.h"
#include "spool/job_archive.h"
#include "text/format.h"

using namespace velmora;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

SpoolFilePtr MakeJob(const std::u16string& base, int i) {
    auto job = std::make_shared<CSpoolFile>();
    job->DocumentName = Format(u"Invoice %d.pdf", i);
    job->SetReady();
    job->Owner = u"accounting";
    job->DateInserted = u"Sun Dec  6 12:00:00 2026";
    job->FileSize = Format(u"%d bytes", 10000 + i);
    job->FileType = u"PDF";
    job->PrinterName = u"PASS";
    job->LocalFileName = Format(u"%sSpool/PASS/20261206120000%d.pdf", base, i);
    job->ReceivedFileName = Format(u"dfA%03derp01", i % 1000);
    job->SourceHost = u"erp01.example";
    job->ControlFile =
        Format(u"Herp01\nPaccounting\nJInvoice %d\nCA\nldfA%03derp01\nNInvoice %d.pdf\n", i, i % 1000, i);
    job->JobName = Format(u"Invoice %d", i);
    job->JobClass = u"A";
    return job;
}

void Fill(CVelmoraVirtualPrinterApp& app, int count) {
    std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
    app.Jobs.JobList.clear();
    for (int i = 0; i < count; ++i)
        app.Jobs.JobList.push_back(MakeJob(app.BaseFolder, i));
}

template <typename F>
double Best(int rounds, F f) {
    double best = 1e9;
    for (int i = 0; i < rounds; ++i) {
        const auto start = Clock::now();
        f();
        best = std::min(best, Seconds(Clock::now() - start));
    }
    return best;
}

void LoadAndSave(CVelmoraVirtualPrinterApp& app) {
    constexpr int JOBS = 100000;
    Fill(app, JOBS);
    std::string bytes;
    const double save = Best(3, [&] { app.Jobs.SaveJobList(); });
    bytes = WriteJobArchive(app.Jobs.JobList);
    // The peer: writing the same bytes the same crash-safe way, without building them.
    const double write = Best(3, [&] { ReplaceFileContent(app.Jobs.ListPath(), bytes, 1, 10, nullptr); });
    const double load = Best(3, [&] {
        {
            std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
            app.Jobs.JobList.clear();
        }
        app.Jobs.LoadJobList();
    });
    // The peer: reading the same file into memory.
    const double read = Best(3, [&] {
        CMyFile file(1, 10);
        file.OpenWithRetry(app.Jobs.ListPath(), platform::OPEN_READ, nullptr);
        std::string content(static_cast<std::size_t>(file.Length()), '\0');
        file.Read(content.data(), content.size());
    });
    std::printf("spool.list with %d jobs (%.1f MB)\n", JOBS, bytes.size() / 1e6);
    std::printf("| operation | time (s) | peer | peer time (s) | ratio |\n|---|---|---|---|---|\n");
    std::printf("| SaveJobList | %.3f | write the same bytes | %.3f | %.2f |\n", save, write, save / write);
    std::printf("| LoadJobList | %.3f | read the same file | %.3f | %.2f |\n\n", load, read, load / read);
}

struct ArrivalResult {
    double WorstWaitMs = 0;  // longest wait of an arriving job for JobListLock
    double P99WaitMs = 0;
    int Saves = 0;
    double SaveSeconds = 0;
};

// Jobs arrive at a steady 1,000 per second into a list of 10,000 for a few seconds.
ArrivalResult Arrivals(CVelmoraVirtualPrinterApp& app, bool promptSaves) {
    Fill(app, 10000);
    ArrivalResult result;
    if (promptSaves) {
        app.Jobs.JobListSaver.Start([&] {
            const auto start = Clock::now();
            app.Jobs.WriteJobListFile(nullptr);
            result.SaveSeconds += Seconds(Clock::now() - start);
            ++result.Saves;
        });
    }
    std::vector<double> waits;
    const auto begin = Clock::now();
    for (int i = 0; i < 4000; ++i) {
        std::this_thread::sleep_until(begin + std::chrono::milliseconds(i));
        const auto start = Clock::now();
        std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
        waits.push_back(Seconds(Clock::now() - start) * 1000);
        app.Jobs.AppendJob(MakeJob(app.BaseFolder, 10000 + i));
    }
    app.Jobs.JobListSaver.Stop();
    std::sort(waits.begin(), waits.end());
    result.WorstWaitMs = waits.back();
    result.P99WaitMs = waits[waits.size() * 99 / 100];
    return result;
}

}  // namespace

int main() {
    const std::string folder = (std::filesystem::temp_directory_path() / "velmora-bench-XXXXXX").string();
    std::string path = folder;
    if (!mkdtemp(path.data()))
        return 1;
    setenv("VELMORA_BASE_FOLDER", path.c_str(), 1);
    {
        CVelmoraVirtualPrinterApp app;
        if (!app.SetUpWorkingFolders())
            return 1;
        LoadAndSave(app);

        const ArrivalResult without = Arrivals(app, false);
        const ArrivalResult with = Arrivals(app, true);
        std::printf("1,000 jobs/s for 4 s into a list of 10,000 jobs\n");
        std::printf(
            "| prompt saves | saves | save time per save (ms) | saver busy | arrival lock wait p99 (ms) | "
            "worst (ms) |\n");
        std::printf("|---|---|---|---|---|---|\n");
        std::printf("| off | 0 | - | - | %.3f | %.3f |\n", without.P99WaitMs, without.WorstWaitMs);
        std::printf("| on | %d | %.1f | %.0f%% | %.3f | %.3f |\n", with.Saves,
                    with.Saves ? with.SaveSeconds * 1000 / with.Saves : 0.0, with.SaveSeconds / 4.0 * 100,
                    with.P99WaitMs, with.WorstWaitMs);
    }
    std::filesystem::remove_all(path);
    return 0;
}
