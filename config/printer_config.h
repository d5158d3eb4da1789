// Printer.cfg: the virtual printers as they survive restarts.
#pragma once

#include <string>

#include "config/printer_list.h"
#include "core/reporter.h"
#include "core/settings.h"

namespace velmora {

class CPrinterConfigFile {
  public:
    CPrinterConfigFile(CReporter& reporter, const CSettings& settings)
        : Reporter(reporter), Settings(settings) {}

    void SetPath(const std::u16string& path) { PrinterCfgPath = path; }
    const std::u16string& Path() const { return PrinterCfgPath; }

    // Adds the file's virtual printers to the list; a failure is logged and shown, the list left as it was.
    void LoadPrinterConfig(CPrinterList& list) const;
    // Replaces the file with the list; a failure leaves the old file as it was (false).
    bool SavePrinterConfig(const CPrinterList& list) const;

  private:
    void ReportFailure(const std::u16string& description) const;

    CReporter& Reporter;
    const CSettings& Settings;
    std::u16string PrinterCfgPath;
};

}  // namespace velmora
