// The application object: the root of the program, which owns the parts that live for the whole run and
// builds each with what it needs.
#pragma once

#include <cstdint>
#include <string>

#include "app/admin_channel.h"
#include "app/desktop_role.h"
#include "app/service_markers.h"
#include "app/user_interface_switch.h"
#include "config/printer_config.h"
#include "config/printer_list.h"
#include "core/log_writer.h"
#include "core/manual_reset_event.h"
#include "core/profile_file.h"
#include "core/reporter.h"
#include "core/settings.h"
#include "net/lpd_server.h"
#include "output/print_dispatch.h"
#include "spool/job_store.h"
#include "spool/spooler.h"

namespace velmora {

class CServiceControl;

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
    // waits for the sessions and the dispatcher to end, saves the job list and empties both lists.
    void StartServer();
    void StopServer();

    // Settings file (settings.cpp).
    void LoadSettings() { Settings.Load(ProfileFile); }
    void ReloadSettings() { Settings.ReloadServerSettings(ProfileFile); }
    void SaveSettings() { Settings.Save(ProfileFile); }

    // Working folders (working_folders.cpp): the base folder and the paths under it, handed to the parts.
    bool SetUpWorkingFolders();

    // The role: 0 desktop, 1 service in every log line; the service shows no window.
    void SetServiceMode(bool serviceMode);
    bool IsServiceMode() const { return ServiceMode; }
    // The desktop program's windows; null uninstalls them.
    void InstallUserInterface(CUserInterface* ui) { Ui.Install(ui); }

    void WriteLog(const std::u16string& message) { Log.WriteLog(message); }
    // A user-visible failure: a message box in the desktop program, a log line otherwise.
    void ShowMessage(const std::u16string& text, MessageIcon icon = MessageIcon::Error) {
        Reporter.ShowMessage(text, icon);
    }

    // Virtual printers.
    void LoadPrinterConfig() { PrinterConfig.LoadPrinterConfig(PrinterList); }
    void SavePrinterConfig() { PrinterConfig.SavePrinterConfig(PrinterList); }

    // This run ends early (service removal, second instance): the end of the run resumes no service.
    bool SkipServiceResume = false;
    // The desktop program's windows; null in the service role and in runs without a display.
    CDesktopRole* Desktop = nullptr;

    // The parts, in the order they are built (and the reverse of their end).
    CSettings Settings;
    CProfileFile ProfileFile;
    CLogWriter Log;
    CUserInterfaceSwitch Ui;
    CReporter Reporter{Log, Ui};

    // Working paths; folders end with the path separator.
    std::u16string BaseFolder;
    std::u16string SpoolFolder;
    CServiceMarkers Markers;

    CPrinterList PrinterList;
    CPrinterConfigFile PrinterConfig{Reporter, Settings};
    // The spooler sleeps on it; intake and every job action set it.
    CManualResetEvent SpoolerEvent;
    CJobStore Jobs{Reporter, Settings, SpoolerEvent};
    CPrintDispatch Dispatch{Reporter, Settings};
    CSpooler Spooler;
    CLpdServer LpdServer{{Reporter, Settings, PrinterList, Jobs}};
    // velmora-admin's way to the running server.
    CAdminChannel AdminChannel{Reporter, {Settings, ProfileFile, PrinterList, PrinterConfig, Jobs}};

  private:
    // -DELSERV: removes the service and reports the outcome.
    void RemoveService(CServiceControl& service, bool silent);
    // The desktop role: the service paused (or installed and started, and the run ends), the windows made,
    // the start-up deletion and the spooler's start.
    bool StartDesktop(CServiceControl& service, bool silent);

    bool ServiceMode = false;
};

}  // namespace velmora
