// The service's life through the Windows service control manager: installed and started by the real
// program, paused, continued, stopped and removed, with the marker files, the port given up while paused,
// and a desktop run borrowing the port of the paused service. The program is copied into a temporary
// folder first, so that its base folder beside it is the test's own.
// The service manager's names of the platform layer come before windows.h, whose macros of the same names
// (and values) the test then uses.
#include "app/app.h"
#include "app/service_control.h"
#include "app/service_runtime.h"
#include "platform/ansi.h"
#include "platform/process.h"
#include "spool/job_archive.h"
#include "support/lpd_test_util.h"
#include "support/test_user_interface.h"
#include "support/test_util.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::WriteFile;

constexpr const wchar_t* SERVICE = L"Velmora_VirtualPrinter";
constexpr char CONTROL_FILE[] = "Hclient\nPjohn\nJreport\nldfA001client\nNreport.txt\n";

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// The service's status from the manager; dwCurrentState 0 when it is not installed.
SERVICE_STATUS_PROCESS Status() {
    SERVICE_STATUS_PROCESS status{};
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, SERVICE, SERVICE_QUERY_STATUS) : nullptr;
    DWORD size = 0;
    if (service) {
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &size);
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return status;
}

bool WaitForState(DWORD state, int milliseconds = 30000) {
    for (int waited = 0; waited < milliseconds; waited += 50) {
        if (Status().dwCurrentState == state)
            return true;
        Sleep(50);
    }
    return false;
}

bool Control(DWORD control) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, SERVICE, SERVICE_ALL_ACCESS) : nullptr;
    SERVICE_STATUS status{};
    const bool sent = service && ControlService(service, control, &status);
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return sent;
}

// The installed service's command line; empty when it is not installed.
std::wstring BinaryPath() {
    std::wstring path;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, SERVICE, SERVICE_QUERY_CONFIG) : nullptr;
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    if (service && QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                       static_cast<DWORD>(buffer.size()), &needed)) {
        path = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data())->lpBinaryPathName;
    }
    if (service)
        CloseServiceHandle(service);
    if (manager)
        CloseServiceHandle(manager);
    return path;
}

// Stops and deletes the service.
void RemoveService() {
    if (Status().dwCurrentState == 0)
        return;
    if (Status().dwCurrentState == SERVICE_PAUSED)
        Control(SERVICE_CONTROL_CONTINUE);
    Control(SERVICE_CONTROL_STOP);
    WaitForState(SERVICE_STOPPED);
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service = manager ? OpenServiceW(manager, SERVICE, DELETE) : nullptr;
    if (service) {
        DeleteService(service);
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
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
            if (BinaryPath().find(L"velmora-test-") == std::wstring::npos)
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

    // Whether the port takes connections, waiting up to the time for it to do as expected.
    bool Accepting(bool expected, int milliseconds = 10000) const {
        for (int waited = 0;; waited += 100) {
            const bool accepting = test::RawLpdClient(port_).Connected();
            if (accepting == expected || waited >= milliseconds)
                return accepting;
            Sleep(100);
        }
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
    {
        // Started automatically, as the program with -WINSERV.
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        SC_HANDLE service = OpenServiceW(manager, SERVICE, SERVICE_QUERY_CONFIG);
        ASSERT_NE(service, nullptr);
        std::vector<BYTE> buffer(8192);
        DWORD needed = 0;
        ASSERT_TRUE(QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                        static_cast<DWORD>(buffer.size()), &needed));
        const auto* config = reinterpret_cast<const QUERY_SERVICE_CONFIGW*>(buffer.data());
        EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        const std::wstring path = BinaryPath();
        const std::u16string binary = platform::AnsiToUnicode(program_);
        EXPECT_NE(path.find(std::wstring(binary.begin(), binary.end())), std::wstring::npos);
        EXPECT_NE(path.find(L"-WINSERV"), std::wstring::npos);
    }
    ASSERT_TRUE(Accepting(true));
    ASSERT_TRUE(test::SendLpdJob(port_, "HOLD", CONTROL_FILE, "first job"));

    // Installing again while it runs is a success without a second start; removing it is refused.
    const DWORD servicePid = Status().dwProcessId;
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
    for (int i = 0; i < 100 && !OwnProcesses().empty(); ++i)
        Sleep(100);
    EXPECT_TRUE(OwnProcesses().empty());
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
        for (int i = 0; i < 400 && desktop.LpdServer.ListeningPort == 0; ++i)
            Sleep(10);
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

TEST_F(ServiceLifeTest, TheServiceProcessIsKnownAsOwnByItsProgramName) {
    ASSERT_EQ(Run("-SILENT_INSTALLSERV"), 0);
    ASSERT_TRUE(WaitForState(SERVICE_RUNNING));
    const DWORD servicePid = Status().dwProcessId;
    ASSERT_NE(servicePid, 0u);
    EXPECT_TRUE(CVelmoraVirtualPrinterApp::IsOwnProcess(servicePid));
    EXPECT_EQ(platform::ProcessBaseName(servicePid), u"VelmoraVirtualPrinter");
    EXPECT_EQ(OwnProcesses(), std::vector<platform::ProcessId>{servicePid});
    EXPECT_FALSE(CVelmoraVirtualPrinterApp::IsOwnProcess(GetCurrentProcessId()));
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
