// The command line: the switches of the service role, each a case-sensitive whole word after "-" or "/".
// Every other word is left to whoever reads it (the desktop toolkit reads its own options).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

class CMyCommandLineInfo {
  public:
    // Called once for each word of the command line, in order; a switch without its "-" or "/".
    void ParseParam(const std::u16string& parameter, bool isSwitch);

    int32_t RunAsService = 0;    // WINSERV
    int32_t RemoveService = 0;   // DELSERV, SILENT_DELSERV
    int32_t InstallService = 0;  // INSTALLSERV, SILENT_INSTALLSERV
    int32_t Silent = 0;          // SILENT_DELSERV, SILENT_INSTALLSERV
};

// Hands every word of the arguments (the program name excluded) to the parser.
void ParseCommandLine(CMyCommandLineInfo& info, const std::vector<std::u16string>& arguments);
// The same for main's arguments, argv[0] being the program.
void ParseCommandLine(CMyCommandLineInfo& info, int argc, char** argv);

}  // namespace velmora
