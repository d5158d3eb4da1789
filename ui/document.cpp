#include "ui/document.h"

#include "core/app.h"

namespace velmora::ui {

CVelmoraVirtualPrinterDoc::CVelmoraVirtualPrinterDoc() {
    App().StartServer();
}

CVelmoraVirtualPrinterDoc::~CVelmoraVirtualPrinterDoc() {
    App().StopServer();
}

}  // namespace velmora::ui
