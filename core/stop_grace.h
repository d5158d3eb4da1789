// How long a stop of the server lets receptions and a dispatch under way go on before it cuts them, so
// that no client and no print program can hold a stop, a pause or the end of the program.
#pragma once

#include <chrono>

namespace velmora {

inline constexpr std::chrono::milliseconds STOP_GRACE{3000};

}  // namespace velmora
