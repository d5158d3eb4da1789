// The desktop program: the Qt application with its document, main frame and information window, as
// start-up asks for them.
#pragma once

#include <memory>

#include "app/app.h"
#include "app/desktop_role.h"

namespace velmora::ui {

// The Qt application and the desktop role for this process; null (with the reason written to standard
// error) when no window can be shown here, such as on a machine without a display.
std::unique_ptr<CDesktopRole> CreateDesktopProgram(CVelmoraVirtualPrinterApp& app, int& argc, char** argv);
// Runs the message loop until the main window closes, then destroys the document (which stops the
// server) and the windows. Returns the loop's exit code.
int RunDesktopProgram(CDesktopRole& desktop);

}  // namespace velmora::ui
