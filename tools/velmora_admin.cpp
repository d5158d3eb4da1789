// velmora-admin: the virtual printers and the settings from the command line, for root and the members of
// lpadmin (Administrators on Windows). A running server gets the command through its channel and runs it
// on what it holds; without one the tool works on the files of the base folder beside the program
// (VELMORA_BASE_FOLDER elsewhere). A server that runs without a channel holds its files: changes are then
// refused.
//
//   velmora-admin --help
#include <cstdio>
#include <string>
#include <vector>

#include "admin/admin_command.h"
#include "admin/admin_message.h"
#include "app/admin_channel.h"
#include "app/app.h"
#include "app/service_control.h"
#include "core/language.h"
#include "platform/ansi.h"
#include "platform/identity.h"
#include "platform/local_channel.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "resources/admin_string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"

namespace velmora {

namespace {

// How long a server may take to run a command.
constexpr int REPLY_TIME_LIMIT_MILLISECONDS = 60000;

void Write(std::FILE* stream, const std::u16string& text) {
    const std::string bytes = platform::UnicodeToAnsi(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

int Finish(const CAdminResult& result) {
    Write(stdout, result.Output);
    Write(stderr, result.Error);
    return result.ExitCode;
}

// A server holds the files: a desktop program, or the service unless it is paused (it reads them anew
// when it continues).
bool ServerRuns(CVelmoraVirtualPrinterApp& app) {
    int programs = 0;
    for (const platform::ProcessId process : platform::ListProcesses()) {
        if (CVelmoraVirtualPrinterApp::IsOwnProcess(static_cast<uint32_t>(process)))
            ++programs;
    }
    const bool paused =
        CServiceControl(app.Reporter).QueryServiceState() == static_cast<int>(platform::SERVICE_PAUSED);
    return programs > (paused ? 1 : 0);
}

int Run(const std::vector<std::u16string>& arguments) {
    SelectLanguage();
    if (arguments.empty() || arguments[0] == u"--help" || arguments[0] == u"-h") {
        Write(arguments.empty() ? stderr : stdout, LoadString(IDS_ADMIN_USAGE));
        return arguments.empty() ? ADMIN_USAGE : ADMIN_DONE;
    }
    if (!platform::IsPrinterAdministrator())
        return Finish(AdminError(ADMIN_NOT_ALLOWED, LoadString(IDS_ADMIN_NOT_ALLOWED)));
    CVelmoraVirtualPrinterApp app;
    if (!app.SetUpWorkingFolders())
        return Finish(AdminError(ADMIN_FAILED, Format(LoadString(IDS_ADMIN_UNWRITABLE), app.BaseFolder)));
    app.ProfileFile.SetPath(app.BaseFolder + u"QLSconf.ini");
    app.LoadSettings();
    app.LoadPrinterConfig();
    // A running server takes the command itself.
    platform::CLocalConnection channel;
    if (platform::ConnectLocalChannel(AdminChannelName(app.BaseFolder), &channel)) {
        std::string reply;
        CAdminResult result;
        if (!channel.SendWhole(EncodeAdminRequest(arguments)) ||
            !channel.ReceiveWhole(&reply, REPLY_TIME_LIMIT_MILLISECONDS) ||
            !DecodeAdminResult(reply, &result)) {
            return Finish(AdminError(ADMIN_FAILED, LoadString(IDS_ADMIN_NO_ANSWER)));
        }
        return Finish(result);
    }
    if (IsChangingCommand(arguments[0]) && ServerRuns(app))
        return Finish(AdminError(ADMIN_FAILED, LoadString(IDS_ADMIN_SERVER_RUNNING)));
    CAdminParts parts{app.Settings, app.ProfileFile, app.PrinterList, app.PrinterConfig, app.Jobs};
    if (!IsJobCommand(arguments[0]))
        return Finish(RunAdminCommand(arguments, parts));
    // The job list as a server would find it at its start (the journal's jobs included), then saved.
    app.Jobs.LoadJobList();
    const CAdminResult result = RunAdminCommand(arguments, parts);
    platform::CFileError error;
    if (IsChangingCommand(arguments[0]) && result.ExitCode == ADMIN_DONE &&
        !app.Jobs.WriteJobListFile(&error))
        return Finish(
            AdminError(ADMIN_FAILED, Format(LoadString(IDS_ADMIN_UNWRITABLE), app.Jobs.ListPath())));
    app.Jobs.Clear();
    return Finish(result);
}

}  // namespace

}  // namespace velmora

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(velmora::platform::AnsiToUnicode(argv[i]));
    return velmora::Run(arguments);
}
