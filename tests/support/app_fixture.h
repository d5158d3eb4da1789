// A fresh application object whose base folder is a temporary folder, with a test user interface.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/app.h"
#include "platform/ansi.h"
#include "support/test_user_interface.h"
#include "support/test_util.h"

namespace velmora::test {

class AppFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        SetEnvironment("VELMORA_BASE_FOLDER", folder_.Path());
        app_ = std::make_unique<CVelmoraVirtualPrinterApp>();
        app_->Settings.AccessFile_MaxAttempts = 3;
        app_->InstallUserInterface(&ui_);
        ASSERT_TRUE(app_->SetUpWorkingFolders());
        // Worker threads call these, several at a time.
        ui_.OnShowMessage = [this](const std::u16string& text, MessageIcon) {
            std::lock_guard<std::mutex> lock(seamLock_);
            messages_.push_back(text);
        };
        ui_.OnPostJobListChanged = [this] { ++posts_; };
        ui_.OnShowInformation = [this](const std::u16string& text) {
            std::lock_guard<std::mutex> lock(seamLock_);
            information_.push_back(text);
        };
    }
    void TearDown() override {
        app_.reset();
        UnsetEnvironment("VELMORA_BASE_FOLDER");
    }

    std::vector<std::string> LogMessages() const {
        return LogFileMessages(platform::UnicodeToAnsi(app_->Log.FilePath()));
    }

    TempFolder folder_;
    CTestUserInterface ui_;
    std::unique_ptr<CVelmoraVirtualPrinterApp> app_;
    std::vector<std::u16string> messages_;
    std::vector<std::u16string> information_;
    std::atomic<int> posts_{0};
    std::mutex seamLock_;
};

}  // namespace velmora::test
