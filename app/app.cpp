#include "app/app.h"

#include "platform/file.h"

namespace velmora {

CVelmoraVirtualPrinterApp::CVelmoraVirtualPrinterApp()
    : Spooler(Jobs, Reporter, Settings, SpoolerEvent,
              [this](const CSpoolFile& job, const std::atomic<bool>& cut) {
                  return Dispatch.PrintSpoolFile(job, *PrinterList.Snapshot(), &cut);
              }) {
    // Tests of the real program keep its listener on the loopback address.
    LpdServer.LoopbackOnly = platform::EnvironmentValue("VELMORA_LISTEN_LOOPBACK") == u"1";
}

CVelmoraVirtualPrinterApp::~CVelmoraVirtualPrinterApp() {
    // A deletion waiting for its file gives up at once; the parts then end in the reverse of their order:
    // the sessions, the dispatcher after its dispatch, the deletions, the saving thread.
    Jobs.EndWaits();
}

void CVelmoraVirtualPrinterApp::SetServiceMode(bool serviceMode) {
    ServiceMode = serviceMode;
    Log.SetServiceMode(serviceMode);
    Ui.SetServiceMode(serviceMode);
}

}  // namespace velmora
