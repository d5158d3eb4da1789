#include "spool/spooler.h"

#include <chrono>
#include <thread>

#include "core/app.h"
#include "core/language.h"
#include "output/print_dispatch.h"
#include "text/format.h"

namespace velmora {

namespace {

constexpr int kRunningIcon = 131;
constexpr int kStoppedIcon = 132;

void PostJobListChanged(CVelmoraVirtualPrinterApp& app) {
    if (!app.ServiceMode && app.Ui.PostJobListChanged)
        app.Ui.PostJobListChanged();
}

}  // namespace

void CVelmoraVirtualPrinterApp::SetSpoolerRunning(bool running) {
    std::lock_guard<std::mutex> lock(SpoolerLock);
    SpoolerRunning = running;
}

bool CVelmoraVirtualPrinterApp::IsSpoolerRunning() const {
    std::lock_guard<std::mutex> lock(SpoolerLock);
    return SpoolerRunning;
}

bool CVelmoraVirtualPrinterApp::SpoolerThreadGoesOn() {
    std::lock_guard<std::mutex> lock(SpoolerLock);
    if (!SpoolerRunning)
        SpoolerThreadAlive_ = false;
    return SpoolerRunning;
}

void CVelmoraVirtualPrinterApp::StartSpooler() {
    if (IsSpoolerRunning())
        return;
    WriteLog(Format(u"%d\tStarting Spooler", ModeDigit()));
    {
        std::lock_guard<std::mutex> handleLock(SpoolerThreadHandleLock_);
        bool startThread = false;
        {
            // One decision with the thread's own: a thread still finishing the dispatch it began before
            // the last stop sees the spooler running again and goes on as the spooler; otherwise it has
            // ended its work and a new one starts.
            std::lock_guard<std::mutex> lock(SpoolerLock);
            SpoolerRunning = true;
            startThread = !SpoolerThreadAlive_;
            SpoolerThreadAlive_ = true;
        }
        if (!ServiceMode && Ui.SetTrayIcon)
            Ui.SetTrayIcon(kRunningIcon);
        if (startThread) {
            // The previous thread has decided to end; all that is left of it is its return.
            if (SpoolerThreadHandle_.joinable())
                SpoolerThreadHandle_.join();
            SpoolerThreadHandle_ = std::thread(SpoolerThread);
        }
    }
    SpoolerEvent.Set();
    WriteLog(Format(u"%d\tSpooler is started", ModeDigit()));
}

void CVelmoraVirtualPrinterApp::StopSpooler() {
    if (!IsSpoolerRunning())
        return;
    WriteLog(Format(u"%d\tEnding Spooler", ModeDigit()));
    SetSpoolerRunning(false);
    if (!ServiceMode && Ui.SetTrayIcon)
        Ui.SetTrayIcon(kStoppedIcon);
    SpoolerEvent.Set();
    WriteLog(Format(u"%d\tSpooler is stopped", ModeDigit()));
}

void CVelmoraVirtualPrinterApp::JoinSpoolerThread() {
    std::lock_guard<std::mutex> handleLock(SpoolerThreadHandleLock_);
    if (IsSpoolerRunning() || !SpoolerThreadHandle_.joinable())
        return;
    SpoolerEvent.Set();
    SpoolerThreadHandle_.join();
}

int32_t SpoolerThread() {
    CVelmoraVirtualPrinterApp& app = App();
    SelectLanguage();
    if (!app.SpoolerThreadGoesOn())
        return 0;
    for (;;) {
        if (const SpoolFilePtr job = TakeNextReadyJob()) {
            const int32_t result = PrintSpoolFile(*job, *app.PrinterList.Snapshot());
            {
                std::lock_guard<std::recursive_mutex> lock(app.JobListLock);
                app.DispatchingJob = 0;
            }
            app.ApplyJobAction(result != 0 ? JOB_ERROR : JOB_SAVED, job->Id(), false);
        }
        app.SpoolerEvent.Wait();
        app.SpoolerEvent.Reset();
        if (!app.SpoolerThreadGoesOn())
            return 0;
    }
}

SpoolFilePtr TakeNextReadyJob() {
    CVelmoraVirtualPrinterApp& app = App();
    SpoolFilePtr taken;
    {
        std::lock_guard<std::recursive_mutex> lock(app.JobListLock);
        for (const SpoolFilePtr& job : app.JobList) {
            if (job->State == STATE_READY) {
                job->SetPrinting();
                app.DispatchingJob = job->Id();
                taken = job;
                break;
            }
        }
    }
    if (taken) {
        app.NoteJobListChange();
        PostJobListChanged(app);
    }
    return taken;
}

void CVelmoraVirtualPrinterApp::AutoDeleteSavedJobs() {
    WriteLog(Format(u"%d\tStart Auto Delete", ModeDigit()));
    bool changed = false;
    {
        std::lock_guard<std::recursive_mutex> lock(JobListLock);
        for (std::size_t i = 0; i < JobList.size();) {
            if (JobList[i]->State == STATE_SAVED && JobList[i]->DeleteLocalFile(false)) {
                JobList.erase(JobList.begin() + static_cast<std::ptrdiff_t>(i));
                changed = true;
            } else {
                ++i;
            }
        }
    }
    if (changed)
        NoteJobListChange();
    SpoolerEvent.Set();
    if (changed)
        PostJobListChanged(*this);
    WriteLog(Format(u"%d\tEnd Auto Delete", ModeDigit()));
}

void CVelmoraVirtualPrinterApp::StartDelayedDelete(JobId job) {
    ++DelayedDeleteThreads_;
    std::thread([this, job] {
        DelayedDeleteThread(job);
        // The last touch of the application object: its end waits for this count.
        --DelayedDeleteThreads_;
    }).detach();
}

void CVelmoraVirtualPrinterApp::EndDelayedDeletes() {
    RunEnding_.Set();
    while (DelayedDeleteThreads_ != 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void DelayedDeleteThread(JobId job) {
    CVelmoraVirtualPrinterApp& app = App();
    const auto delay = std::chrono::milliseconds(int64_t{app.DeleteSpoolTimeOut} * 1000);
    if (app.RunEndingWithin(delay))
        return;
    ++app.PendingDelayedDeletes;
    app.ApplyJobAction(JOB_DELETE, job, true);
    if (--app.PendingDelayedDeletes == 0)
        PostJobListChanged(app);
}

}  // namespace velmora
