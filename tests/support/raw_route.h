// The raw route from end to end: jobs received over LPD by a server in this process and printed by its
// spooler into a print queue of this machine.
#pragma once

#include <functional>
#include <string>

#include "app/app.h"
#include "support/test_util.h"

namespace velmora::test {

// Sends two jobs with velmora-lpr to the application's server, whose virtual printers PASS and TRAYS
// (trays 7 and 2) are made to print raw to the queue: 70,000 bytes of every value, and a PCL job
// ("trays.pcl" in the folder) whose trays the route replaces. Checks each document the queue's printer
// receives (nextDocument gives the next one) and that both jobs end Saved without a temporary copy.
void ExpectJobsPrintedRawThroughTheSpooler(CVelmoraVirtualPrinterApp& app, const std::u16string& queue,
                                           const TempFolder& folder,
                                           const std::function<std::string()>& nextDocument);

}  // namespace velmora::test
