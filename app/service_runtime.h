// The service role: the dispatcher connection, the service main procedure that runs the server, and the
// control handler. The two signal each other through the marker files of the base folder.
#pragma once

#include <cstdint>

namespace velmora {

class CVelmoraVirtualPrinterApp;

// Connects to the service control manager and runs the service of the application until it stops.
void RunServiceDispatcher(CVelmoraVirtualPrinterApp& app);

}  // namespace velmora
