#include "app/admin_channel.h"

#include "admin/admin_message.h"
#include "core/language.h"
#include "platform/file.h"
#include "resources/admin_string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"

namespace velmora {

namespace {

// How soon a stop is seen; how long a caller may take to send its request.
constexpr int ACCEPT_SLICE_MILLISECONDS = 200;
constexpr int REQUEST_TIME_LIMIT_MILLISECONDS = 5000;

}  // namespace

std::u16string AdminChannelName(const std::u16string& baseFolder) {
#ifdef _WIN32
    // A pipe per base folder (named after a hash of its path, without regard to case).
    uint32_t hash = 2166136261u;
    for (const char16_t c : baseFolder) {
        hash ^= static_cast<uint32_t>(c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c);
        hash *= 16777619u;
    }
    return Format(u"\\\\.\\pipe\\Velmora_VirtualPrinter_admin_%08X", hash);
#else
    return baseFolder + u"admin.socket";
#endif
}

void CAdminChannel::Start(const std::u16string& baseFolder) {
    Stop();
    if (!Listener.Listen(AdminChannelName(baseFolder))) {
        Reporter.WriteLog(Format(u"%d\tUnable to open the administration channel %s", Reporter.ModeDigit(),
                                 AdminChannelName(baseFolder)));
        return;
    }
    Stopping = false;
    Thread = std::thread(&CAdminChannel::Serve, this);
}

void CAdminChannel::Stop() {
    Stopping = true;
    if (Thread.joinable())
        Thread.join();
    Listener.Close();
}

void CAdminChannel::Serve() {
    SelectLanguage();
    while (!Stopping) {
        platform::CLocalConnection connection = Listener.Accept(ACCEPT_SLICE_MILLISECONDS);
        if (connection.IsOpen())
            Answer(connection);
    }
}

void CAdminChannel::Answer(platform::CLocalConnection& connection) {
    std::string request;
    std::vector<std::u16string> arguments;
    if (!connection.ReceiveWhole(&request, REQUEST_TIME_LIMIT_MILLISECONDS) ||
        !DecodeAdminRequest(request, &arguments)) {
        return;
    }
    CAdminResult result = connection.PeerIsPrinterAdministrator()
                              ? RunAdminCommand(arguments, Parts)
                              : AdminError(ADMIN_NOT_ALLOWED, LoadString(IDS_ADMIN_NOT_ALLOWED));
    if (!arguments.empty() && IsChangingCommand(arguments[0])) {
        std::u16string line;
        for (const std::u16string& argument : arguments)
            line += (line.empty() ? u"" : u" ") + argument;
        Reporter.WriteLog(
            Format(u"%d\tAdministration: %s (exit status %d)", Reporter.ModeDigit(), line, result.ExitCode));
    }
    connection.SendWhole(EncodeAdminResult(result));
}

}  // namespace velmora
