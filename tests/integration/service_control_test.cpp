// The program's own service operations against a private service database and the test service.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/desktop_role.h"
#include "app/service_control.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/service_manager.h"
#include "support/app_fixture.h"
#include "support/service_test_util.h"

namespace velmora {
namespace {

namespace sm = platform;
using test::ReadEvents;
using test::WaitForEvent;

const std::string NAME = "Velmora_VirtualPrinter";
using Lines = std::vector<std::string>;

bool Exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

class ServiceControlTest : public test::AppFixture {
  protected:
    // Installs the service as the installation would, but running the command.
    static void Install(const std::u16string& command) {
        const sm::CServiceHandle manager(sm::OpenSCManager(sm::SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager);
        ASSERT_TRUE(sm::CServiceHandle(sm::CreateService(
            manager.Get(), SERVICE_NAME, SERVICE_NAME, sm::SERVICE_ALL_ACCESS, sm::SERVICE_WIN32_OWN_PROCESS,
            sm::SERVICE_AUTO_START, sm::SERVICE_ERROR_NORMAL, command)))
            << errno;
    }
    // Installs and starts the test service with the behaviour; its events file.
    std::string StartTestService(const std::string& behaviour = "normal") {
        const std::string events = sandbox_.NewEventsFile();
        Install(sandbox_.ServiceCommand(NAME, events, behaviour));
        Service().InstallAndStartService(true);
        return events;
    }
    // Sends a control straight through the manager, as another program would.
    void Control(uint32_t control) {
        const sm::CServiceHandle service = Service().OpenOrCreateService(false);
        ASSERT_TRUE(service);
        sm::CServiceStatus status;
        EXPECT_TRUE(sm::ControlService(service.Get(), control, &status)) << errno;
    }
    // The log lines written since the last call.
    Lines NewLogLines() {
        const Lines all = LogMessages();
        Lines fresh(all.begin() + static_cast<long>(std::min(seen_, all.size())), all.end());
        seen_ = all.size();
        return fresh;
    }
    // Uninstalls; the log lines it wrote.
    Lines Uninstall(bool expected) {
        EXPECT_EQ(Service().UninstallService(), expected);
        return NewLogLines();
    }
    // The service operations as the program runs them, reporting through the application object.
    CServiceControl& Service() {
        if (!control_)
            control_ = std::make_unique<CServiceControl>(app_->Reporter);
        return *control_;
    }
    int State() { return Service().QueryServiceState(); }
    test::ServiceSandbox sandbox_;
    std::size_t seen_ = 0;
    std::unique_ptr<CServiceControl> control_;
};

TEST_F(ServiceControlTest, InstallationRunsThisProgramWithWinservAtBootAndRemovalUndoesIt) {
    // Without an installed service there is nothing to do.
    EXPECT_FALSE(Service().OpenOrCreateService(false));
    EXPECT_EQ(State(), SERVICE_STATE_UNKNOWN);
    EXPECT_TRUE(Service().HoldService());
    EXPECT_TRUE(Service().ResumeService());
    EXPECT_EQ(Uninstall(true), Lines{});
    EXPECT_FALSE(Exists(sandbox_.Database()));
    sm::CServiceHandle service = Service().OpenOrCreateService(true);
    ASSERT_TRUE(service);
    sm::CServiceConfig config;
    ASSERT_TRUE(sm::QueryServiceConfig(service.Get(), &config));
    EXPECT_EQ(config.BinaryPathName, u"\"" + sm::ProgramFilePath() + u"\" \"-WINSERV\"");
    EXPECT_EQ(config.StartType, sm::SERVICE_AUTO_START);
    service.Close();
    EXPECT_EQ(NewLogLines(), Lines{"QLS - Create Service"});
    EXPECT_EQ(State(), static_cast<int>(sm::SERVICE_STOPPED));
    // Found again rather than created again.
    EXPECT_TRUE(Service().OpenOrCreateService(true));
    EXPECT_EQ(NewLogLines(), Lines{});
    // A stopped service is neither held nor resumed, and can be removed.
    EXPECT_TRUE(Service().HoldService());
    EXPECT_TRUE(Service().ResumeService());
    EXPECT_EQ(Uninstall(true), Lines{"QLS - UninstallService"});
    EXPECT_EQ(State(), SERVICE_STATE_UNKNOWN);
}

// What the desktop start-up asks of the windows.
class RecordingDesktop : public CDesktopRole {
  public:
    void CreateInfoWindow() override {}
    bool CreateMainWindow() override { return true; }
    void SetMainWindowTitle(const std::u16string&) override {}
    void ShowMainWindow(bool hidden) override { Shown.push_back(hidden); }
    std::vector<bool> Shown;
};

TEST_F(ServiceControlTest, TheDesktopStartUpHidesTheMainWindowOnlyWithAutoHide) {
    char name[] = "VelmoraVirtualPrinter";
    char* argv[] = {name, nullptr};
    app_->ProfileFile.SetPath(app_->BaseFolder + u"QLSconf.ini");
    app_->ProfileFile.WriteInt(u"Settings", u"AutoStart", 0);
    for (const int autoHide : {0, 1}) {
        app_->ProfileFile.WriteInt(u"Settings", u"AutoHide", autoHide);
        RecordingDesktop desktop;
        app_->Desktop = &desktop;
        // Another instance (a program test running beside this one) refuses the start for a while.
        EXPECT_TRUE(test::WaitUntil([&] { return app_->InitInstance(1, argv); }, 60000));
        EXPECT_EQ(desktop.Shown, std::vector<bool>{autoHide == 1});
        app_->Desktop = nullptr;
    }
}

TEST_F(ServiceControlTest, RunningServiceIsHeldResumedAndNeverRemoved) {
    const std::string events = StartTestService();
    EXPECT_EQ(NewLogLines(), Lines{"Service successfully installed and started."});
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(State(), static_cast<int>(sm::SERVICE_RUNNING));
    EXPECT_TRUE(WaitForEvent(events, "main " + NAME));
    EXPECT_EQ(Uninstall(false), (Lines{"QLS - UninstallService", "ERROR: The service is running."}));
    // Held twice (the second time nothing is sent), then resumed twice.
    EXPECT_TRUE(Service().HoldService());
    EXPECT_EQ(State(), static_cast<int>(sm::SERVICE_PAUSED));
    EXPECT_TRUE(Service().HoldService());
    EXPECT_EQ(Uninstall(false), (Lines{"QLS - UninstallService", "ERROR: The service is paused."}));
    EXPECT_TRUE(Service().ResumeService());
    EXPECT_EQ(State(), static_cast<int>(sm::SERVICE_RUNNING));
    EXPECT_TRUE(Service().ResumeService());
    EXPECT_EQ(NewLogLines(), Lines{});
    // The test service reports the state 130 + state asks for: each pending state prevents the removal.
    const std::pair<uint32_t, std::string> cases[] = {
        {sm::SERVICE_PAUSE_PENDING, "ERROR: The service pause is pending."},
        {sm::SERVICE_CONTINUE_PENDING, "ERROR: The service continue is pending."},
        {sm::SERVICE_STOP_PENDING, "ERROR: The service is stopping."},
    };
    for (const auto& [state, line] : cases) {
        Control(130 + state);
        EXPECT_EQ(Uninstall(false), (Lines{"QLS - UninstallService", line}));
    }
    // Ended without reporting it: stopped, and removable.
    const pid_t pid = test::ServiceProcessId(events);
    kill(pid, SIGKILL);
    ASSERT_TRUE(test::WaitForProcessEnd(pid));
    EXPECT_EQ(Uninstall(true), Lines{"QLS - UninstallService"});
    EXPECT_EQ(State(), SERVICE_STATE_UNKNOWN);
    const Lines lines = ReadEvents(events);
    for (const std::string& line : {"pid " + std::to_string(pid), std::string("control 2 on dispatcher"),
                                    std::string("control 3 on dispatcher")})
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
}

TEST_F(ServiceControlTest, StartIsGivenUpWhenItMakesNoProgressWithinItsWaitHint) {
    StartTestService("stuck-start");
    EXPECT_EQ(NewLogLines(), Lines{"Service initialization failed."});
    EXPECT_EQ(Uninstall(false), (Lines{"QLS - UninstallService", "ERROR: The service is starting."}));
}

TEST_F(ServiceControlTest, StartThatKeepsMakingProgressIsWaitedFor) {
    // Start pending for longer than its wait hint, with a check point that keeps growing.
    StartTestService("slow-start");
    EXPECT_EQ(NewLogLines(), Lines{"Service successfully installed and started."});
    EXPECT_EQ(State(), static_cast<int>(sm::SERVICE_RUNNING));
}

TEST_F(ServiceControlTest, ManagerFailuresAreLoggedWithTheSystemErrorNumberAndText) {
    // A program that cannot be started.
    Install(u"\"" + test::U16(folder_.File("missing program")) + u"\" \"-WINSERV\"");
    Service().InstallAndStartService(true);
    EXPECT_EQ(NewLogLines(), (Lines{"QLS - StartService failed (2): No such file or directory",
                                    "Service initialization failed."}));
    ASSERT_TRUE(Service().UninstallService());
    NewLogLines();
    // A database that cannot be made: the installation fails, and shows it without the silent flag.
    const std::string file = folder_.File("not-a-folder");
    test::WriteFile(file, "");
    setenv("VELMORA_SERVICE_DATABASE", (file + "/services").c_str(), 1);
    Service().InstallAndStartService(false);
    EXPECT_EQ(NewLogLines(), (Lines{"QLS - Create Service", "CreateService failed (20): Not a directory"}));
    EXPECT_EQ(messages_, std::vector<std::u16string>{u"Service installation failed."});
    // A database that is not a folder: the manager cannot be opened. The service itself logs every report.
    setenv("VELMORA_SERVICE_DATABASE", file.c_str(), 1);
    app_->SetServiceMode(true);
    Service().InstallAndStartService(false);
    EXPECT_EQ(NewLogLines(),
              (Lines{"OpenSCManager failed (20): Not a directory", "Service installation failed."}));
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(Service().HoldService());
    EXPECT_EQ(NewLogLines(), Lines{"OpenSCManager failed (20): Not a directory"});
}

}  // namespace
}  // namespace velmora
