// The service control manager against a private database, with real detached service processes, and the
// program's own service operations on it.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/desktop_role.h"
#include "app/service_control.h"
#include "platform/ansi.h"
#include "platform/service_manager.h"
#include "support/app_fixture.h"
#include "support/service_test_util.h"
#include "support/test_util.h"

namespace velmora {
namespace {

namespace sm = platform;
using test::ReadEvents;
using test::ReadFile;
using test::U16;
using test::WaitForEvent;

constexpr char NAME[] = "VelmoraTestService";
// The program's own service, run by the test service program.
const std::string OWN_NAME = "Velmora_VirtualPrinter";
using Lines = std::vector<std::string>;

bool Exists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
}

std::string LinkTarget(const std::string& path) {
    char target[4096];
    const ssize_t length = readlink(path.c_str(), target, sizeof target);
    return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

// A handle that is closed however the test ends.
using Handle = sm::CServiceHandle;

sm::CServiceStatus Query(const Handle& service) {
    sm::CServiceStatus status;
    EXPECT_TRUE(sm::QueryServiceStatus(service.Get(), &status)) << errno;
    return status;
}

// Waits until the service reports the state; the last state seen otherwise.
uint32_t WaitForState(const Handle& service, uint32_t state) {
    test::WaitUntil([&] { return Query(service).CurrentState == state; }, 30000);
    return Query(service).CurrentState;
}

pid_t ParentOf(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t nameEnd = stat.rfind(')');
    int parent = -1;
    if (nameEnd != std::string::npos)
        std::sscanf(stat.c_str() + nameEnd + 1, " %*c %d", &parent);
    return parent;
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

// Whether the call failed with that error.
template <typename Result>
bool FailsWith(const Result& result, int error) {
    return !static_cast<bool>(result) && errno == error;
}

Handle Create(const Handle& manager, const std::u16string& command,
              uint32_t startType = sm::SERVICE_DEMAND_START, const std::u16string& name = U16(NAME)) {
    return Handle(sm::CreateService(manager.Get(), name, u"Test service", sm::SERVICE_ALL_ACCESS,
                                    sm::SERVICE_WIN32_OWN_PROCESS, startType, sm::SERVICE_ERROR_NORMAL,
                                    command));
}

class ServiceManagerTest : public ::testing::Test {
  protected:
    Handle Install(const std::u16string& command, uint32_t startType = sm::SERVICE_DEMAND_START) {
        Handle service = Create(manager_, command, startType);
        EXPECT_TRUE(service) << errno;
        return service;
    }
    Handle Open() { return Handle(sm::OpenService(manager_.Get(), U16(NAME), sm::SERVICE_ALL_ACCESS)); }
    test::ServiceSandbox sandbox_;
    Handle manager_{sm::OpenSCManager(sm::SC_MANAGER_ALL_ACCESS)};
};

TEST_F(ServiceManagerTest, InstallationWritesConfigurationAndSystemdUnitAndRemovalTakesThemAway) {
    ASSERT_TRUE(manager_);
    // The database folder does not exist before the first installation: an empty database.
    ASSERT_FALSE(Exists(sandbox_.Database()));
    EXPECT_TRUE(FailsWith(Open(), sm::ERROR_SERVICE_DOES_NOT_EXIST));
    const std::u16string command = u"\"/opt/velmora/bin/Velmora Virtual Printer\" \"-WINSERV\" 100% $HOME";
    const Handle installed = Install(command, sm::SERVICE_AUTO_START);
    Handle opened = Open();
    ASSERT_TRUE(opened);
    sm::CServiceConfig config;
    ASSERT_TRUE(sm::QueryServiceConfig(opened.Get(), &config));
    EXPECT_EQ(config.BinaryPathName, command);
    EXPECT_EQ(config.StartType, sm::SERVICE_AUTO_START);
    const sm::CServiceStatus status = Query(opened);
    EXPECT_EQ(status.CurrentState, sm::SERVICE_STOPPED);
    sm::CServiceStatus ignored;
    EXPECT_TRUE(FailsWith(sm::ControlService(opened.Get(), sm::SERVICE_CONTROL_STOP, &ignored),
                          sm::ERROR_SERVICE_NOT_ACTIVE));
    // A second installation under the same name is refused and changes nothing.
    EXPECT_TRUE(FailsWith(Create(manager_, u"/bin/false"), sm::ERROR_SERVICE_EXISTS));
    ASSERT_TRUE(sm::QueryServiceConfig(opened.Get(), &config));
    EXPECT_EQ(config.BinaryPathName, command);
    // The unit runs the same command in systemd's quoting and is enabled for the boot.
    const std::string unitPath = sandbox_.UnitFolder() + "/" + NAME + ".service";
    const std::string unit = ReadFile(unitPath);
    for (const char* line :
         {"\nExecStart=\"/opt/velmora/bin/Velmora Virtual Printer\" \"-WINSERV\" \"100%%\" "
          "\"$$HOME\"\n",
          "\nDescription=Test service\n", "\nWantedBy=multi-user.target\n"})
        EXPECT_NE(unit.find(line), std::string::npos) << unit;
    const std::string link = sandbox_.UnitFolder() + "/multi-user.target.wants/" + NAME + ".service";
    EXPECT_EQ(LinkTarget(link), unitPath);
    ASSERT_TRUE(sm::DeleteService(opened.Get()));
    EXPECT_TRUE(FailsWith(Open(), sm::ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_TRUE(FailsWith(sm::QueryServiceStatus(opened.Get(), &ignored), sm::ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_FALSE(Exists(unitPath) || Exists(link) || Exists(sandbox_.Database() + "/" + NAME));
    // Started on demand only: the unit exists but is not enabled.
    Handle onDemand = Install(u"/bin/true");
    EXPECT_TRUE(Exists(unitPath));
    EXPECT_FALSE(Exists(link));
}

TEST_F(ServiceManagerTest, UnusableNamesAreRefused) {
    for (const char16_t* name : {u"", u"../escape", u"a/b", u".hidden"})
        EXPECT_FALSE(Create(manager_, u"/bin/true", sm::SERVICE_DEMAND_START, name))
            << platform::UnicodeToAnsi(name);
    EXPECT_FALSE(Exists(sandbox_.Database() + "/../escape"));
}

// Each control reaches the handler on the dispatcher thread, over a database path too long for a socket.
TEST(ServiceManagerProcessTest, StartedServiceRunsDetachedAndObeysEveryControl) {
    test::ServiceSandbox sandbox(true);
    Handle manager(sm::OpenSCManager(sm::SC_MANAGER_ALL_ACCESS));
    const std::string events = sandbox.NewEventsFile();
    Handle service = Create(manager, sandbox.ServiceCommand(NAME, events));
    ASSERT_TRUE(service) << errno;
    ASSERT_TRUE(sm::StartService(service.Get())) << errno;
    const pid_t pid = test::ServiceProcessId(events);
    ASSERT_GT(pid, 0);
    // Not our child, and in a session of its own.
    EXPECT_NE(ParentOf(pid), getpid());
    EXPECT_NE(getsid(pid), getsid(0));
    EXPECT_TRUE(WaitForEvent(events, std::string("mark ") + NAME));
    ASSERT_EQ(WaitForState(service, sm::SERVICE_RUNNING), sm::SERVICE_RUNNING);
    EXPECT_TRUE(FailsWith(sm::StartService(service.Get()), sm::ERROR_SERVICE_ALREADY_RUNNING));
    sm::CServiceStatus status;
    for (const uint32_t control : {sm::SERVICE_CONTROL_INTERROGATE, uint32_t{128}}) {
        ASSERT_TRUE(sm::ControlService(service.Get(), control, &status)) << control << ": " << errno;
        EXPECT_EQ(status.CurrentState, sm::SERVICE_RUNNING) << control;
    }
    for (const uint32_t control : {100, 256})
        EXPECT_TRUE(FailsWith(sm::ControlService(service.Get(), control, &status),
                              sm::ERROR_INVALID_SERVICE_CONTROL));
    // Removal while it runs only marks it; it goes once the service has stopped.
    ASSERT_TRUE(sm::DeleteService(service.Get())) << errno;
    EXPECT_TRUE(FailsWith(sm::DeleteService(service.Get()), sm::ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_TRUE(FailsWith(Create(manager, u"/bin/true"), sm::ERROR_SERVICE_MARKED_FOR_DELETE));
    EXPECT_EQ(Query(service).CurrentState, sm::SERVICE_RUNNING);
    ASSERT_TRUE(sm::ControlService(service.Get(), sm::SERVICE_CONTROL_STOP, &status)) << errno;
    EXPECT_TRUE(status.CurrentState == sm::SERVICE_STOP_PENDING || status.CurrentState == sm::SERVICE_STOPPED)
        << status.CurrentState;  // stopped already when the service is quick
    EXPECT_TRUE(WaitForEvent(events, "dispatcher returned"));
    EXPECT_TRUE(test::WaitForProcessEnd(pid));
    EXPECT_FALSE(Handle(sm::OpenService(manager.Get(), U16(NAME), sm::SERVICE_ALL_ACCESS)));
    EXPECT_FALSE(Exists(sandbox.UnitFolder() + "/" + NAME + ".service"));
    const std::vector<std::string> lines = ReadEvents(events);
    for (const int control : {1, 4, 128})
        EXPECT_EQ(Count(lines, "control " + std::to_string(control) + " on dispatcher"), 1) << control;
    EXPECT_EQ(Count(lines, "control 100 on dispatcher"), 0);
}

TEST_F(ServiceManagerTest, StartFailsForProgramsThatCannotBecomeTheService) {
    const std::string events = sandbox_.NewEventsFile();
    const struct {
        std::u16string Command;
        uint32_t StartType;
        int Error;
    } cases[] = {
        {u"\"/nonexistent/velmora program\" -WINSERV", sm::SERVICE_DEMAND_START, ENOENT},
        // A program that ends before it connects its dispatcher.
        {sandbox_.ServiceCommand(NAME, events, "exit"), sm::SERVICE_DEMAND_START, sm::ERROR_PROCESS_ABORTED},
        {u"/bin/true", sm::SERVICE_DISABLED, sm::ERROR_SERVICE_DISABLED},
    };
    for (const auto& c : cases) {
        Handle service = Install(c.Command, c.StartType);
        EXPECT_TRUE(FailsWith(sm::StartService(service.Get()), c.Error)) << c.Error;
        EXPECT_EQ(Query(service).CurrentState, sm::SERVICE_STOPPED);
        ASSERT_TRUE(sm::DeleteService(service.Get()));
    }
}

// Started by hand, the service runs in the foreground and a stop signal is a stop request; installed, it
// is the service the database knows (as systemd starts it).
TEST_F(ServiceManagerTest, ForegroundServiceStopsOnSigtermAndSigintAndTakesControlsWhenInstalled) {
    const std::string alone = sandbox_.NewEventsFile();
    test::ChildProcess loose(test::ToolPath("service"), {NAME, alone});
    ASSERT_TRUE(WaitForEvent(alone, std::string("main ") + NAME));
    EXPECT_TRUE(WaitForEvent(alone, "mark -"));
    loose.Kill(SIGINT);
    EXPECT_EQ(loose.WaitFor(30000), 0);
    EXPECT_EQ(Count(ReadEvents(alone), "control 1 on dispatcher"), 1);
    EXPECT_EQ(Count(ReadEvents(alone), "dispatcher returned"), 1);
    const std::string events = sandbox_.NewEventsFile();
    Handle service = Install(sandbox_.ServiceCommand(NAME, events));
    test::ChildProcess program(test::ToolPath("service"), {NAME, events});
    ASSERT_EQ(WaitForState(service, sm::SERVICE_RUNNING), sm::SERVICE_RUNNING);
    sm::CServiceStatus status;
    ASSERT_TRUE(sm::ControlService(service.Get(), sm::SERVICE_CONTROL_PAUSE, &status)) << errno;
    EXPECT_EQ(status.CurrentState, sm::SERVICE_PAUSED);
    // SIGTERM while paused is still a stop request; the control socket goes with the service.
    program.Kill(SIGTERM);
    EXPECT_EQ(program.WaitFor(30000), 0);
    EXPECT_EQ(Query(service).CurrentState, sm::SERVICE_STOPPED);
    EXPECT_EQ(Count(ReadEvents(events), "control 1 on dispatcher"), 1);
    EXPECT_FALSE(Exists(sandbox_.Database() + "/" + NAME + "/control"));
}

class ServiceControlTest : public test::AppFixture {
  protected:
    // Installs the service as the installation would, but running the command.
    static void Install(const std::u16string& command) {
        const Handle manager(sm::OpenSCManager(sm::SC_MANAGER_ALL_ACCESS));
        ASSERT_TRUE(manager);
        ASSERT_TRUE(Create(manager, command, sm::SERVICE_AUTO_START, SERVICE_NAME)) << errno;
    }
    // Installs and starts the test service with the behaviour; its events file.
    std::string StartTestService(const std::string& behaviour) {
        const std::string events = sandbox_.NewEventsFile();
        Install(sandbox_.ServiceCommand(OWN_NAME, events, behaviour));
        Service().InstallAndStartService(true);
        return events;
    }
    // Sends a control straight through the manager, as another program would.
    bool Control(uint32_t control) {
        sm::CServiceStatus status;
        return sm::ControlService(Service().OpenOrCreateService(false).Get(), control, &status);
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
    // Without an installed service there is nothing to do (the desktop start-up holds none).
    EXPECT_FALSE(Service().OpenOrCreateService(false));
    EXPECT_EQ(State(), SERVICE_STATE_UNKNOWN);
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

TEST_F(ServiceControlTest, ASlowStartIsWaitedForAndTheRunningServiceIsHeldResumedAndNeverRemoved) {
    // Start pending for longer than its wait hint, with a check point that keeps growing.
    const std::string events = StartTestService("slow-start");
    EXPECT_EQ(NewLogLines(), Lines{"Service successfully installed and started."});
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(State(), static_cast<int>(sm::SERVICE_RUNNING));
    EXPECT_TRUE(WaitForEvent(events, "main " + OWN_NAME));
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
        EXPECT_TRUE(Control(130 + state)) << errno;
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
        EXPECT_EQ(Count(lines, line), 1) << line;
}

TEST_F(ServiceControlTest, StartIsGivenUpWhenItMakesNoProgressWithinItsWaitHint) {
    const std::string events = StartTestService("stuck-start");
    EXPECT_EQ(NewLogLines(), Lines{"Service initialization failed."});
    EXPECT_EQ(Uninstall(false), (Lines{"QLS - UninstallService", "ERROR: The service is starting."}));
    // Still starting, it takes no controls.
    EXPECT_TRUE(FailsWith(Control(sm::SERVICE_CONTROL_STOP), sm::ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    EXPECT_EQ(Count(ReadEvents(events), "control 1 on dispatcher"), 0);
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
