// The LPD listener and the receive-job session of each connection.
#pragma once

#include <memory>

#include "net/lpd_connection.h"

namespace velmora {

// Accepts connections while the server runs, each served by a thread of its own.
void LpdServerThread();
// Serves one connection: receives one print job into a queue. Frees the connection.
void LpdClientThread(std::unique_ptr<LpdConnection> connection);

}  // namespace velmora
