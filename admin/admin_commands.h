// The command families of velmora-admin, each in a file of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_command.h"

namespace velmora {

using CAdminArguments = std::vector<std::u16string>;

// A value for the machine-readable lists: tabs and backslashes escaped (\\t, \\\\), so that it never
// splits its line.
std::u16string MachineText(const std::u16string& value);
// Rows as a table to read: columns padded to their widest cell.
std::u16string Table(const std::vector<std::vector<std::u16string>>& rows);
// "--name=value": true with its parts.
bool SplitOption(std::u16string_view argument, std::u16string* name, std::u16string* value);

// Printers: "printers", "add-printer", "change-printer", "remove-printer" (printer_commands.cpp).
CAdminResult ListPrinters(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult AddPrinter(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult ChangePrinter(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult RemovePrinter(const CAdminArguments& arguments, CAdminParts& parts);

// Jobs: "jobs", "hold", "release", "delete", "transfer" (job_commands.cpp).
CAdminResult ListJobs(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult HoldJobs(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult ReleaseJobs(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult DeleteJobs(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult TransferJob(const CAdminArguments& arguments, CAdminParts& parts);

// Settings: "settings", "set" (setting_commands.cpp).
CAdminResult ShowSettings(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult SetSettings(const CAdminArguments& arguments, CAdminParts& parts);

}  // namespace velmora
