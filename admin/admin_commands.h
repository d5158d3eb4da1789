// The command families of velmora-admin, each in a file of its own.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_command.h"

namespace velmora {

using CAdminArguments = std::vector<std::u16string>;

// "--name=value": true with its parts.
bool SplitOption(std::u16string_view argument, std::u16string* name, std::u16string* value);

// Printers: "printers", "add-printer", "change-printer", "remove-printer" (printer_commands.cpp).
CAdminResult ListPrinters(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult AddPrinter(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult ChangePrinter(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult RemovePrinter(const CAdminArguments& arguments, CAdminParts& parts);

// Settings: "settings", "set" (setting_commands.cpp).
CAdminResult ShowSettings(const CAdminArguments& arguments, CAdminParts& parts);
CAdminResult SetSettings(const CAdminArguments& arguments, CAdminParts& parts);

}  // namespace velmora
