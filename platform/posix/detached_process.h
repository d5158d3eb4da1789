// Starting a service's program detached: as a grandchild in its own session, so that it belongs to no
// caller, with its standard input and output on the null device and none of the caller's descriptors.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace velmora::platform::posix {

// Runs the command line (split by the Windows rules, never through a shell) with the "NAME=value" entries
// added to this process's environment, replacing variables of the same names. The process waits before
// executing the program until record() has written down its id, so that the database knows the process
// before it can report anything; a record() that fails keeps the program from running. True with the id
// in *pid once the program runs; false with the reason in errno.
bool SpawnDetached(const std::u16string& commandLine, const std::vector<std::string>& addedEnvironment,
                   const std::function<bool(pid_t)>& record, pid_t* pid);

}  // namespace velmora::platform::posix
