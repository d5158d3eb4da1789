#include "spool/spooler.h"

#include "core/language.h"
#include "text/format.h"

namespace velmora {

CSpooler::CSpooler(CJobStore& jobs, CReporter& reporter, const CSettings& settings,
                   CManualResetEvent& spoolerEvent, DispatchFunction dispatch)
    : Jobs(jobs),
      Reporter(reporter),
      Settings(settings),
      SpoolerEvent(spoolerEvent),
      Dispatch(std::move(dispatch)),
      Deletions(jobs, reporter.UserInterface()) {}

CSpooler::~CSpooler() {
    SetSpoolerRunning(false);
    JoinSpoolerThread();
    EndDelayedDeletes();
}

void CSpooler::SetSpoolerRunning(bool running) {
    std::lock_guard<std::mutex> lock(SpoolerLock);
    SpoolerRunning = running;
}

bool CSpooler::IsSpoolerRunning() const {
    std::lock_guard<std::mutex> lock(SpoolerLock);
    return SpoolerRunning;
}

bool CSpooler::SpoolerThreadGoesOn() {
    std::lock_guard<std::mutex> lock(SpoolerLock);
    if (!SpoolerRunning)
        SpoolerThreadAlive = false;
    return SpoolerRunning;
}

void CSpooler::StartSpooler() {
    if (IsSpoolerRunning())
        return;
    const int mode = Reporter.ModeDigit();
    Reporter.WriteLog(Format(u"%d\tStarting Spooler", mode));
    {
        std::lock_guard<std::mutex> handleLock(SpoolerThreadHandleLock);
        bool startThread = false;
        {
            // One decision with the thread's own: a thread still finishing the dispatch it began before
            // the last stop sees the spooler running again and goes on as the spooler; otherwise it has
            // ended its work and a new one starts.
            std::lock_guard<std::mutex> lock(SpoolerLock);
            SpoolerRunning = true;
            startThread = !SpoolerThreadAlive;
            SpoolerThreadAlive = true;
        }
        Reporter.UserInterface().SetTrayIcon(TRAY_ICON_SPOOLER_RUNNING);
        if (startThread) {
            // The previous thread has decided to end; all that is left of it is its return.
            if (SpoolerThreadHandle.joinable())
                SpoolerThreadHandle.join();
            SpoolerThreadEnded.Reset();
            SpoolerThreadHandle = std::thread(&CSpooler::SpoolerThread, this);
        }
    }
    SpoolerEvent.Set();
    Reporter.WriteLog(Format(u"%d\tSpooler is started", mode));
}

void CSpooler::StopSpooler() {
    if (!IsSpoolerRunning())
        return;
    const int mode = Reporter.ModeDigit();
    Reporter.WriteLog(Format(u"%d\tEnding Spooler", mode));
    SetSpoolerRunning(false);
    Reporter.UserInterface().SetTrayIcon(TRAY_ICON_SPOOLER_STOPPED);
    SpoolerEvent.Set();
    Reporter.WriteLog(Format(u"%d\tSpooler is stopped", mode));
}

void CSpooler::JoinSpoolerThread(std::chrono::milliseconds grace) {
    std::lock_guard<std::mutex> handleLock(SpoolerThreadHandleLock);
    if (IsSpoolerRunning() || !SpoolerThreadHandle.joinable())
        return;
    SpoolerEvent.Set();
    if (!SpoolerThreadEnded.WaitFor(grace)) {
        Reporter.WriteLog(
            Format(u"%d\tSpooler: the dispatch under way is cut by the stop", Reporter.ModeDigit()));
        CutDispatch = true;
    }
    SpoolerThreadHandle.join();
    CutDispatch = false;
}

void CSpooler::SpoolerThread() {
    DispatchJobs();
    SpoolerThreadEnded.Set();
}

void CSpooler::DispatchJobs() {
    SelectLanguage();
    if (!SpoolerThreadGoesOn())
        return;
    for (;;) {
        if (const std::shared_ptr<const CSpoolFile> job = Jobs.TakeNextReadyJob())
            DispatchOne(*job);
        SpoolerEvent.Wait();
        SpoolerEvent.Reset();
        if (!SpoolerThreadGoesOn())
            return;
    }
}

void CSpooler::DispatchOne(const CSpoolFile& job) {
    const CDispatchOutcome outcome = Dispatch(job, CutDispatch);
    Jobs.EndDispatch(job.Id(), outcome);
    if (Settings.DeleteSpool && !outcome.Cut)
        Deletions.Schedule(job.Id(), std::chrono::seconds(Settings.DeleteSpoolTimeOut.load()));
}

}  // namespace velmora
