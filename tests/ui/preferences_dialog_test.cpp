// The "Preferences" dialog, with a service database of its own.
#include <gtest/gtest.h>
#include <QCheckBox>
#include <QLabel>
#include <QSpinBox>

#include <sstream>

#include "app/service_control.h"
#include "support/service_test_util.h"
#include "ui/dialog_preferences.h"
#include "ui/dialogs.h"
#include "ui/ui_test_support.h"

namespace velmora {
namespace {

using test::AnswerMessageBox, test::Child, test::Click, test::Q, test::ShownMessage, test::WhenModal,
    ui::CPreferenceApplication;

// "+" or "." for each check box, checked or (enabled) enabled, and for enabled, the waiting time last.
std::string States(const QWidget* dialog, bool enabled = false) {
    std::string states;
    for (const char* name : {"StartAsServiceCheck", "AutoStartCheck", "AutoHideCheck", "StressCheck",
                             "AutoDeleteCheck", "DeleteSpoolCheck", "LogNormalCheck", "LogDetailedCheck"}) {
        auto* check = Child<QCheckBox>(dialog, name);
        states += (enabled ? check->isEnabled() : check->isChecked()) ? '+' : '.';
    }
    return enabled ? states + (Child<QWidget>(dialog, "TimeoutEdit")->isEnabled() ? '+' : '.') : states;
}

class PreferencesDialogTest : public test::WithQt<test::AppFixture> {
  protected:
    std::string Stored() const {
        const CSettings& s = app_->Settings;
        std::ostringstream out;
        out << s.StartAsService << s.AutoStart << s.AutoHide << s.Stress << s.AutoDelete << s.DeleteSpool
            << " " << s.DeleteSpoolTimeOut << " " << s.PortLPD << " " << s.LogLevel;
        return out.str();
    }
    static ShownMessage ClickOk(const QWidget* dialog) {
        return test::MessageDuring([dialog] { Click(dialog, "OkButton"); });
    }
    test::ServiceSandbox sandbox_;
};

TEST_F(PreferencesDialogTest, ControlsShowTheSettingsAndOkStoresThem) {
    app_->Settings.AutoStart = 0;
    app_->Settings.AutoHide = 1;
    app_->Settings.Stress = 1;
    app_->Settings.DeleteSpool = true;
    app_->Settings.DeleteSpoolTimeOut = 45;
    app_->Settings.PortLPD = 5515;
    app_->Settings.LogLevel = 2;
    CPreferenceApplication dialog(*app_);
    EXPECT_EQ(States(&dialog), "..++.+.+");
    EXPECT_EQ(Child<QSpinBox>(&dialog, "TimeoutEdit")->value(), 45);
    EXPECT_EQ(Child<QLineEdit>(&dialog, "PortEdit")->text(), "5515");
    for (const char* name :
         {"AutoStartCheck", "AutoHideCheck", "StressCheck", "AutoDeleteCheck", "LogDetailedCheck"})
        Click(&dialog, name);
    Child<QSpinBox>(&dialog, "TimeoutEdit")->setValue(90);
    // The same port: nothing to restart.
    dialog.show();
    Click(&dialog, "OkButton");
    EXPECT_EQ(Stored(), "010011 90 5515 1");
    // Cancel through the command stores nothing.
    WhenModal([](QWidget* modal) {
        Click(modal, "StressCheck");
        Child<QLineEdit>(modal, "PortEdit")->setText("abc");
        Click(modal, "CancelButton");
    });
    ui::OnPreferences(*app_, nullptr);
    EXPECT_EQ(Stored(), "010011 90 5515 1");
}

TEST_F(PreferencesDialogTest, CheckBoxesFollowEachOther) {
    CPreferenceApplication dialog(*app_);
    // The waiting time belongs to the deletion after reception; the two log levels exclude each other.
    Click(&dialog, "DeleteSpoolCheck");
    Click(&dialog, "LogNormalCheck");
    EXPECT_EQ(States(&dialog, true), "+++++++++");
    EXPECT_EQ(States(&dialog).substr(6), ".+");
    // Starting as a service takes the desktop's start-up settings away and deletes printed jobs.
    Click(&dialog, "StartAsServiceCheck");
    EXPECT_EQ(States(&dialog, true).substr(0, 5), "+...+");
    EXPECT_EQ(States(&dialog).substr(0, 5), "++..+");
}

TEST_F(PreferencesDialogTest, TheServiceRequestDependsOnTheServiceStateAndAsksForARestart) {
    // Requested already: the desktop's start-up settings do not apply.
    app_->Settings.StartAsService = 1;
    EXPECT_EQ(States(std::make_unique<CPreferenceApplication>(*app_).get(), true).substr(0, 5), "+...+");
    // OK asks for a restart every time: for the service, then for a changed port.
    for (const int messages : {2, 1}) {
        std::vector<ShownMessage> shown;
        WhenModal([&shown, messages](QWidget* modal) {
            for (int i = 0; i < messages; ++i)
                AnswerMessageBox(&shown, modal);
            Child<QLineEdit>(modal, "PortEdit")->setText("9515");
            Click(modal, "OkButton");
        });
        ui::OnPreferences(*app_, nullptr);
        ASSERT_EQ(shown.size(), static_cast<std::size_t>(messages));
        for (const ShownMessage& message : shown)
            EXPECT_EQ(message.Text, "The program must be restarted.");
        EXPECT_EQ(Stored(), "110000 30 9515 1");
    }
    // Installed: it cannot be asked for again.
    app_->Settings.StartAsService = 0;
    CServiceControl service(app_->Reporter);
    ASSERT_TRUE(service.OpenOrCreateService(true));
    EXPECT_EQ(States(std::make_unique<CPreferenceApplication>(*app_).get(), true).substr(0, 5), ".++++");
    EXPECT_TRUE(service.UninstallService());
    EXPECT_EQ(States(std::make_unique<CPreferenceApplication>(*app_).get(), true).substr(0, 5), "+++++");
}

TEST_F(PreferencesDialogTest, ThePortMustBeANumberAndChangesAskForARestart) {
    CPreferenceApplication dialog(*app_);
    dialog.show();
    auto* port = Child<QLineEdit>(&dialog, "PortEdit");
    // No number: refused, the dialog stays open, the port stays.
    for (const char* text : {"abc", "", "0", "  -", "70000"}) {
        SCOPED_TRACE(text);
        port->setText(text);
        const ShownMessage shown = ClickOk(&dialog);
        EXPECT_EQ(shown.Text, "LPD port cannot be empty or alpha. Default: 515");
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(app_->Settings.PortLPD, 515);
    }
    // A new port is taken as the number it starts with, and needs a restart.
    port->setText(" 9100 ");
    EXPECT_EQ(ClickOk(&dialog).Text, "The program must be restarted.");
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
    // The first entry that is neither an address nor a network shows as it is typed; OK refuses it.
    list->setText("192.168.1.0/24, printhost, 10.0.0.300");
    EXPECT_FALSE(check->isHidden());
    EXPECT_EQ(check->text(), "Not an address or a network: printhost");
    EXPECT_EQ(ClickOk(&dialog).Text, "Not an address or a network: printhost");
    EXPECT_EQ(app_->Settings.AllowedClients(), u"10.0.0.5");
    // Mended, the list is stored on one line; empty again, it lets everyone in.
    list->setText("  192.168.1.0/24   10.0.0.5 ");
    EXPECT_TRUE(check->isHidden());
    Click(&dialog, "OkButton");
    EXPECT_EQ(app_->Settings.AllowedClients(), u"192.168.1.0/24 10.0.0.5");
    WhenModal([](QWidget* modal) {
        Child<QLineEdit>(modal, "AllowedClientsEdit")->clear();
        Click(modal, "OkButton");
    });
    ui::OnPreferences(*app_, nullptr);
    EXPECT_EQ(app_->Settings.AllowedClients(), u"");
}

TEST_F(PreferencesDialogTest, DisplayOpensTheLogInTheTextEditor) {
    const test::FakeOpener opener;
    app_->Log.SetFilePath(test::U16(folder_.File("Logs/Monday log.txt")));
    CPreferenceApplication dialog(*app_);
    Click(&dialog, "DisplayButton");
    EXPECT_TRUE(test::WaitForEvent(opener.Opened, folder_.File("Logs/Monday log.txt")));
    EXPECT_EQ(test::ReadEvents(opener.Opened).size(), 1u);
    test::SetEnvironment("PATH", opener.Bin.File("empty"));
    const ShownMessage shown = test::MessageDuring([&] { Click(&dialog, "DisplayButton"); });
    EXPECT_EQ(shown.Text, Q(u"CreateProcess failed : xdg-open \"" + app_->Log.FilePath() + u"\""));
    EXPECT_EQ(shown.Icon, QMessageBox::Critical);
}

}  // namespace
}  // namespace velmora
