// The real program's service through the Windows service control manager, copied into a temporary folder.
// The platform layer's service names come before windows.h, whose macros of the same values the test uses.
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

struct Service {
    explicit Service(DWORD access, DWORD managerAccess = SC_MANAGER_CONNECT)
        : Manager(OpenSCManagerW(nullptr, nullptr, managerAccess)),
          Handle(Manager ? OpenServiceW(Manager, SERVICE, access) : nullptr) {}
    ~Service() {
        for (SC_HANDLE handle : {Handle, Manager}) {
            if (handle)
                CloseServiceHandle(handle);
        }
    }
    SC_HANDLE Manager;
    SC_HANDLE Handle;
};

// dwCurrentState 0 when it is not installed.
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
        for (const platform::ProcessId pid : OwnProcesses())
            GTEST_SKIP() << "VelmoraVirtualPrinter already runs on this machine (process " << pid << ")";
        // A service left by an earlier run is removed; a real installation is not touched.
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

    bool Accepting(bool expected) const {
        return test::WaitUntil([&] { return test::RawLpdClient(port_).Connected() == expected; }) == expected;
    }

    test::TempFolder folder_;
    std::string program_;
    std::string base_;
    uint16_t port_ = 0;
};

TEST_F(ServiceLifeTest, InstalledStartedPausedByADesktopRunThatBorrowsItsPortContinuedStoppedAndRemoved) {
    ASSERT_EQ(Run("-SILENT_INSTALLSERV"), 0);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    EXPECT_TRUE(LogHas("Service successfully installed and started."));
    const Configuration config = InstalledConfiguration();
    EXPECT_EQ(config.StartType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(config.Type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_NE(config.Command.find(test::Widen(program_)), std::wstring::npos);
    EXPECT_NE(config.Command.find(L"-WINSERV"), std::wstring::npos);
    const DWORD servicePid = Status().dwProcessId;
    EXPECT_EQ(OwnProcesses(), std::vector<platform::ProcessId>{servicePid});
    ASSERT_TRUE(Accepting(true));
    ASSERT_TRUE(test::SendLpdJob(port_, "HOLD", CONTROL_FILE, "first job"));

    // Installing again while it runs starts nothing; removing it is refused.
    EXPECT_EQ(Run("-SILENT_INSTALLSERV"), 0);
    EXPECT_EQ(Status().dwProcessId, servicePid);
    EXPECT_EQ(Run("-SILENT_DELSERV"), 0);
    EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_TRUE(LogHas("ERROR: The service is running."));

    // A desktop run beside it pauses the service, borrows its port and hands its jobs back.
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
        EXPECT_FALSE(desktop.IsAlreadyRunning());
        ASSERT_TRUE(CServiceControl(desktop.Reporter).HoldService());
        EXPECT_EQ(Status().dwCurrentState, static_cast<DWORD>(SERVICE_PAUSED));
        EXPECT_TRUE(Marker(1));
        EXPECT_FALSE(Marker(0));
        EXPECT_EQ(SavedJobs(), 1u);
        EXPECT_TRUE(LogHas("QLS - ServiceControlHandler: 'SERVICE_CONTROL_PAUSE' received"));

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
    ASSERT_TRUE(test::SendLpdJob(port_, "HOLD", CONTROL_FILE, "second job"));

    // The continued service read the lists anew: it saves the desktop's job with its own.
    ASSERT_TRUE(Control(SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForState(SERVICE_STOPPED));
    EXPECT_TRUE(test::WaitUntil([] { return OwnProcesses().empty(); }));
    const CJobArchiveContent saved = ReadJobArchive(ReadFile(Base("spool.list")));
    ASSERT_EQ(saved.Jobs.size(), 3u);
    EXPECT_EQ(saved.Jobs[0]->DocumentName, u"report.txt");
    EXPECT_EQ(ReadFile(platform::UnicodeToAnsi(saved.Jobs[1]->LocalFileName)), "desktop's job");
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(Marker(i)) << i;
    EXPECT_TRUE(LogHas("QLS - ServiceControlHandler: 'SERVICE_CONTROL_STOP' received"));

    ASSERT_EQ(Run("-SILENT_DELSERV"), 0);
    EXPECT_EQ(Status().dwCurrentState, 0u);
    EXPECT_TRUE(LogHas("Service uninstalled successfully."));
    EXPECT_EQ(Run("-SILENT_DELSERV"), 0);
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
    EXPECT_EQ(Status().dwCurrentState, 0u);
#endif
}

}  // namespace
}  // namespace velmora
