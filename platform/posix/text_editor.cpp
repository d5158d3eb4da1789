#include "platform/text_editor.h"

#include "platform/process.h"

namespace velmora::platform {

std::u16string TextEditorCommandLine(const std::u16string& path) {
    return u"xdg-open " + QuoteArgument(path);
}

}  // namespace velmora::platform
