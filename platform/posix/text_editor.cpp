#include "platform/text_editor.h"

#include "platform/process.h"

namespace velmora::platform {

std::u16string TextEditorCommandLine(const std::u16string& path) {
    return u"xdg-open " + QuoteArgument(path);
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
