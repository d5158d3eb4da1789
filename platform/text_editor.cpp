// Opening a text file in the desktop's editor, the same on every system but for the editor's command line.
#include "platform/text_editor.h"

#include "platform/process.h"

namespace velmora::platform {

bool OpenInTextEditor(const std::u16string& path, std::u16string* commandLine) {
    *commandLine = TextEditorCommandLine(path);
    CProcess editor;
    int error = 0;
    if (!StartProcess(*commandLine, &editor, &error))
        return false;
    WaitForInputIdle(editor, PROCESS_WAIT_INFINITE);
    editor.Close();
    return true;
}

}  // namespace velmora::platform
