#include "ui/document.h"

namespace velmora::ui {

CVelmoraVirtualPrinterDoc::CVelmoraVirtualPrinterDoc(CVelmoraVirtualPrinterApp& app) : App(app) {
    App.StartServer();
}

CVelmoraVirtualPrinterDoc::~CVelmoraVirtualPrinterDoc() {
    App.StopServer();
}

}  // namespace velmora::ui
