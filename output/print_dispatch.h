// The print dispatch: the one way a spooled job leaves the server, along the route of its virtual printer.
#pragma once

#include <cstdint>

#include "config/printer_list.h"
#include "spool/spool_file.h"

namespace velmora {

// Sends the job to its virtual printer (raw to a local printer, through a program, or to another LPD
// server). Returns 0 when it was sent or has no virtual printer, 1 when it failed, with the reason in the
// job's ErrorText. Runs on the spooler thread without JobListLock while the job is Printing; with
// DeleteSpool on it starts the job's delayed deletion on every path.
int32_t PrintSpoolFile(CSpoolFile& job, const PrinterRecords& printers);

}  // namespace velmora
