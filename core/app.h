// The application object: the one owner of everything that lives for the whole run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/printer_list.h"
#include "core/desktop_role.h"
#include "core/manual_reset_event.h"
#include "core/profile_file.h"
#include "platform/file.h"
#include "spool/job_list_saver.h"
#include "spool/spool_file.h"

namespace velmora {

enum class MessageIcon { Error, Warning, Information };

// The changes a job undergoes after its creation, all made through ApplyJobAction.
enum JobAction : int32_t {
    JOB_RELEASE = 0,
    JOB_HOLD = 1,
    JOB_DELETE = 2,
    JOB_TRANSFER = 3,
    JOB_SAVED = 4,
    JOB_ERROR = 5,
};

// What the desktop program installs so that the core can reach the user. The service installs none:
// message texts then go to the log only.
struct UserInterfaceSeams {
    std::function<void(const std::u16string& text, MessageIcon icon)> ShowMessage;
    // Posts WM_JOBLIST_CHANGED to the main window; never waits for the window.
    std::function<void()> PostJobListChanged;
    // Shows a text in the information window and brings it to the top.
    std::function<void(const std::u16string& text)> ShowInformation;
    // The modal "Spooled file configuration" dialog: true and the chosen virtual printer on OK.
    std::function<bool(const CSpoolFile& job, std::u16string* printerName)> TransferDialog;
    // Switches the notification-area icon (131 spooler running, 132 stopped).
    std::function<void(int iconId)> SetTrayIcon;
};

class CVelmoraVirtualPrinterApp {
  public:
    CVelmoraVirtualPrinterApp();
    virtual ~CVelmoraVirtualPrinterApp();
    CVelmoraVirtualPrinterApp(const CVelmoraVirtualPrinterApp&) = delete;
    CVelmoraVirtualPrinterApp& operator=(const CVelmoraVirtualPrinterApp&) = delete;

    // Start-up and shutdown (start_up.cpp). InitInstance is false when the run ends without a desktop
    // message loop; ExitInstance returns the exit code.
    bool InitInstance(int argc, char** argv);
    int ExitInstance();
    // The end of the application object's life: the settings of a desktop run are saved.
    void EndRun();
    bool IsAlreadyRunning();
    static bool IsOwnProcess(uint32_t processId);

    // The server of either role (server.cpp): lists loaded and the listener started; and its stop, which
    // waits for the workers to leave the lists, saves the job list and empties both lists.
    void StartServer();
    void StopServer();

    // Settings file (settings.cpp).
    void LoadSettings();
    void ReloadSettings();
    void SaveSettings();

    // Working folders (working_folders.cpp).
    bool SetUpWorkingFolders();

    // Log writer (log_writer.cpp). Lines are dropped until LogFilePath is set.
    void WriteLog(std::u16string message);
    std::u16string BuildLogFilePath();

    // Job list (spool/job_list.cpp). Callers hold JobListLock exactly once when an action may wait.
    void ApplyJobAction(JobAction action, JobId job, bool waitUntilDeleted);
    // The index of the job in JobList, or -1; the caller holds JobListLock.
    long FindJob(JobId job) const;
    // Appends a received job; the caller holds JobListLock.
    void AppendJob(SpoolFilePtr job);
    // Every change of the job list or of a job's state ends here: the list reaches the disk soon after.
    void NoteJobListChange() { JobListSaver.RequestSave(); }

    // Job list file (spool/job_list_file.cpp).
    void SaveJobList();
    void LoadJobList();
    // Writes spool.list without telling the user; false with the reason on failure.
    bool WriteJobListFile(platform::FileError* error);
    // Saves that follow every change of the job list while the server runs.
    void StartPromptSaves();
    void StopPromptSaves();

    // Virtual printers (config/printer_config.cpp).
    void LoadPrinterConfig();
    void SavePrinterConfig();
    // True when a virtual printer of that exact name exists; *hold tells whether its jobs start held.
    bool FindVirtualPrinter(const std::u16string& queueName, bool* hold) const;

    // Spooler (spool/spooler.cpp). One dispatcher thread at most, started and stopped by the user, by
    // start-up and by the service.
    void SetSpoolerRunning(bool running);
    bool IsSpoolerRunning() const;
    void StartSpooler();
    void StopSpooler();
    // Waits for the dispatcher thread to end after StopSpooler: its dispatch under way runs to its end.
    // The end of the run does so before the job list is saved and emptied.
    void JoinSpoolerThread();
    // The dispatcher's decision to go on after a wake-up; when it stops, a later StartSpooler starts a
    // new thread, and until then the thread that goes on is the running spooler.
    bool SpoolerThreadGoesOn();
    // Deletes every Saved job with its data file (start-up with AutoDelete).
    void AutoDeleteSavedJobs();
    // Starts the deletion of a dispatched job DeleteSpoolTimeOut seconds from now.
    void StartDelayedDelete(JobId job);
    // Ends the waiting delayed deletions without deleting and waits for every one to finish (end of run).
    void EndDelayedDeletes();
    // True once the run ends; waits up to the time for it.
    bool RunEndingWithin(std::chrono::milliseconds time) { return RunEnding_.WaitFor(time); }
    bool IsRunEnding() const { return RunEnding_.IsSet(); }

    // LPD server (net/lpd_server.cpp). The listener runs while ServerRunning is true.
    void SetServerRunning(bool running);
    bool IsServerRunning() const;
    // Starts the listener thread; StopLpdServer ends it and waits for it without a time limit.
    void StartLpdServer();
    void StopLpdServer();

    // A user-visible failure: a message box in the desktop program, a log line otherwise.
    void ShowMessage(const std::u16string& text, MessageIcon icon = MessageIcon::Error);
    // A message box in the desktop program only; nothing otherwise.
    void ShowMessageBox(const std::u16string& text, MessageIcon icon);

    // The mode digit that starts every log line: 0 desktop, 1 service.
    int ModeDigit() const { return ServiceMode ? 1 : 0; }

    // Settings, named after their keys. Worker threads read them while the user interface may change
    // them, so each is an atomic value.
    std::atomic<int32_t> StartAsService{0};
    std::atomic<int32_t> AutoStart{1};
    std::atomic<int32_t> AutoDelete{0};
    std::atomic<bool> DeleteSpool{false};
    std::atomic<int32_t> DeleteSpoolTimeOut{30};
    std::atomic<int32_t> AutoHide{0};
    std::atomic<int32_t> Stress{0};
    std::atomic<int32_t> PortLPD{515};
    std::atomic<int32_t> AccessFile_MaxAttempts{10};
    std::atomic<int32_t> AccessFile_WaitingTimeMsec{10};
    std::atomic<int32_t> KillProcessIfNeed{0};
    std::atomic<int32_t> LogLevel{1};

    bool ServiceMode = false;
    // This run ends early (service removal, second instance): the end of the run resumes no service.
    bool SkipServiceResume = false;
    // The desktop program's windows; null in the service role and in runs without a display.
    DesktopRole* Desktop = nullptr;
    CProfileFile ProfileFile;

    // Working paths; folders end with the path separator.
    std::u16string BaseFolder;
    std::u16string SpoolFolder;
    std::u16string PrinterCfgPath;
    std::u16string SpoolListPath;
    std::u16string LogFilePath;
    std::u16string MarkerPath[3];

    std::mutex LogLock;

    // The jobs in arrival order. Shared ownership keeps a record alive while a dispatch or a dialog
    // still uses it after its removal from the list.
    std::vector<SpoolFilePtr> JobList;
    // Recursive for the thread that holds it; the job list view takes it with TryLockFor (core/try_lock.h)
    // and skips a refresh rather than wait.
    mutable std::recursive_mutex JobListLock;
    CJobListSaver JobListSaver;
    std::mutex JobListFileLock;

    CPrinterList PrinterList;
    ManualResetEvent SpoolerEvent;

    bool SpoolerRunning = false;
    mutable std::mutex SpoolerLock;
    std::atomic<int32_t> PendingDelayedDeletes{0};
    // The job whose dispatch runs (0: none); set and cleared under JobListLock. A delayed deletion of that
    // job waits until it is cleared.
    std::atomic<JobId> DispatchingJob{0};
    // The port of the LPD route: always 515 for the user; tests aim it at their own servers.
    int32_t LpdForwardPort = 515;

    bool ServerRunning = false;
    mutable std::mutex ServerLock;
    std::thread LpdServerThreadHandle;
    // The port the listener is bound to once it listens (0 before and after): PortLPD 0 lets the system
    // choose one, which tests rely on.
    std::atomic<uint16_t> ListeningPort{0};
    // Listen on the loopback address only instead of every address (tests; VELMORA_LISTEN_LOOPBACK=1).
    bool LoopbackOnly = false;
    // Connection threads still running; the application object outlives them.
    std::atomic<int> ActiveConnections{0};

    UserInterfaceSeams Ui;

  private:
    // The keys that the service reads again at every start of its server.
    void ReadServerSettings(int32_t autoDeleteDefault);

    CVelmoraVirtualPrinterApp* Previous_ = nullptr;

    // Whether a dispatcher thread exists that has not decided to end (under SpoolerLock).
    bool SpoolerThreadAlive_ = false;
    // Guards the handle: start, join and the end of the run may come from different threads.
    std::mutex SpoolerThreadHandleLock_;
    std::thread SpoolerThreadHandle_;
    // Delayed deletions still running, and the signal that ends their waits at the end of the run.
    std::atomic<int32_t> DelayedDeleteThreads_{0};
    ManualResetEvent RunEnding_;
};

// The application object of this process (the one most recently constructed and not yet destroyed).
CVelmoraVirtualPrinterApp& App();

}  // namespace velmora
