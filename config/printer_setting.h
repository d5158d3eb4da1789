// One virtual printer: an LPD queue and the route by which its jobs leave the machine.
#pragma once

#include <cstdint>
#include <string>

namespace velmora {

enum OutputMode : int32_t {
    OUTPUT_LOCAL_PRINTER = 0,
    OUTPUT_PROGRAM = 1,
    OUTPUT_LPD = 2,
};

class CPrinterSetting {
  public:
    // A record with every default.
    CPrinterSetting();
    virtual ~CPrinterSetting() = default;
    CPrinterSetting(const CPrinterSetting&) = default;
    CPrinterSetting& operator=(const CPrinterSetting&) = default;

    // Fields in declaration order, which is also their order in a line of Printer.cfg.
    std::u16string Name;
    int32_t OutputMode = OUTPUT_LOCAL_PRINTER;
    std::u16string ProgramCommand;
    std::u16string ProgramPrinter;
    int32_t HoldJobs = 0;
    std::u16string StatusPort;
    std::u16string LocalPrinter;
    std::u16string IPAddress;
    std::u16string QueueName;
    std::u16string InputBin;
    std::u16string OutputBin;
};

// True when Printer.cfg can hold the value: it has no ";", CR or LF.
bool IsStorableValue(const std::u16string& value);

// The command a new virtual printer runs in program mode ("%1" is the file, "%2" the printer).
extern const char16_t DEFAULT_PROGRAM_COMMAND[];
// The forwarding destination of a new virtual printer.
extern const char16_t DEFAULT_IP_ADDRESS[];

}  // namespace velmora
