// The start and stop of the server, shared by the desktop program's document and the service.
#include <chrono>
#include <thread>

#include "core/app.h"

namespace velmora {

void CVelmoraVirtualPrinterApp::StartServer() {
    SetServerRunning(false);
    SetSpoolerRunning(false);
    LoadPrinterConfig();
    LoadJobList();
    SpoolerEvent.Reset();
    StartPromptSaves();
    StartLpdServer();
}

void CVelmoraVirtualPrinterApp::StopServer() {
    StopLpdServer();
    // A session that is still receiving adds its job after the listener has gone; the list is saved only
    // once every acknowledged job is in it.
    while (ActiveConnections > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    StopSpooler();
    JoinSpoolerThread();
    StopPromptSaves();
    SaveJobList();
    {
        std::lock_guard<std::recursive_mutex> lock(JobListLock);
        JobList.clear();
    }
    PrinterList.Clear();
}

}  // namespace velmora
