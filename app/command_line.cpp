#include "app/command_line.h"

#include "platform/ansi.h"

namespace velmora {

void CMyCommandLineInfo::ParseParam(const std::u16string& parameter, bool isSwitch) {
    if (!isSwitch)
        return;
    if (parameter == u"WINSERV") {
        RunAsService = 1;
    } else if (parameter == u"DELSERV") {
        RemoveService = 1;
    } else if (parameter == u"SILENT_DELSERV") {
        RemoveService = 1;
        Silent = 1;
    } else if (parameter == u"INSTALLSERV") {
        InstallService = 1;
    } else if (parameter == u"SILENT_INSTALLSERV") {
        InstallService = 1;
        Silent = 1;
    }
}

void ParseCommandLine(CMyCommandLineInfo& info, const std::vector<std::u16string>& arguments) {
    for (const std::u16string& word : arguments) {
        const bool isSwitch = !word.empty() && (word[0] == u'-' || word[0] == u'/');
        info.ParseParam(isSwitch ? word.substr(1) : word, isSwitch);
    }
}

void ParseCommandLine(CMyCommandLineInfo& info, int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(platform::AnsiToUnicode(argv[i]));
    ParseCommandLine(info, arguments);
}

}  // namespace velmora
