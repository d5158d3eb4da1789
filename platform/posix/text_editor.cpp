#include "platform/text_editor.h"

#include "platform/process.h"

namespace velmora::platform {

namespace {

// One argument quoted for SplitCommandLine: backslashes are literal except before a quotation mark, where
// they and the mark are escaped.
std::u16string Quoted(const std::u16string& argument) {
    std::u16string quoted = u"\"";
    std::size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        if (c == u'"')
            backslashes = backslashes * 2 + 1;
        quoted.append(backslashes, u'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, u'\\');
    quoted += u'"';
    return quoted;
}

}  // namespace

std::u16string TextEditorCommandLine(const std::u16string& path) {
    return u"xdg-open " + Quoted(path);
}

bool OpenInTextEditor(const std::u16string& path, std::u16string* commandLine) {
    *commandLine = TextEditorCommandLine(path);
    Process editor;
    int error = 0;
    if (!StartProcess(*commandLine, &editor, &error))
        return false;
    WaitForInputIdle(editor, kInfinite);
    editor.Close();
    return true;
}

}  // namespace velmora::platform
