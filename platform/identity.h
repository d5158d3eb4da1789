// Who this system runs as: the computer's name and the account's name.
#pragma once

#include <string>

namespace velmora::platform {

// The computer's name (GetComputerNameW; the host name here); empty when it cannot be read.
std::u16string ComputerName();
// The name of the account the process runs under (GetUserNameW; the effective user here); empty when it
// cannot be read.
std::u16string UserName();
// Whether the process may administer the printers: root or a member of the group lpadmin here, a member
// of Administrators on Windows.
bool IsPrinterAdministrator();

}  // namespace velmora::platform
