// The command line: the framework's parser, which knows the switches every program of the framework
// takes, and the program's own parser on top of it, which adds the switches of the service role.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// What a command line asks of the framework. A switch is a word that began with "-" or "/", passed
// without that character.
class CCommandLineInfo {
  public:
    enum ShellCommand { FileNew, FileOpen, AppRegister, AppUnregister };

    virtual ~CCommandLineInfo() = default;

    // Called once for each word of the command line, in order; isLast is true for the last one.
    virtual void ParseParam(const std::u16string& parameter, bool isSwitch, bool isLast);

    ShellCommand Command = FileNew;
    // The first plain word: a document to open.
    std::u16string FileName;
    // Started by the system to serve an embedded object or automation ("Embedding", "Automation").
    bool RunEmbedded = false;
    bool RunAutomated = false;

  protected:
    // The end-of-line bookkeeping every word goes through.
    void ParseLast(bool isLast);

  private:
    // The desktop toolkit's options that take the next word as their value ("-platform offscreen"): the
    // value is theirs, not a document.
    bool valueExpected_ = false;
};

// The program's command line: the service switches, each a case-sensitive whole word.
class CMyCommandLineInfo : public CCommandLineInfo {
  public:
    void ParseParam(const std::u16string& parameter, bool isSwitch, bool isLast) override;

    int32_t RunAsService = 0;    // WINSERV
    int32_t RemoveService = 0;   // DELSERV, SILENT_DELSERV
    int32_t InstallService = 0;  // INSTALLSERV, SILENT_INSTALLSERV
    int32_t Silent = 0;          // SILENT_DELSERV, SILENT_INSTALLSERV
};

// Hands every word of the arguments (the program name excluded) to the parser.
void ParseCommandLine(CCommandLineInfo& info, const std::vector<std::u16string>& arguments);
// The same for main's arguments, argv[0] being the program.
void ParseCommandLine(CCommandLineInfo& info, int argc, char** argv);

}  // namespace velmora
