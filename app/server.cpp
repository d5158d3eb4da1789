// The start and stop of the server, shared by the desktop program's document and the service.
#include "app/app.h"

namespace velmora {

void CVelmoraVirtualPrinterApp::StartServer() {
    LpdServer.SetServerRunning(false);
    Spooler.SetSpoolerRunning(false);
    LoadPrinterConfig();
    Jobs.LoadJobList();
    SpoolerEvent.Reset();
    Jobs.StartPromptSaves();
    LpdServer.StartLpdServer();
}

void CVelmoraVirtualPrinterApp::StopServer() {
    LpdServer.StopLpdServer();
    // A session that is still receiving adds its job after the listener has gone; the list is saved only
    // once every acknowledged job is in it.
    LpdServer.WaitForSessions();
    Spooler.StopSpooler();
    Spooler.JoinSpoolerThread();
    Jobs.StopPromptSaves();
    Jobs.SaveJobList();
    Jobs.Clear();
    PrinterList.Clear();
}

}  // namespace velmora
