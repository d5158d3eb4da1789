#include "config/printer_setting.h"

namespace velmora {

// The print command of the platform's own tools: the program differs, so does its command line.
#ifdef _WIN32
const char16_t DEFAULT_PROGRAM_COMMAND[] =
    uR"("C:\Program Files\Adobe\Reader 8.0\Reader\AcroRd32.exe" /p /h "%1")";
#else
const char16_t DEFAULT_PROGRAM_COMMAND[] = uR"("/usr/bin/lp" -d %2 %1)";
#endif

const char16_t DEFAULT_IP_ADDRESS[] = u"192.168.1.250";

bool IsStorableValue(const std::u16string& value) {
    return value.find_first_of(u";\r\n") == std::u16string::npos;
}

CPrinterSetting::CPrinterSetting()
    : ProgramCommand(DEFAULT_PROGRAM_COMMAND), IPAddress(DEFAULT_IP_ADDRESS), QueueName(u"PASS") {}

}  // namespace velmora
