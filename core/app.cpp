#include "core/app.h"

#include <atomic>
#include <cassert>

namespace velmora {

namespace {
std::atomic<CVelmoraVirtualPrinterApp*> CurrentApp{nullptr};
}

CVelmoraVirtualPrinterApp::CVelmoraVirtualPrinterApp() {
    DeleteSpool = false;
    DeleteSpoolTimeOut = 30;
    CurrentApp = this;
}

CVelmoraVirtualPrinterApp::~CVelmoraVirtualPrinterApp() {
    CVelmoraVirtualPrinterApp* self = this;
    CurrentApp.compare_exchange_strong(self, nullptr);
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

}  // namespace velmora
