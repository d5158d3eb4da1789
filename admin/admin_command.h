// The commands of velmora-admin: the virtual printers and the settings, listed and changed with the checks
// the dialogs make. The tool runs them on the files when no server holds them.
#pragma once

#include <string>
#include <vector>

#include "config/printer_config.h"
#include "config/printer_list.h"
#include "core/profile_file.h"
#include "core/settings.h"

namespace velmora {

enum AdminExitCode : int {
    ADMIN_DONE = 0,
    // A name or a value was refused.
    ADMIN_REFUSED = 1,
    // A mistake in the command line.
    ADMIN_USAGE = 2,
    ADMIN_NOT_ALLOWED = 3,
    // The files could not be changed.
    ADMIN_FAILED = 4,
};

// What the commands work on.
struct CAdminParts {
    CSettings& Settings;
    CProfileFile& ProfileFile;
    CPrinterList& PrinterList;
    const CPrinterConfigFile& PrinterConfig;
};

struct CAdminResult {
    int ExitCode = ADMIN_DONE;
    // For standard output, and for standard error.
    std::u16string Output;
    std::u16string Error;
};

// The command line after the program's name: the command and its arguments.
CAdminResult RunAdminCommand(const std::vector<std::u16string>& arguments, CAdminParts& parts);
// A refusal or failure: the message (and, after a mistake in the command line, where to find help).
CAdminResult AdminError(int exitCode, const std::u16string& message);
// Whether the command changes the files (the others only read them); false for an unknown one.
bool IsChangingCommand(const std::u16string& command);

}  // namespace velmora
