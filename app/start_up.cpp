// Start-up and shutdown of the program in either role, and the single-instance test.
#include "app/app.h"
#include "app/command_line.h"
#include "app/service_control.h"
#include "app/service_markers.h"
#include "app/service_runtime.h"
#include "core/language.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "text/code_page.h"

namespace velmora {

namespace {

constexpr char16_t PROGRAM_BASE_NAME[] = u"VelmoraVirtualPrinter";
constexpr char16_t ALREADY_RUNNING[] = u"VelmoraVirtualPrinter is already running on this computer.";
constexpr char16_t WINDOW_TITLE[] = u"Velmora Virtual Printer autogenbuild_v7.1.0.35583";

}  // namespace

bool CVelmoraVirtualPrinterApp::InitInstance(int argc, char** argv) {
    CMyCommandLineInfo commandLine;
    SelectLanguage();
    ParseCommandLine(commandLine, argc, argv);

    SetServiceMode(commandLine.RunAsService != 0);
    if (!ServiceMode && Desktop)
        Desktop->CreateInfoWindow();
    // Sockets and the framework's object libraries need no set-up of their own here.
    if (!SetUpWorkingFolders())
        return false;
    ProfileFile.SetPath(BaseFolder + u"QLSconf.ini");
    LoadSettings();

    const bool silent = commandLine.Silent != 0;
    CServiceControl service(Reporter);
    if (commandLine.RemoveService) {
        RemoveService(service, silent);
        return false;
    }
    if (commandLine.InstallService) {
        Settings.StartAsService = 1;
        ProfileFile.WriteInt(u"Settings", u"StartAsService", 1);
    }

    if (IsAlreadyRunning()) {
        SkipServiceResume = true;
        if (!ServiceMode && !silent) {
            ShowMessage(ALREADY_RUNNING, MessageIcon::Error);
        } else {
            WriteLog(ALREADY_RUNNING);
        }
        return false;
    }

    if (ServiceMode) {
        RunServiceDispatcher(*this);
        return false;
    }

    return StartDesktop(service, silent);
}

bool CVelmoraVirtualPrinterApp::StartDesktop(CServiceControl& service, bool silent) {
    if (Settings.StartAsService == 0) {
        if (!service.HoldService()) {
            ShowMessage(u"Unable to hold service. Service is still running.", MessageIcon::Error);
            return false;
        }
    } else if (Settings.StartAsService == 1) {
        service.InstallAndStartService(silent);
        Settings.StartAsService = 0;
        return false;
    }

    // Without windows (no display) the desktop role has nothing to run.
    if (!Desktop || !Desktop->CreateMainWindow())
        return false;
    Desktop->SetMainWindowTitle(WINDOW_TITLE);
    if (Settings.AutoDelete != 0)
        Jobs.AutoDeleteSavedJobs();
    if (Settings.AutoStart != 0)
        Spooler.StartSpooler();
    Desktop->ShowMainWindow(Settings.AutoHide == 1);
    return true;
}

void CVelmoraVirtualPrinterApp::RemoveService(CServiceControl& service, bool silent) {
    if (service.UninstallService()) {
        service.ReportServiceOutcome(u"Service uninstalled successfully.", MessageIcon::Information, silent);
    } else {
        service.ReportServiceOutcome(u"Uninstall service failed.", MessageIcon::Error, silent);
    }
    SkipServiceResume = true;
    Settings.StartAsService = 0;
}

int CVelmoraVirtualPrinterApp::ExitInstance() {
    if (!SkipServiceResume && !ServiceMode) {
        if (Markers.IsPaused() && !CServiceControl(Reporter).ResumeService())
            ShowMessage(u"Unable to restart service.", MessageIcon::Warning);
    }
    FreeCodePageTables();
    return 0;
}

void CVelmoraVirtualPrinterApp::EndRun() {
    if (!ServiceMode && !BaseFolder.empty())
        SaveSettings();
}

bool CVelmoraVirtualPrinterApp::IsOwnProcess(uint32_t processId) {
    return platform::ProcessBaseName(static_cast<platform::ProcessId>(processId)) == PROGRAM_BASE_NAME;
}

bool CVelmoraVirtualPrinterApp::IsAlreadyRunning() {
    const std::vector<platform::ProcessId> processes = platform::ListProcesses();
    if (processes.empty())
        return false;
    int count = 0;
    for (const platform::ProcessId process : processes) {
        if (IsOwnProcess(static_cast<uint32_t>(process)))
            ++count;
    }
    int allowed = 1;
    if (!ServiceMode || Settings.StartAsService == 1) {
        const int state = CServiceControl(Reporter).QueryServiceState();
        if (state != SERVICE_STATE_UNKNOWN && state != static_cast<int>(platform::SERVICE_STOPPED))
            allowed = 2;
    }
    // A sole instance clears the stale signals of an earlier run.
    if (count == 1)
        Markers.RemoveAllMarkers();
    return count > allowed;
}

}  // namespace velmora
