// The Windows rules of a command line, the same on every system: the arguments SplitCommandLine reads
// (as CommandLineToArgvW and the C runtime do) and the quoting that gives an argument back unchanged.
#include "platform/process.h"

namespace velmora::platform {

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine) {
    std::vector<std::u16string> arguments;
    const std::size_t length = commandLine.size();
    if (length == 0)
        return arguments;

    // The program name: up to the next quotation mark when it starts with one, else up to white space.
    std::size_t i = 0;
    std::u16string program;
    if (commandLine[0] == u'"') {
        for (i = 1; i < length && commandLine[i] != u'"'; ++i)
            program.push_back(commandLine[i]);
        if (i < length)
            ++i;
    } else {
        for (; i < length && !IsBlank(commandLine[i]); ++i)
            program.push_back(commandLine[i]);
    }
    arguments.push_back(std::move(program));

    std::u16string current;
    bool inArgument = false;
    bool quoted = false;
    std::size_t backslashes = 0;
    for (; i < length; ++i) {
        const char16_t c = commandLine[i];
        if (IsBlank(c) && !quoted) {
            current.append(backslashes, u'\\');
            backslashes = 0;
            if (inArgument)
                arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            continue;
        }
        inArgument = true;
        if (c == u'\\') {
            ++backslashes;
        } else if (c == u'"') {
            current.append(backslashes / 2, u'\\');
            if (backslashes % 2 == 1) {
                current.push_back(u'"');
            } else if (quoted && i + 1 < length && commandLine[i + 1] == u'"') {
                current.push_back(u'"');
                ++i;
            } else {
                quoted = !quoted;
            }
            backslashes = 0;
        } else {
            current.append(backslashes, u'\\');
            backslashes = 0;
            current.push_back(c);
        }
    }
    current.append(backslashes, u'\\');
    if (inArgument)
        arguments.push_back(std::move(current));
    return arguments;
}

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

}  // namespace velmora::platform
