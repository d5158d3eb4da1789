// The user interface that the server's parts see: the desktop program's windows once installed, and
// nothing in the service role, whose messages go to the log only.
#pragma once

#include <atomic>

#include "core/user_interface.h"

namespace velmora {

class CUserInterfaceSwitch : public CUserInterface {
  public:
    // Null uninstalls; the windows' implementation outlives the parts' use of it.
    void Install(CUserInterface* ui) { Installed = ui; }
    void SetServiceMode(bool serviceMode) { ServiceMode = serviceMode; }
    CUserInterface* InstalledInterface() const { return Installed; }

    bool ShowMessage(const std::u16string& text, MessageIcon icon) override {
        CUserInterface* ui = Current();
        return ui && ui->ShowMessage(text, icon);
    }
    void PostJobListChanged() override {
        if (CUserInterface* ui = Current())
            ui->PostJobListChanged();
    }
    void ShowInformation(const std::u16string& text) override {
        if (CUserInterface* ui = Current())
            ui->ShowInformation(text);
    }
    void SetTrayIcon(int iconId) override {
        if (CUserInterface* ui = Current())
            ui->SetTrayIcon(iconId);
    }

  private:
    CUserInterface* Current() const { return ServiceMode ? nullptr : Installed.load(); }

    std::atomic<CUserInterface*> Installed{nullptr};
    std::atomic<bool> ServiceMode{false};
};

}  // namespace velmora
