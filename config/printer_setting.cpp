#include "config/printer_setting.h"

namespace velmora {

// The print command of the platform's own tools: the program differs, so does its command line.
#ifdef _WIN32
const char16_t kDefaultProgramCommand[] =
    uR"("C:\Program Files\Adobe\Reader 8.0\Reader\AcroRd32.exe" /p /h "%1")";
#else
const char16_t kDefaultProgramCommand[] = uR"("/usr/bin/lp" -d %2 %1)";
#endif

const char16_t kDefaultIPAddress[] = u"192.168.1.250";

CPrinterSetting::CPrinterSetting()
    : ProgramCommand(kDefaultProgramCommand), IPAddress(kDefaultIPAddress), QueueName(u"PASS") {}

}  // namespace velmora
