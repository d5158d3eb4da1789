#include "platform/text_editor.h"

namespace velmora::platform {

std::u16string TextEditorCommandLine(const std::u16string& path) {
    // Notepad takes the rest of its command line as the file's name: no quoting.
    return u"notepad " + path;
}

}  // namespace velmora::platform
