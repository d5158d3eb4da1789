#include "admin/admin_command.h"

#include "admin/admin_commands.h"
#include "resources/admin_string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"

namespace velmora {

namespace {

struct CCommand {
    const char16_t* Name;
    CAdminResult (*Run)(const CAdminArguments& arguments, CAdminParts& parts);
    bool Changes;
    bool Jobs = false;
};

constexpr CCommand COMMANDS[] = {
    {u"printers", ListPrinters, false},       {u"add-printer", AddPrinter, true},
    {u"change-printer", ChangePrinter, true}, {u"remove-printer", RemovePrinter, true},
    {u"settings", ShowSettings, false},       {u"set", SetSettings, true},
    {u"jobs", ListJobs, false, true},         {u"hold", HoldJobs, true, true},
    {u"release", ReleaseJobs, true, true},    {u"delete", DeleteJobs, true, true},
    {u"transfer", TransferJob, true, true},
};

const CCommand* FindCommand(const std::u16string& name) {
    for (const CCommand& command : COMMANDS) {
        if (name == command.Name)
            return &command;
    }
    return nullptr;
}

}  // namespace

CAdminResult AdminError(int exitCode, const std::u16string& message) {
    CAdminResult result;
    result.ExitCode = exitCode;
    result.Error = message + u"\n";
    if (exitCode == ADMIN_USAGE)
        result.Error += LoadString(IDS_ADMIN_TRY_HELP) + u"\n";
    return result;
}

bool SplitOption(std::u16string_view argument, std::u16string* name, std::u16string* value) {
    const std::size_t equals = argument.find(u'=');
    if (!argument.starts_with(u"--") || equals == std::u16string_view::npos || equals == 2)
        return false;
    *name = argument.substr(2, equals - 2);
    *value = argument.substr(equals + 1);
    return true;
}

bool IsChangingCommand(const std::u16string& command) {
    const CCommand* found = FindCommand(command);
    return found && found->Changes;
}

bool IsJobCommand(const std::u16string& command) {
    const CCommand* found = FindCommand(command);
    return found && found->Jobs;
}

CAdminResult RunAdminCommand(const std::vector<std::u16string>& arguments, CAdminParts& parts) {
    if (arguments.empty() || arguments[0] == u"--help" || arguments[0] == u"-h") {
        CAdminResult usage;
        usage.ExitCode = arguments.empty() ? ADMIN_USAGE : ADMIN_DONE;
        (arguments.empty() ? usage.Error : usage.Output) = LoadString(IDS_ADMIN_USAGE);
        return usage;
    }
    const CCommand* command = FindCommand(arguments[0]);
    if (!command)
        return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_COMMAND), arguments[0]));
    return command->Run(CAdminArguments(arguments.begin() + 1, arguments.end()), parts);
}

}  // namespace velmora
