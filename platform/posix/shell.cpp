#include "platform/shell.h"

#include "platform/process.h"

namespace velmora::platform {

bool OpenWithDefaultApplication(const std::u16string& path) {
    CProcess opener;
    int error = 0;
    // The opener may run as long as the application it starts; the process is let go and collected in
    // the background when it ends.
    return StartProcess(u"xdg-open " + QuoteArgument(path), &opener, &error);
}

}  // namespace velmora::platform
