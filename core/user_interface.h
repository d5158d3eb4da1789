// How the server reaches a person. The desktop program installs its windows' implementation; the service
// and runs without a display keep this one, which shows nothing: their messages go to the log only.
#pragma once

#include <string>

namespace velmora {

enum class MessageIcon { Error, Warning, Information };

// The notification-area icons of a running and a stopped spooler.
inline constexpr int TRAY_ICON_SPOOLER_RUNNING = 131;
inline constexpr int TRAY_ICON_SPOOLER_STOPPED = 132;

class CUserInterface {
  public:
    virtual ~CUserInterface() = default;

    // A message box; false when none can be shown, and the caller then logs the text instead.
    virtual bool ShowMessage(const std::u16string& text, MessageIcon icon) {
        (void)text;
        (void)icon;
        return false;
    }
    // Tells the main window that the job list changed (WM_JOBLIST_CHANGED); never waits for the window.
    virtual void PostJobListChanged() {}
    // Shows a text in the information window and brings it to the top.
    virtual void ShowInformation(const std::u16string& text) { (void)text; }
    // Switches the notification-area icon.
    virtual void SetTrayIcon(int iconId) { (void)iconId; }
};

}  // namespace velmora
