// What start-up asks of the desktop program's windows. The windowed part lives in the user-interface
// library; the core only sees this interface, and the service role runs without one.
#pragma once

#include <string>

namespace velmora {

class CDesktopRole {
  public:
    virtual ~CDesktopRole() = default;
    // The hidden, modeless "Information" window.
    virtual void CreateInfoWindow() = 0;
    // The document (its creation starts the server), the main frame and the job list view; false when they
    // cannot be made.
    virtual bool CreateMainWindow() = 0;
    virtual void SetMainWindowTitle(const std::u16string& title) = 0;
    // Shows the main window normally, or hides it and the information window (AutoHide). Then repaints.
    virtual void ShowMainWindow(bool hidden) = 0;
};

}  // namespace velmora
