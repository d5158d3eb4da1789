#include "platform/shell.h"

#include "platform/process.h"

namespace velmora::platform {

namespace {

// One argument of a command line, quoted so that SplitCommandLine gives it back unchanged.
std::u16string QuoteArgument(const std::u16string& argument) {
    std::u16string quoted = u"\"";
    std::size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quotation mark are doubled and the mark escaped; elsewhere they stay.
        quoted.append(c == u'"' ? 2 * backslashes + 1 : backslashes, u'\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    // The closing quotation mark follows: backslashes before it are doubled.
    quoted.append(2 * backslashes, u'\\');
    quoted.push_back(u'"');
    return quoted;
}

}  // namespace

bool OpenWithDefaultApplication(const std::u16string& path) {
    Process opener;
    int error = 0;
    // The opener may run as long as the application it starts; the process is let go and collected in
    // the background when it ends.
    return StartProcess(u"xdg-open " + QuoteArgument(path), &opener, &error);
}

}  // namespace velmora::platform
