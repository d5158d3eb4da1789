// The desktop shell: a file opened with the application the user's desktop associates with its type.
#pragma once

#include <string>

namespace velmora::platform {

// Opens the file with its default application, shown normally (ShellExecuteW without a verb; on Linux
// xdg-open). Returns once the opener has been started, without waiting for it: false when it could not be
// started. Whether the desktop then finds an application for the type is not reported.
bool OpenWithDefaultApplication(const std::u16string& path);

}  // namespace velmora::platform
