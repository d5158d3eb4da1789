// The raw route from end to end: jobs received over LPD and printed by the spooler into a local queue.
#pragma once

#include <functional>
#include <string>

#include "app/app.h"
#include "support/test_util.h"

namespace velmora::test {

// Sends 70,000 bytes of every value to PASS and a PCL job to TRAYS (trays 7 and 2) with velmora-lpr; checks
// what the queue's printer receives (nextDocument) and that both jobs end Saved without a temporary copy.
void ExpectJobsPrintedRawThroughTheSpooler(CVelmoraVirtualPrinterApp& app, const std::u16string& queue,
                                           const TempFolder& folder,
                                           const std::function<std::string()>& nextDocument);

}  // namespace velmora::test
