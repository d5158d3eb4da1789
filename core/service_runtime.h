// The service role: the dispatcher connection, the service main procedure that runs the server, and the
// control handler. The two signal each other through three marker files in the base folder, which a
// desktop program reads too:
//   QLSsynch0  pause requested (by the handler)
//   QLSsynch1  paused (by the service main, once the server has stopped)
//   QLSsynch2  stop requested (by the handler)
#pragma once

#include <cstdint>

namespace velmora {

// Connects to the service control manager and runs the service until it stops.
void RunServiceDispatcher();
void ServiceMain(uint32_t argumentCount, char16_t** arguments);
void ServiceControlHandler(uint32_t control);

// Marker files by index 0, 1, 2; other indexes do nothing and yield false.
bool CreateMarker(int index);
bool RemoveMarker(int index);
void RemoveAllMarkers();
bool IsStopRequested();
bool IsPauseRequested();
bool IsPaused();

}  // namespace velmora
