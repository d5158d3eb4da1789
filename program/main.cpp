// VelmoraVirtualPrinter: the LPD print server program. Started plainly it is the desktop program; with
// -WINSERV it is the service; -INSTALLSERV, -DELSERV and their SILENT_ forms install or remove the service.
#include <cstdio>
#include <memory>

#include "app/app.h"
#include "app/command_line.h"
#ifdef VELMORA_DESKTOP
#include "ui/desktop_program.h"
#endif

int main(int argc, char** argv) {
    velmora::CVelmoraVirtualPrinterApp app;

    // The service and the silent runs never show a window; every other run is the desktop program's, and
    // the service installation and removal runs show their outcome when a display is there.
    velmora::CMyCommandLineInfo role;
    velmora::ParseCommandLine(role, argc, argv);
    const bool windowless = role.RunAsService || role.Silent;
    const bool serviceRun = role.InstallService || role.RemoveService;
    std::unique_ptr<velmora::CDesktopRole> desktop;
    if (!windowless) {
#ifdef VELMORA_DESKTOP
        desktop = velmora::ui::CreateDesktopProgram(app, argc, argv);
#else
        std::fprintf(stderr,
                     "VelmoraVirtualPrinter: this build has no desktop program. Run the server "
                     "without windows with: VelmoraVirtualPrinter -WINSERV\n");
#endif
        if (!desktop && !serviceRun)
            return 1;
    }
    app.Desktop = desktop.get();

    int exitCode = 0;
#ifdef VELMORA_DESKTOP
    if (app.InitInstance(argc, argv) && desktop)
        exitCode = velmora::ui::RunDesktopProgram(*desktop);
#else
    app.InitInstance(argc, argv);
#endif
    exitCode = app.ExitInstance() != 0 ? 1 : exitCode;
    desktop.reset();
    app.Desktop = nullptr;
    app.EndRun();
    return exitCode;
}
