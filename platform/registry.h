// The registry values of the system, under HKEY_LOCAL_MACHINE\Software\Velmora.
// On Linux a small key/value file stands in for the key: /etc/opt/velmora/registry, or the file named by
// the environment variable VELMORA_REGISTRY. Its lines read "Name=Value".
#pragma once

#include <string>

namespace velmora::platform {

// False when the key or the value does not exist or cannot be read.
bool ReadRegistryString(const std::u16string& name, std::u16string* value);
bool WriteRegistryString(const std::u16string& name, const std::u16string& value);

}  // namespace velmora::platform
