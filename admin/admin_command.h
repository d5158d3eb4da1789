// The commands of velmora-admin: the virtual printers, the settings and the jobs, listed and changed with
// the checks of the dialogs and the main window. A running server runs them on what it holds; without one
// the tool runs them on the files.
#pragma once

#include <string>
#include <vector>

#include "config/printer_config.h"
#include "config/printer_list.h"
#include "core/profile_file.h"
#include "core/settings.h"
#include "spool/job_store.h"

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
    // Loaded: the tool loads the list for the job commands when no server holds it.
    CJobStore& Jobs;
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
// Whether the command works on the job list.
bool IsJobCommand(const std::u16string& command);

}  // namespace velmora
