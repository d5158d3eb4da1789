#include "core/app.h"
#include "platform/file.h"

#include <atomic>
#include <cassert>

namespace velmora {

namespace {
std::atomic<CVelmoraVirtualPrinterApp*> CurrentApp{nullptr};
}

CVelmoraVirtualPrinterApp::CVelmoraVirtualPrinterApp() {
    DeleteSpool = false;
    DeleteSpoolTimeOut = 30;
    // Tests of the real program keep its listener on the loopback address.
    LoopbackOnly = platform::EnvironmentValue("VELMORA_LISTEN_LOOPBACK") == u"1";
    Previous_ = CurrentApp.exchange(this);
}

CVelmoraVirtualPrinterApp::~CVelmoraVirtualPrinterApp() {
    // Worker threads that use the members end first: the dispatcher after its dispatch, the delayed
    // deletions at once.
    SetSpoolerRunning(false);
    JoinSpoolerThread();
    EndDelayedDeletes();
    // The saving thread reads the job list: it ends before any member does.
    StopPromptSaves();
    // Objects live nested (a test may make a second one): the one made before becomes current again.
    CVelmoraVirtualPrinterApp* self = this;
    CurrentApp.compare_exchange_strong(self, Previous_);
}

CVelmoraVirtualPrinterApp& App() {
    CVelmoraVirtualPrinterApp* app = CurrentApp.load();
    assert(app && "the application object must exist");
    return *app;
}

void CVelmoraVirtualPrinterApp::ShowMessage(const std::u16string& text, MessageIcon icon) {
    if (!ServiceMode && Ui.ShowMessage) {
        Ui.ShowMessage(text, icon);
    } else {
        WriteLog(text);
    }
}

void CVelmoraVirtualPrinterApp::ShowMessageBox(const std::u16string& text, MessageIcon icon) {
    if (!ServiceMode && Ui.ShowMessage)
        Ui.ShowMessage(text, icon);
}

}  // namespace velmora
