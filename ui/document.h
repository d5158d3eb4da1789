// The document of the desktop program: it owns nothing of its own, but its life is the server's life.
#pragma once

#include "app/app.h"

namespace velmora::ui {

using velmora::CVelmoraVirtualPrinterApp;

class CVelmoraVirtualPrinterDoc {
  public:
    // Loads the virtual printers and the job list and starts the LPD listener.
    explicit CVelmoraVirtualPrinterDoc(CVelmoraVirtualPrinterApp& app);
    // Stops the listener and the spooler, saves the job list and empties the lists.
    ~CVelmoraVirtualPrinterDoc();
    CVelmoraVirtualPrinterDoc(const CVelmoraVirtualPrinterDoc&) = delete;
    CVelmoraVirtualPrinterDoc& operator=(const CVelmoraVirtualPrinterDoc&) = delete;

  private:
    CVelmoraVirtualPrinterApp& App;
};

}  // namespace velmora::ui
