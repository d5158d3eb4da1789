// The print dispatch: the one way a spooled job leaves the server, along the route of its virtual printer.
#pragma once

#include <atomic>
#include <cstdint>

#include "config/printer_list.h"
#include "core/reporter.h"
#include "core/settings.h"
#include "output/program_printer.h"
#include "spool/job_store.h"
#include "spool/spool_file.h"

namespace velmora {

// The port of the LPD route: the LPD port itself, neither the listener's nor the record's status port.
inline constexpr int32_t LPD_FORWARD_PORT = 515;

class CPrintDispatch {
  public:
    CPrintDispatch(CReporter& reporter, const CSettings& settings) : Reporter(reporter), Settings(settings) {}

    // Sends the job to its virtual printer (raw to a local printer, through a program, or to another LPD
    // server): 0 when it was sent or has no virtual printer, 1 when it failed, with the reason. Runs on the
    // spooler thread, on the spooler's copy of the job. Once *cut is set, a program route ends its program
    // and an LPD route stops waiting for its server; the outcome then says so.
    CDispatchOutcome PrintSpoolFile(const CSpoolFile& job, const PrinterRecords& printers,
                                    const std::atomic<bool>* cut = nullptr) const;

    // The program route's system operations; replaced before the spooler starts (tests install stand-ins).
    CProgramPrinterOperations ProgramOperations = PlatformProgramPrinterOperations();
    // Always LPD_FORWARD_PORT for the user; tests aim the LPD route at their own servers.
    std::atomic<int32_t> LpdForwardPort{LPD_FORWARD_PORT};

  private:
    CDispatchOutcome PrintRaw(const CSpoolFile& job, const CPrinterSetting& printer) const;
    CDispatchOutcome ForwardByLpd(const CSpoolFile& job, const CPrinterSetting& printer,
                                  const std::atomic<bool>* cut) const;

    CReporter& Reporter;
    const CSettings& Settings;
};

}  // namespace velmora
