// The start and stop of the server, shared by the desktop program's document and the service.
#include "app/app.h"

#include <algorithm>
#include <chrono>

#include "core/stop_grace.h"

namespace velmora {

void CVelmoraVirtualPrinterApp::StartServer() {
    LpdServer.SetServerRunning(false);
    Spooler.SetSpoolerRunning(false);
    LoadPrinterConfig();
    Jobs.LoadJobList();
    SpoolerEvent.Reset();
    Jobs.StartPromptSaves();
    LpdServer.StartLpdServer();
    AdminChannel.Start(BaseFolder);
}

void CVelmoraVirtualPrinterApp::StopServer() {
    AdminChannel.Stop();
    LpdServer.StopLpdServer();
    // The sessions still receiving and the dispatch under way share one grace, after which they are cut:
    // no client and no print program holds the stop. A session that is still receiving adds its job after
    // the listener has gone; the list is saved only once every acknowledged job is in it.
    Spooler.StopSpooler();
    const auto cutAt = std::chrono::steady_clock::now() + STOP_GRACE;
    LpdServer.WaitForSessions(STOP_GRACE);
    Spooler.JoinSpoolerThread(std::max(
        std::chrono::duration_cast<std::chrono::milliseconds>(cutAt - std::chrono::steady_clock::now()),
        std::chrono::milliseconds(0)));
    Jobs.StopPromptSaves();
    Jobs.SaveJobList();
    Jobs.Clear();
    PrinterList.Clear();
}

}  // namespace velmora
