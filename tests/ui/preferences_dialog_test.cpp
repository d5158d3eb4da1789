// The "Preferences" dialog on the offscreen platform, with a service database of its own.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <memory>
#include <string>
#include <vector>

#include "app/service_control.h"
#include "platform/ansi.h"
#include "platform/service_manager.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "support/app_fixture.h"
#include "support/service_test_util.h"
#include "support/test_util.h"
#include "text/format.h"
#include "ui/dialog_preferences.h"
#include "ui/dialog_test_support.h"
#include "ui/dialogs.h"

namespace velmora {
namespace {

using test::AnswerMessageBox;
using test::Child;
using test::Q;
using test::ShownMessage;
using test::WhenModal;
using ui::CPreferenceApplication;

class PreferencesDialogTest : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        sandbox_ = std::make_unique<test::ServiceSandbox>();
        qt_ = std::make_unique<test::QtApplicationScope>();
    }
    void TearDown() override {
        qt_.reset();
        sandbox_.reset();
        AppFixture::TearDown();
    }

    static bool Checked(const QWidget* dialog, const char* name) {
        return Child<QCheckBox>(dialog, name)->isChecked();
    }
    static bool Enabled(const QWidget* dialog, const char* name) {
        return Child<QWidget>(dialog, name)->isEnabled();
    }

    // Clicks OK on the shown dialog, answering and noting the message boxes that follow.
    static void ClickOk(CPreferenceApplication* dialog, int messages, std::vector<ShownMessage>* shown) {
        for (int i = 0; i < messages; ++i)
            AnswerMessageBox(shown);
        Child<QPushButton>(dialog, "OkButton")->click();
    }

    std::unique_ptr<test::ServiceSandbox> sandbox_;
    std::unique_ptr<test::QtApplicationScope> qt_;
};

TEST_F(PreferencesDialogTest, ControlsShowTheSettingsAndOkStoresThem) {
    app_->Settings.AutoStart = 0;
    app_->Settings.AutoHide = 1;
    app_->Settings.Stress = 1;
    app_->Settings.AutoDelete = 0;
    app_->Settings.DeleteSpool = true;
    app_->Settings.DeleteSpoolTimeOut = 45;
    app_->Settings.PortLPD = 5515;
    app_->Settings.LogLevel = 2;

    CPreferenceApplication dialog(*app_);
    EXPECT_EQ(dialog.windowTitle(), "Preferences");
    EXPECT_FALSE(Checked(&dialog, "StartAsServiceCheck"));
    EXPECT_FALSE(Checked(&dialog, "AutoStartCheck"));
    EXPECT_TRUE(Checked(&dialog, "AutoHideCheck"));
    EXPECT_TRUE(Checked(&dialog, "StressCheck"));
    EXPECT_FALSE(Checked(&dialog, "AutoDeleteCheck"));
    EXPECT_TRUE(Checked(&dialog, "DeleteSpoolCheck"));
    EXPECT_EQ(Child<QSpinBox>(&dialog, "TimeoutEdit")->value(), 45);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "PortEdit")->text(), "5515");
    EXPECT_FALSE(Checked(&dialog, "LogNormalCheck"));
    EXPECT_TRUE(Checked(&dialog, "LogDetailedCheck"));
    // No service installed: it can be asked for; every start-up setting applies.
    for (const char* name : {"StartAsServiceCheck", "AutoStartCheck", "AutoHideCheck", "StressCheck",
                             "AutoDeleteCheck", "DeleteSpoolCheck", "TimeoutEdit"})
        EXPECT_TRUE(Enabled(&dialog, name)) << name;

    Child<QCheckBox>(&dialog, "AutoStartCheck")->click();
    Child<QCheckBox>(&dialog, "AutoHideCheck")->click();
    Child<QCheckBox>(&dialog, "StressCheck")->click();
    Child<QCheckBox>(&dialog, "AutoDeleteCheck")->click();
    Child<QSpinBox>(&dialog, "TimeoutEdit")->setValue(90);
    Child<QCheckBox>(&dialog, "LogDetailedCheck")->click();
    // The same port: nothing to restart.
    std::vector<ShownMessage> shown;
    dialog.show();
    ClickOk(&dialog, 0, &shown);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(app_->Settings.StartAsService, 0);
    EXPECT_EQ(app_->Settings.AutoStart, 1);
    EXPECT_EQ(app_->Settings.AutoHide, 0);
    EXPECT_EQ(app_->Settings.Stress, 0);
    EXPECT_EQ(app_->Settings.AutoDelete, 1);
    EXPECT_TRUE(app_->Settings.DeleteSpool);
    EXPECT_EQ(app_->Settings.DeleteSpoolTimeOut, 90);
    EXPECT_EQ(app_->Settings.PortLPD, 5515);
    EXPECT_EQ(app_->Settings.LogLevel, 1);

    // Cancel through the command stores nothing.
    WhenModal([](QWidget* modal) {
        Child<QCheckBox>(modal, "StressCheck")->click();
        Child<QLineEdit>(modal, "PortEdit")->setText("abc");
        Child<QPushButton>(modal, "CancelButton")->click();
    });
    ui::OnPreferences(*app_, nullptr);
    EXPECT_EQ(app_->Settings.Stress, 0);
    EXPECT_EQ(app_->Settings.PortLPD, 5515);
}

TEST_F(PreferencesDialogTest, CheckBoxesFollowEachOther) {
    app_->Settings.DeleteSpool = false;
    app_->Settings.LogLevel = 1;
    CPreferenceApplication dialog(*app_);

    // The waiting time belongs to the deletion after reception.
    EXPECT_FALSE(Enabled(&dialog, "TimeoutEdit"));
    Child<QCheckBox>(&dialog, "DeleteSpoolCheck")->click();
    EXPECT_TRUE(Enabled(&dialog, "TimeoutEdit"));
    Child<QCheckBox>(&dialog, "DeleteSpoolCheck")->click();
    EXPECT_FALSE(Enabled(&dialog, "TimeoutEdit"));

    // Exactly one log level.
    EXPECT_TRUE(Checked(&dialog, "LogNormalCheck"));
    Child<QCheckBox>(&dialog, "LogNormalCheck")->click();
    EXPECT_FALSE(Checked(&dialog, "LogNormalCheck"));
    EXPECT_TRUE(Checked(&dialog, "LogDetailedCheck"));
    Child<QCheckBox>(&dialog, "LogDetailedCheck")->click();
    EXPECT_TRUE(Checked(&dialog, "LogNormalCheck"));
    EXPECT_FALSE(Checked(&dialog, "LogDetailedCheck"));
    Child<QCheckBox>(&dialog, "LogNormalCheck")->click();
    Child<QCheckBox>(&dialog, "LogNormalCheck")->click();
    EXPECT_TRUE(Checked(&dialog, "LogNormalCheck"));
    EXPECT_FALSE(Checked(&dialog, "LogDetailedCheck"));

    // Starting as a service takes the desktop's own start-up settings away and deletes printed jobs at
    // every start.
    app_->Settings.AutoDelete = 0;
    Child<QCheckBox>(&dialog, "StartAsServiceCheck")->click();
    for (const char* name : {"AutoStartCheck", "AutoHideCheck", "StressCheck"})
        EXPECT_FALSE(Enabled(&dialog, name)) << name;
    EXPECT_TRUE(Checked(&dialog, "AutoDeleteCheck"));
    EXPECT_TRUE(Enabled(&dialog, "AutoDeleteCheck"));
    Child<QCheckBox>(&dialog, "StartAsServiceCheck")->click();
    for (const char* name : {"AutoStartCheck", "AutoHideCheck", "StressCheck"})
        EXPECT_TRUE(Enabled(&dialog, name)) << name;
    EXPECT_TRUE(Checked(&dialog, "AutoDeleteCheck"));
}

TEST_F(PreferencesDialogTest, TheServiceRequestDependsOnTheServiceState) {
    // Requested already: the desktop's start-up settings do not apply.
    app_->Settings.StartAsService = 1;
    {
        CPreferenceApplication dialog(*app_);
        EXPECT_TRUE(Checked(&dialog, "StartAsServiceCheck"));
        EXPECT_TRUE(Enabled(&dialog, "StartAsServiceCheck"));
        for (const char* name : {"AutoStartCheck", "AutoHideCheck", "StressCheck"})
            EXPECT_FALSE(Enabled(&dialog, name)) << name;
    }

    // Installed: it cannot be asked for again.
    app_->Settings.StartAsService = 0;
    platform::ScHandle manager = platform::OpenSCManager(platform::SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    platform::ScHandle service =
        platform::CreateService(manager, SERVICE_NAME, SERVICE_NAME, platform::SERVICE_ALL_ACCESS,
                                platform::SERVICE_WIN32_OWN_PROCESS, platform::SERVICE_DEMAND_START,
                                platform::SERVICE_ERROR_NORMAL, u"/bin/true -WINSERV");
    ASSERT_NE(service, nullptr);
    {
        CPreferenceApplication dialog(*app_);
        EXPECT_FALSE(Enabled(&dialog, "StartAsServiceCheck"));
        EXPECT_TRUE(Enabled(&dialog, "AutoStartCheck"));
    }
    EXPECT_TRUE(platform::DeleteService(service));
    platform::CloseServiceHandle(service);
    platform::CloseServiceHandle(manager);
    {
        CPreferenceApplication dialog(*app_);
        EXPECT_TRUE(Enabled(&dialog, "StartAsServiceCheck"));
    }
}

TEST_F(PreferencesDialogTest, ThePortMustBeANumberAndChangesAskForARestart) {
    app_->Settings.PortLPD = 515;
    CPreferenceApplication dialog(*app_);
    dialog.show();
    auto* port = Child<QLineEdit>(&dialog, "PortEdit");

    // No number: refused, the dialog stays open, the port stays.
    for (const char* text : {"abc", "", "0", "  -", "70000"}) {
        SCOPED_TRACE(text);
        port->setText(text);
        std::vector<ShownMessage> shown;
        ClickOk(&dialog, 1, &shown);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Text, "LPD port cannot be empty or alpha. Default: 515");
        EXPECT_EQ(shown[0].Caption, "VelmoraVirtualPrinter");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(app_->Settings.PortLPD, 515);
    }

    // A new port is taken as the number it starts with, and needs a restart.
    port->setText(" 9100 ");
    std::vector<ShownMessage> shown;
    ClickOk(&dialog, 1, &shown);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "The program must be restarted.");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(app_->Settings.PortLPD, 9100);
}

TEST_F(PreferencesDialogTest, TheClientListIsCheckedAsItIsTyped) {
    app_->Settings.SetAllowedClients(u"10.0.0.5");
    CPreferenceApplication dialog(*app_);
    dialog.show();
    auto* list = Child<QLineEdit>(&dialog, "AllowedClientsEdit");
    auto* check = Child<QLabel>(&dialog, "AllowedClientsCheck");
    EXPECT_EQ(list->text(), "10.0.0.5");
    EXPECT_TRUE(check->isHidden());

    // The first entry that is neither an address nor a network shows as it is typed; OK refuses it.
    list->setText("192.168.1.0/24, printhost, 10.0.0.300");
    EXPECT_FALSE(check->isHidden());
    EXPECT_EQ(check->text(), "Not an address or a network: printhost");
    std::vector<ShownMessage> shown;
    ClickOk(&dialog, 1, &shown);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, "Not an address or a network: printhost");
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(app_->Settings.AllowedClients(), u"10.0.0.5");

    // Mended, the list is stored on one line; empty again, it lets everyone in.
    list->setText("  192.168.1.0/24   10.0.0.5 ");
    EXPECT_TRUE(check->isHidden());
    shown.clear();
    ClickOk(&dialog, 0, &shown);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(app_->Settings.AllowedClients(), u"192.168.1.0/24 10.0.0.5");
    WhenModal([](QWidget* modal) {
        Child<QLineEdit>(modal, "AllowedClientsEdit")->clear();
        Child<QPushButton>(modal, "OkButton")->click();
    });
    ui::OnPreferences(*app_, nullptr);
    EXPECT_EQ(app_->Settings.AllowedClients(), u"");
}

TEST_F(PreferencesDialogTest, TheServiceRequestAsksForARestartEveryTime) {
    app_->Settings.StartAsService = 1;
    for (int run = 0; run < 2; ++run) {
        // The service first, then a changed port.
        const int messages = run == 0 ? 2 : 1;
        std::vector<ShownMessage> shown;
        WhenModal([&shown, messages](QWidget* modal) {
            for (int i = 0; i < messages; ++i)
                AnswerMessageBox(&shown, modal);
            Child<QLineEdit>(modal, "PortEdit")->setText("9515");
            Child<QPushButton>(modal, "OkButton")->click();
        });
        ui::OnPreferences(*app_, nullptr);
        ASSERT_EQ(shown.size(), static_cast<std::size_t>(messages)) << run;
        for (const ShownMessage& message : shown)
            EXPECT_EQ(message.Text, "The program must be restarted.");
        EXPECT_EQ(app_->Settings.StartAsService, 1);
        EXPECT_EQ(app_->Settings.PortLPD, 9515);
        EXPECT_EQ(app_->Settings.AutoDelete, 0);
    }
}

TEST_F(PreferencesDialogTest, DisplayOpensTheLogInTheTextEditor) {
    // A stand-in for the desktop's opener that notes its arguments.
    test::TempFolder tools;
    const std::string opened = tools.File("opened");
    const std::string opener = tools.File("xdg-open");
    test::WriteFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + opened + "'\n");
    ASSERT_EQ(chmod(opener.c_str(), 0755), 0);
    const char* path = getenv("PATH");
    const std::string savedPath = path ? path : "";
    app_->Log.SetFilePath(test::U16(folder_.File("Logs/Monday log.txt")));

    CPreferenceApplication dialog(*app_);
    setenv("PATH", (tools.Path() + ":" + savedPath).c_str(), 1);
    Child<QPushButton>(&dialog, "DisplayButton")->click();
    EXPECT_TRUE(test::WaitForEvent(opened, folder_.File("Logs/Monday log.txt")));
    EXPECT_EQ(test::ReadEvents(opened).size(), 1u);

    // No editor to start: its command line is shown.
    setenv("PATH", tools.File("empty").c_str(), 1);
    std::vector<ShownMessage> shown;
    AnswerMessageBox(&shown);
    Child<QPushButton>(&dialog, "DisplayButton")->click();
    setenv("PATH", savedPath.c_str(), 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].Text, Q(u"CreateProcess failed : xdg-open \"" + app_->Log.FilePath() + u"\""));
    EXPECT_EQ(shown[0].Icon, QMessageBox::Critical);
}

TEST_F(PreferencesDialogTest, ThePreferencesSpeakTheThreadsLanguage) {
    for (const Language language : {Language::French, Language::Japanese}) {
        test::LanguageScope scope(language);
        CPreferenceApplication dialog(*app_);
        EXPECT_EQ(dialog.windowTitle(), Q(LoadString(IDS_DLG_PREF_TITLE, language)));
        EXPECT_EQ(Child<QCheckBox>(&dialog, "StressCheck")->text(),
                  Q(LoadString(IDS_DLG_PREF_STRESS, language)));
        EXPECT_NE(Child<QCheckBox>(&dialog, "StressCheck")->text(),
                  Q(LoadString(IDS_DLG_PREF_STRESS, Language::English)));
        EXPECT_EQ(Child<QPushButton>(&dialog, "DisplayButton")->text(),
                  Q(LoadString(IDS_DLG_PREF_DISPLAY_LOG, language)));
        dialog.show();
        Child<QLineEdit>(&dialog, "PortEdit")->setText("x");
        std::vector<ShownMessage> shown;
        ClickOk(&dialog, 1, &shown);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].Text, Q(LoadString(IDS_BAD_LPD_PORT, language)));
        EXPECT_NE(shown[0].Text, Q(LoadString(IDS_BAD_LPD_PORT, Language::English)));
        dialog.reject();
    }
}

}  // namespace
}  // namespace velmora
