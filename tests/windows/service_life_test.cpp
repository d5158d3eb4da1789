// The service's life through the Windows service control manager, driven by the real program copied into a
// temporary folder (its base folder beside it is the test's own). The service manager's names of the
// platform layer come before windows.h, whose macros of the same names (and values) the test then uses.
#include "app/app.h"
#include "app/service_control.h"
#include "app/service_runtime.h"
#include "platform/ansi.h"
#include "platform/process.h"
#include "spool/job_archive.h"
#include "support/lpd_test_util.h"
#include "support/test_user_interface.h"
#include "support/test_util.h"
#include "windows/windows_test_util.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::WriteFile;

constexpr const wchar_t* SERVICE = L"Velmora_VirtualPrinter";
constexpr char CONTROL_FILE[] = "Hclient\nPjohn\nJreport\nldfA001client\nNreport.txt\n";

// A handle of the service manager and one of the service, closed at destruction.
struct Service {
    explicit Service(DWORD access, DWORD managerAccess = SC_MANAGER_CONNECT)
        : Manager(OpenSCManagerW(nullptr, nullptr, managerAccess)),
          Handle(Manager ? OpenServiceW(Manager, SERVICE, access) : nullptr) {}
    ~Service() {
        if (Handle)
            CloseServiceHandle(Handle);
        if (Manager)
            CloseServiceHandle(Manager);
    }
    SC_HANDLE Manager;
    SC_HANDLE Handle;
};

// The service's status from the manager; dwCurrentState 0 when it is not installed.
SERVICE_STATUS_PROCESS Status() {
    SERVICE_STATUS_PROCESS status{};
    DWORD size = 0;
    if (Service service(SERVICE_QUERY_STATUS); service.Handle)
        QueryServiceStatusEx(service.Handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                             sizeof status, &size);
    return status;
}

bool WaitForState(DWORD state) {
    return test::WaitUntil([state] { return Status().dwCurrentState == state; }, 30000);
}

bool Control(DWORD control) {
    Service service(SERVICE_ALL_ACCESS);
    SERVICE_STATUS status{};
    return service.Handle && ControlService(service.Handle, control, &status);
}

// The installed service's configuration; its start type 0 and an empty command line when not installed.
struct Configuration {
    DWORD StartType = 0;
    DWORD Type = 0;
    std::wstring Command;
};
Configuration InstalledConfiguration() {
    Configuration result;
    Service service(SERVICE_QUERY_CONFIG);
    std::vector<BYTE> buffer(8192);
    const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
    DWORD needed = 0;
    if (service.Handle &&
        QueryServiceConfigW(service.Handle, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                            static_cast<DWORD>(buffer.size()), &needed))
        result = {config->dwStartType, config->dwServiceType, config->lpBinaryPathName};
    return result;
}

// Stops and deletes the service.
void RemoveService() {
    if (Status().dwCurrentState == 0)
        return;
    if (Status().dwCurrentState == SERVICE_PAUSED)
        Control(SERVICE_CONTROL_CONTINUE);
    Control(SERVICE_CONTROL_STOP);
    WaitForState(SERVICE_STOPPED);
    if (Service service(DELETE, SC_MANAGER_ALL_ACCESS); service.Handle)
        DeleteService(service.Handle);
}

std::vector<platform::ProcessId> OwnProcesses() {
    std::vector<platform::ProcessId> found;
    for (const platform::ProcessId pid : platform::ListProcesses()) {
        if (CVelmoraVirtualPrinterApp::IsOwnProcess(pid))
            found.push_back(pid);
    }
    return found;
}

class ServiceLifeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The program allows one instance per machine: another one running here would refuse ours.
        for (const platform::ProcessId pid : OwnProcesses())
            GTEST_SKIP() << "VelmoraVirtualPrinter already runs on this machine (process " << pid << ")";
        // A service left by an earlier run of these tests is removed; a real installation is not touched.
        if (Status().dwCurrentState != 0) {
            if (InstalledConfiguration().Command.find(L"velmora-test-") == std::wstring::npos)
                GTEST_SKIP() << "the Velmora_VirtualPrinter service is installed on this machine";
            RemoveService();
        }
        program_ = folder_.File("VelmoraVirtualPrinter.exe");
        std::filesystem::copy_file(VELMORA_PROGRAM_PATH, program_);
        base_ = folder_.File("VelmoraSpooler");
        std::filesystem::create_directory(base_);
        port_ = test::FreeLoopbackPort();
        WriteFile(Base("QLSconf.ini"), "[Settings]\r\nPortLPD=" + std::to_string(port_) + "\r\n");
        // HOLD keeps its jobs, so that no dispatch is involved.
        WriteFile(Base("Printer.cfg"), "HOLD;0; ; ;1; ; ; ; ; ; \r\n");
    }
    void TearDown() override {
        if (program_.empty())
            return;  // skipped before anything started
        RemoveService();
        for (const platform::ProcessId pid : OwnProcesses()) {
            if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid)) {
                TerminateProcess(process, 1);
                CloseHandle(process);
            }
        }
        test::UnsetEnvironment("VELMORA_BASE_FOLDER");
    }

    std::string Base(const std::string& name) const { return base_ + test::TempFolder::SEPARATOR + name; }
    bool Marker(int index) const { return std::filesystem::exists(Base("QLSsynch" + std::to_string(index))); }

    // Runs the copied program to its end; its exit code.
    int Run(const std::string& argument) const {
        ChildProcess run(program_, {argument}, ChildProcess::Options{{}, {}, true});
        std::string output;
        return run.RunToEnd(60000, &output);
    }

    std::size_t SavedJobs() const { return ReadJobArchive(ReadFile(Base("spool.list"))).Jobs.size(); }

    bool LogHas(const std::string& text) const {
        for (const auto& entry : std::filesystem::directory_iterator(Base("Logs"))) {
            for (const std::string& line : test::LogFileMessages(entry.path().string())) {
                if (line.find(text) != std::string::npos)
                    return true;
            }
        }
        return false;
    }

    // Whether the port takes connections, waiting for it to do as expected.
    bool Accepting(bool expected) const {
        return test::WaitUntil([&] { return test::RawLpdClient(port_).Connected() == expected; }) == expected;
    }

    test::TempFolder folder_;
    std::string program_;
    std::string base_;
    uint16_t port_ = 0;
};

TEST_F(ServiceLifeTest, InstalledStartedPausedContinuedStoppedAndRemoved) {
    ASSERT_EQ(Run("-SILENT_INSTALLSERV"), 0);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    EXPECT_TRUE(LogHas("Service successfully installed and started."));
    // Started automatically, as the program with -WINSERV.
    const Configuration config = InstalledConfiguration();
    EXPECT_EQ(config.StartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config.Type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_NE(config.Command.find(test::Widen(program_)), std::wstring::npos);
    EXPECT_NE(config.Command.find(L"-WINSERV"), std::wstring::npos);
    // The service process is known as an own process by its program name.
    const DWORD servicePid = Status().dwProcessId;
    EXPECT_TRUE(CVelmoraVirtualPrinterApp::IsOwnProcess(servicePid));
    EXPECT_EQ(platform::ProcessBaseName(servicePid), u"VelmoraVirtualPrinter");
    EXPECT_EQ(OwnProcesses(), std::vector<platform::ProcessId>{servicePid});
    EXPECT_FALSE(CVelmoraVirtualPrinterApp::IsOwnProcess(GetCurrentProcessId()));
    ASSERT_TRUE(Accepting(true));
    ASSERT_TRUE(test::SendLpdJob(port_, "HOLD", CONTROL_FILE, "first job"));

    // Installing again while it runs is a success without a second start; removing it is refused.
    EXPECT_EQ(Run("-SILENT_INSTALLSERV"), 0);
    EXPECT_EQ(Status().dwProcessId, servicePid);
    EXPECT_EQ(Run("-SILENT_DELSERV"), 0);
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(LogHas("ERROR: The service is running."));

    // Paused: the port is given up, the list saved, the marker says so.
    ASSERT_TRUE(Control(SERVICE_CONTROL_PAUSE));
    ASSERT_TRUE(WaitForState(SERVICE_PAUSED));
    EXPECT_TRUE(Marker(1));
    EXPECT_FALSE(Marker(0));
    EXPECT_FALSE(Accepting(false));
    EXPECT_EQ(SavedJobs(), 1u);
    EXPECT_TRUE(LogHas("QLS - ServiceControlHandler: 'SERVICE_CONTROL_PAUSE' received"));

    // Continued: serving again.
    ASSERT_TRUE(Control(SERVICE_CONTROL_CONTINUE));
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    EXPECT_FALSE(Marker(1));
    ASSERT_TRUE(Accepting(true));
    ASSERT_TRUE(test::SendLpdJob(port_, "HOLD", CONTROL_FILE, "second job"));

    // Stopped: both jobs saved, no marker left, the process gone.
    ASSERT_TRUE(Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_TRUE(test::WaitUntil([] { return OwnProcesses().empty(); }));
    EXPECT_EQ(SavedJobs(), 2u);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(Marker(i)) << i;
    EXPECT_TRUE(LogHas("QLS - ServiceControlHandler: 'SERVICE_CONTROL_STOP' received"));

    ASSERT_EQ(Run("-SILENT_DELSERV"), 0);
    EXPECT_EQ(Status().dwCurrentState, 0u);
    EXPECT_TRUE(LogHas("Service uninstalled successfully."));
    // Removing a service that is not there is a success too.
    EXPECT_EQ(Run("-SILENT_DELSERV"), 0);
}

TEST_F(ServiceLifeTest, ADesktopRunBorrowsThePortOfThePausedServiceAndHandsItsJobsBack) {
    ASSERT_EQ(Run("-SILENT_INSTALLSERV"), 0);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    ASSERT_TRUE(Accepting(true));
    ASSERT_TRUE(test::SendLpdJob(port_, "HOLD", CONTROL_FILE, "service's job"));

    // What the desktop program does around its windows, against the same base folder.
    test::SetEnvironment("VELMORA_BASE_FOLDER", base_);
    {
        CVelmoraVirtualPrinterApp desktop;
        test::CTestUserInterface ui;
        ui.OnShowMessage = [](const std::u16string& text, MessageIcon) {
            ADD_FAILURE() << platform::UnicodeToAnsi(text);
        };
        desktop.InstallUserInterface(&ui);
        ASSERT_TRUE(desktop.SetUpWorkingFolders());
        desktop.ProfileFile.SetPath(platform::AnsiToUnicode(Base("QLSconf.ini")));
        desktop.LoadSettings();
        ASSERT_EQ(desktop.Settings.PortLPD, port_);
        // The service runs: a desktop run beside it is allowed, it is the one own process.
        EXPECT_FALSE(desktop.IsAlreadyRunning());
        ASSERT_TRUE(CServiceControl(desktop.Reporter).HoldService());
        EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));
        EXPECT_TRUE(Marker(1));

        desktop.LpdServer.LoopbackOnly = true;
        desktop.StartServer();
        test::WaitUntil([&] { return desktop.LpdServer.ListeningPort != 0; });
        ASSERT_EQ(desktop.LpdServer.ListeningPort, port_);
        ASSERT_TRUE(test::SendLpdJob(port_, "HOLD", CONTROL_FILE, "desktop's job"));
        desktop.StopServer();
        EXPECT_EQ(SavedJobs(), 2u);

        ASSERT_TRUE(desktop.Markers.IsPaused());
        ASSERT_TRUE(CServiceControl(desktop.Reporter).ResumeService());
    }
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    EXPECT_FALSE(Marker(1));
    ASSERT_TRUE(Accepting(true));

    // The continued service read the lists anew: at its stop it saves the desktop's job with its own.
    ASSERT_TRUE(Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    const CJobArchiveContent saved = ReadJobArchive(ReadFile(Base("spool.list")));
    ASSERT_EQ(saved.Jobs.size(), 2u);
    EXPECT_EQ(saved.Jobs[0]->DocumentName, u"report.txt");
    EXPECT_EQ(ReadFile(platform::UnicodeToAnsi(saved.Jobs[1]->LocalFileName)), "desktop's job");
}

TEST_F(ServiceLifeTest, APlainStartOfABuildWithoutTheDesktopProgramSaysSoAndEnds) {
#ifdef VELMORA_DESKTOP
    GTEST_SKIP() << "this build has the desktop program";
#else
    ChildProcess plain(program_, {}, ChildProcess::Options{{}, {}, true});
    std::string output;
    EXPECT_EQ(plain.RunToEnd(60000, &output), 1);
    EXPECT_NE(output.find("this build has no desktop program"), std::string::npos) << output;
    EXPECT_NE(output.find("-WINSERV"), std::string::npos) << output;
    EXPECT_TRUE(OwnProcesses().empty());
    EXPECT_EQ(Status().dwCurrentState, 0u);  // nothing installed on the way
#endif
}

}  // namespace
}  // namespace velmora
