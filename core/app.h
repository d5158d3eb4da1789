// The application object: the one owner of everything that lives for the whole run.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "core/profile_file.h"

namespace velmora {

enum class MessageIcon { Error, Warning, Information };

// What the desktop program installs so that the core can reach the user. The service installs none:
// message texts then go to the log only.
struct UserInterfaceSeams {
    std::function<void(const std::u16string& text, MessageIcon icon)> ShowMessage;
};

class CVelmoraVirtualPrinterApp {
  public:
    CVelmoraVirtualPrinterApp();
    virtual ~CVelmoraVirtualPrinterApp();
    CVelmoraVirtualPrinterApp(const CVelmoraVirtualPrinterApp&) = delete;
    CVelmoraVirtualPrinterApp& operator=(const CVelmoraVirtualPrinterApp&) = delete;

    // Settings file (settings.cpp).
    void LoadSettings();
    void ReloadSettings();
    void SaveSettings();

    // Working folders (working_folders.cpp).
    bool SetUpWorkingFolders();

    // Log writer (log_writer.cpp). Lines are dropped until LogFilePath is set.
    void WriteLog(std::u16string message);
    std::u16string BuildLogFilePath();

    // A user-visible failure: a message box in the desktop program, a log line otherwise.
    void ShowMessage(const std::u16string& text, MessageIcon icon = MessageIcon::Error);

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
    CProfileFile ProfileFile;

    // Working paths; folders end with the path separator.
    std::u16string BaseFolder;
    std::u16string SpoolFolder;
    std::u16string PrinterCfgPath;
    std::u16string SpoolListPath;
    std::u16string LogFilePath;
    std::u16string MarkerPath[3];

    std::mutex LogLock;

    UserInterfaceSeams Ui;
};

// The application object of this process (the one most recently constructed and not yet destroyed).
CVelmoraVirtualPrinterApp& App();

}  // namespace velmora
