// The desktop program's images (ui/icons/): the job states, the toolbar buttons and the tray icons.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace velmora::ui {

// Icon resources of the tray: the spooler running and stopped.
constexpr int IDI_SPOOLER_RUNNING = 131;
constexpr int IDI_SPOOLER_STOPPED = 132;

// The 16 by 15 image of a job state (0 Ready to 4 Error), cut from the strip of the five; a null image
// for any other value.
QPixmap StateImage(int state);

// The toolbar's buttons, in toolbar order.
enum class ToolbarImage { Start, Stop, Configure };
// The 40 by 20 image of a toolbar button, cut from its strip; hot is the image under the mouse.
QPixmap ToolbarPixmap(ToolbarImage image, bool hot);
// Both images of a button in one icon (the hot one as the active mode).
QIcon ToolbarIcon(ToolbarImage image);

// Icon 131 or 132 in the sizes of notification areas; a null icon for any other id.
QIcon TrayIcon(int iconId);
// The program's window icon.
QIcon ProgramIcon();

}  // namespace velmora::ui
