// The desktop's text editor, as the "Display" command of the preferences opens the log with it.
#pragma once

#include <string>

namespace velmora::platform {

// The command line that opens the text file in the desktop's text editor: "notepad " and the path on
// Windows; on Linux xdg-open and the quoted path, so that the file opens in the application the desktop
// has chosen for text files (a terminal editor such as $VISUAL names could not show a window here).
std::u16string TextEditorCommandLine(const std::u16string& path);

// Starts that command line and waits, without a time limit, until the editor is ready for input. False
// when it cannot be started; *commandLine receives the command line in either case.
bool OpenInTextEditor(const std::u16string& path, std::u16string* commandLine);

}  // namespace velmora::platform
