// The systemd unit of an installed service (described in platform/service_manager.h): written where
// systemd runs, or into the folder VELMORA_SYSTEMD_UNIT_FOLDER names, and enabled for multi-user.target
// when the service starts automatically.
#pragma once

#include <string>

#include "platform/service_manager.h"

namespace velmora::platform::posix {

// Writes (and enables) the unit; true where there is no unit to write. False with errno set.
bool WriteUnit(const std::string& name, const CServiceConfig& config);
void RemoveUnit(const std::string& name);

}  // namespace velmora::platform::posix
