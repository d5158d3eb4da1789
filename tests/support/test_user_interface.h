// A user interface for tests: each call goes to a function a test installs, or nowhere.
#pragma once

#include <functional>
#include <string>

#include "core/user_interface.h"

namespace velmora::test {

class CTestUserInterface : public CUserInterface {
  public:
    bool ShowMessage(const std::u16string& text, MessageIcon icon) override {
        if (!OnShowMessage)
            return false;
        OnShowMessage(text, icon);
        return true;
    }
    void PostJobListChanged() override {
        if (OnPostJobListChanged)
            OnPostJobListChanged();
    }
    void ShowInformation(const std::u16string& text) override {
        if (OnShowInformation)
            OnShowInformation(text);
    }
    void SetTrayIcon(int iconId) override {
        if (OnSetTrayIcon)
            OnSetTrayIcon(iconId);
    }

    std::function<void(const std::u16string& text, MessageIcon icon)> OnShowMessage;
    std::function<void()> OnPostJobListChanged;
    std::function<void(const std::u16string& text)> OnShowInformation;
    std::function<void(int iconId)> OnSetTrayIcon;
};

}  // namespace velmora::test
