// The real program as users start it (offscreen, message boxes echoed), its service role and velmora-admin.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/ansi.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "spool/job_archive.h"
#include "support/lpd_test_util.h"
#include "support/test_util.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using test::ChildProcess, test::ReadFile, test::WriteFile;

const char HOLD_PRINTER[] = "HOLD;0; ; ;1; ; ; ; ; ; \r\n";

class ProgramTest : public ::testing::Test {
  protected:
    // A run's result as "exit code: output": the run succeeded.
    static bool Ok(const std::string& result) { return result.rfind("0: ", 0) == 0; }
    static bool Shows(const std::string& result, const std::string& text) {
        return result.find(text) != std::string::npos;
    }
    void SetUp() override {
        // The program allows one instance per machine: another one running here would refuse ours.
        for (const platform::ProcessId pid : platform::ListProcesses()) {
            if (platform::ProcessBaseName(pid) == u"VelmoraVirtualPrinter")
                GTEST_SKIP() << "VelmoraVirtualPrinter already runs on this machine (process " << pid << ")";
        }
        base_ = folder_.File("VelmoraSpooler");
        test::SetEnvironment("VELMORA_SERVICE_DATABASE", folder_.File("services"));
        test::SetEnvironment("VELMORA_SYSTEMD_UNIT_FOLDER", folder_.File("units"));
        port_ = test::FreeLoopbackPort();
        fs::create_directory(base_);
        WriteSettings("");
        WriteFile(Base("Printer.cfg"), HOLD_PRINTER);  // HOLD keeps its jobs: no dispatch is involved
    }
    void TearDown() override {
        if (base_.empty())
            return;                                                        // skipped before anything started
        Drive(platform::SERVICE_CONTROL_STOP, platform::SERVICE_STOPPED);  // when it runs
        // Whatever is left of this test's programs (the service runs detached) is killed by process id.
        for (const platform::ProcessId pid : platform::ListProcesses()) {
            const std::string environment = ReadFile("/proc/" + std::to_string(pid) + "/environ");
            if (platform::ProcessBaseName(pid) == u"VelmoraVirtualPrinter" &&
                environment.find("VELMORA_BASE_FOLDER=" + base_ + '\0') != std::string::npos)
                kill(static_cast<pid_t>(pid), SIGKILL);
        }
        test::UnsetEnvironment("VELMORA_SERVICE_DATABASE");
        test::UnsetEnvironment("VELMORA_SYSTEMD_UNIT_FOLDER");
    }
    std::string Base(const std::string& name) const { return base_ + "/" + name; }
    void WriteSettings(const std::string& more) const {
        WriteFile(Base("QLSconf.ini"), "[Settings]\r\nPortLPD=" + std::to_string(port_) + "\r\n" + more);
    }
    ChildProcess::Options Options() const {
        ChildProcess::Options options;
        options.Environment = {"VELMORA_BASE_FOLDER=" + base_, "VELMORA_LISTEN_LOOPBACK=1",
                               "QT_QPA_PLATFORM=offscreen", "VELMORA_ANSWER_MESSAGE_BOXES=1"};
        options.CaptureErrors = true;
        return options;
    }
    // Runs the program (by default this one) to its end: "exit code: output".
    std::string Run(const std::vector<std::string>& arguments,
                    const std::string& program = VELMORA_PROGRAM_PATH) const {
        std::string output;
        const int code = ChildProcess(program, arguments, Options()).RunToEnd(60000, &output);
        return std::to_string(code) + ": " + output;
    }
    std::string Admin(const std::vector<std::string>& arguments) const {
        return Run(arguments, VELMORA_ADMIN_PATH);
    }
    // Every log line of the run so far, without time stamps.
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        std::error_code none;
        for (const fs::directory_entry& file : fs::directory_iterator(Base("Logs"), none)) {
            for (std::string& line : test::LogFileMessages(file.path().string())) {
                if (file.path().filename().string().rfind("Saved_", 0) != 0)
                    lines.push_back(std::move(line));
            }
        }
        return lines;
    }
    long Count(const std::string& message) const {
        const std::vector<std::string> lines = Log();
        return std::count(lines.begin(), lines.end(), message);
    }
    bool WaitForCount(const std::string& message, long count) const {
        return test::WaitUntil([&] { return Count(message) >= count; }, 30000);
    }
    // The job names of spool.list, in order.
    std::string SavedJobs() const {
        std::string names;
        for (const SpoolFilePtr& job : ReadJobArchive(ReadFile(Base("spool.list"))).Jobs)
            names += platform::UnicodeToAnsi(job->JobName) + " ";
        return names;
    }
    bool SendJob(const std::string& name, const std::string& queue = "HOLD") const {
        return test::SendLpdJob(port_, queue, "Htester\nPtester\nJ" + name + "\nldfA001tester\n",
                                name + "\n");
    }
    // Sends the control (0: none) to the private database's service; its state then, 0 on failure.
    uint32_t Control(uint32_t control) const {
        platform::ScHandle manager = platform::OpenSCManager(platform::SC_MANAGER_ALL_ACCESS);
        platform::ScHandle service =
            platform::OpenService(manager, u"Velmora_VirtualPrinter", platform::SERVICE_ALL_ACCESS);
        platform::CServiceStatus status;
        const bool done = service && (control == 0 ? platform::QueryServiceStatus(service, &status)
                                                   : platform::ControlService(service, control, &status));
        platform::CloseServiceHandle(service);
        platform::CloseServiceHandle(manager);
        return done ? std::max<uint32_t>(status.CurrentState, 1) : 0;
    }
    uint32_t ServiceState() const { return Control(0); }
    bool Drive(uint32_t control, uint32_t state) const {
        return (control == 0 || Control(control)) &&
               test::WaitUntil([&] { return ServiceState() == state; }, 30000);
    }
    test::TempFolder folder_;
    std::string base_;
    uint16_t port_ = 0;
};

TEST_F(ProgramTest, ABaseFolderThatCannotBeMadeIsReportedAndTheProgramEnds) {
    WriteFile(folder_.File("plain-file"), "");
    base_ = folder_.File("plain-file/VelmoraSpooler");
    EXPECT_PRED2(Shows, Run({}), "VelmoraVirtualPrinter: Unable to create folder " + base_ + "/");
}

// velmora-admin on the files of a base folder that no server holds, with the dialogs' checks.
TEST_F(ProgramTest, AdminToolKeepsThePrintersAndSettingsWithTheDialogsChecks) {
    EXPECT_EQ(Admin({"add-printer", "RAW", "--local-printer=Office Laser", "--input-bin=2"}), "0: ");
    EXPECT_EQ(Admin({"add-printer", "LABELS", "--route=program", "--program=\"/bin/cp\" %1 \"/tmp/\"",
                     "--program-printer=Zebra"}),
              "0: ");
    EXPECT_EQ(Admin({"add-printer", "FWD", "--route=lpd", "--host=10.0.0.9", "--queue=raw", "--hold=1"}),
              "0: ");
    EXPECT_EQ(Admin({"change-printer", "FWD", "--name=FORWARD", "--queue=main"}), "0: ");
    // One printer a line, every field in the order --help names them, read back from the file.
    EXPECT_EQ(Admin({"printers", "--machine"}),
              "0: HOLD\traw\t1\t\t\t\t\t\t\t\t\n"
              "RAW\traw\t0\tOffice Laser\t\"/usr/bin/lp\" -d %2 %1\t\t192.168.1.250\tPASS\t2\t\t\n"
              "LABELS\tprogram\t0\t\t\"/bin/cp\" %1 \"/tmp/\"\tZebra\t192.168.1.250\tPASS\t\t\t\n"
              "FORWARD\tlpd\t1\t\t\"/usr/bin/lp\" -d %2 %1\t\t10.0.0.9\tmain\t\t\t\n");
    EXPECT_PRED2(Shows, Admin({"printers"}), "FORWARD  lpd      yes   10.0.0.9, queue main\n");
    const std::string printers = ReadFile(Base("Printer.cfg"));
    const std::string settings = ReadFile(Base("QLSconf.ini"));
    const struct {
        std::vector<std::string> Arguments;
        int Code;
        const char* Message;
    } refused[] = {
        {{"add-printer", "RAW"}, 1, "The printer already exists."},
        {{"add-printer", ""}, 1, "The printer name cannot be blank."},
        {{"change-printer", "NOPE", "--hold=1"}, 1, "No virtual printer is named NOPE."},
        {{"change-printer", "RAW", "--queue=a;b"}, 1, "queue cannot hold \";\", CR or LF."},
        {{"change-printer", "RAW", "--hold=2"}, 1, "2 is not a valid value for hold."},
        {{"change-printer", "RAW", "--colour=red"}, 2, "Unknown option: --colour=red\nTry"},
        {{"frob"}, 2, "Unknown command: frob"},
        {{"set", "PortLPD=0"}, 1, "0 is not a valid value for PortLPD."},
        {{"set", "LogLevel=1", "PortLPD=12x"}, 1, "12x is not a valid value for PortLPD."},
        {{"set", "AllowedClients=10.0.0.0/8, printhost"}, 1, "10.0.0.0/8, printhost is not a valid value"},
        {{"set", "Colour=1"}, 1, "Unknown setting: Colour"},
    };
    for (const auto& c : refused) {
        const std::string result = Admin(c.Arguments);
        EXPECT_EQ(result.rfind(std::to_string(c.Code) + ": ", 0), 0u) << result;
        EXPECT_PRED2(Shows, result, c.Message);
    }
    EXPECT_EQ(ReadFile(Base("Printer.cfg")), printers);
    EXPECT_EQ(ReadFile(Base("QLSconf.ini")), settings);
    EXPECT_EQ(Admin({"remove-printer", "LABELS"}), "0: ");
    EXPECT_EQ(Admin({"set", "portlpd=9100", "LogLevel=2", "AllowedClients=10.0.0.0/8 127.0.0.1"}), "0: ");
    const std::string shown = Admin({"settings"});
    for (const char* line : {"\nPortLPD=9100\n", "\nLogLevel=2\n", "\nAllowedClients=10.0.0.0/8 127.0.0.1\n"})
        EXPECT_PRED2(Shows, shown, line);
    // In the language of Lang.
    const std::string registry = folder_.File("registry");
    WriteFile(registry, "Lang=FR\n");
    test::SetEnvironment("VELMORA_REGISTRY", registry);
    EXPECT_EQ(Admin({"add-printer", "RAW"}), "1: Cette imprimante existe déjà.\n");
    test::UnsetEnvironment("VELMORA_REGISTRY");
}

// A running server takes the commands through its channel; a paused one reads the files when it continues.
TEST_F(ProgramTest, AdminToolChangesARunningServerThroughItsChannel) {
    if (access("/usr/bin/setpriv", X_OK) == 0 && geteuid() == 0) {
        EXPECT_EQ(Run({"--reuid=65534", "--regid=65534", "--clear-groups", VELMORA_ADMIN_PATH, "printers"},
                      "/usr/bin/setpriv"),
                  "3: Only root and members of the group lpadmin may administer the server.\n");
    }
    ASSERT_PRED1(Ok, Run({"-SILENT_INSTALLSERV"}));
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    ASSERT_EQ(Admin({"add-printer", "NEW", "--hold=1"}), "0: ");
    EXPECT_TRUE(SendJob("job", "NEW"));
    EXPECT_EQ(Count("1\tAdministration: add-printer NEW --hold=1 (exit status 0)"), 1);
    EXPECT_PRED2(Shows, ReadFile(Base("Printer.cfg")), "\r\nNEW;");
    ASSERT_EQ(Admin({"set", "KillProcessIfNeed=1"}), "0: ");
    EXPECT_PRED2(Shows, ReadFile(Base("QLSconf.ini")), "\r\nKillProcessIfNeed=1\r\n");
    // The held job: released, it is dispatched and ends in Error (its route names no printer).
    const auto firstJob = [this] {
        const std::string listed = Admin({"jobs", "--machine"}).substr(3);
        return listed.substr(0, listed.find('\n'));
    };
    const std::string name = firstJob().substr(0, firstJob().find('\t'));
    EXPECT_PRED2(Shows, firstJob(), name + "\theld\tNEW\t");
    EXPECT_EQ(Admin({"hold", name}), "1: Job " + name + " cannot take this command in the state Held.\n");
    ASSERT_EQ(Admin({"release", name}), "0: ");
    EXPECT_TRUE(test::WaitUntil([&] { return Shows(firstJob(), name + "\terror\t"); }));
    ASSERT_EQ(Admin({"transfer", name, "HOLD"}), "0: ");
    EXPECT_PRED2(Shows, firstJob(), "\tHOLD\t");
    EXPECT_EQ(Admin({"delete", "20000101000000_1"}), "1: No job is named 20000101000000_1.\n");
    // Paused, the service holds nothing: the files are changed directly, and read when it continues.
    ASSERT_TRUE(Drive(platform::SERVICE_CONTROL_PAUSE, platform::SERVICE_PAUSED));
    ASSERT_EQ(Admin({"add-printer", "LATER", "--hold=1"}), "0: ");
    ASSERT_EQ(Admin({"delete", name}), "0: ");
    EXPECT_EQ(Count("1\tAdministration: add-printer LATER --hold=1 (exit status 0)"), 0);
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_CONTINUE));
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 2));
    EXPECT_EQ(firstJob(), "");
    EXPECT_TRUE(SendJob("job", "LATER"));
    EXPECT_PRED2(Shows, firstJob(), "\theld\tLATER\t");
}

TEST_F(ProgramTest, InstalledServiceLivesWithDesktopProgramsBorrowingItsPortUntilRemoved) {
    // A client list with a typing slip: the slip is logged once per start, the rest holds.
    WriteSettings("AllowedClients=127.0.0.0/8, bogus\r\n");
    ASSERT_PRED1(Ok, Run({"-SILENT_INSTALLSERV"}));
    EXPECT_EQ(Count("Service successfully installed and started."), 1);
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    // Installed and running: reported as success without a second start.
    EXPECT_PRED2(Shows, Run({"/INSTALLSERV"}),
                 "VelmoraVirtualPrinter: Service successfully installed and started.");
    EXPECT_EQ(Count("1\tQLS - ServiceMain: service has to be started"), 1);
    ASSERT_TRUE(SendJob("by-service"));
    // A desktop program pauses the service and takes the port; a second one refuses to run.
    ChildProcess desktop(VELMORA_PROGRAM_PATH, {}, Options());
    ASSERT_TRUE(WaitForCount("0\tLPD Server is started", 1)) << desktop.ReadAll();
    EXPECT_EQ(ServiceState(), platform::SERVICE_PAUSED);
    EXPECT_TRUE(fs::exists(Base("QLSsynch1")));
    ASSERT_EQ(SavedJobs(), "by-service ");
    ASSERT_TRUE(SendJob("by-desktop"));
    EXPECT_PRED2(Shows, Run({}),
                 "VelmoraVirtualPrinter: VelmoraVirtualPrinter is already running on this computer.");
    EXPECT_FALSE(test::WaitUntil([&] { return ServiceState() != platform::SERVICE_PAUSED; }, 1500));
    desktop.Kill(SIGTERM);
    EXPECT_EQ(desktop.WaitFor(30000), 0);
    // Its end saved the job list and the settings, the client list as written.
    for (const char* line : {"\r\nAllowedClients=127.0.0.0/8, bogus\r\n", "\r\nAutoStart="})
        EXPECT_PRED2(Shows, ReadFile(Base("QLSconf.ini")), line);
    // Continued, the service reads the lists anew: the desktop program's job is in its list.
    ASSERT_TRUE(Drive(0, platform::SERVICE_RUNNING));
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 2));
    ASSERT_TRUE(SendJob("after-continue"));
    EXPECT_EQ(Count("1\tLPD Server: AllowedClients entry not understood, ignored: bogus"), 2);
    EXPECT_EQ(Count("0\tLPD Server: AllowedClients entry not understood, ignored: bogus"), 1);
    // A continue reads the list again: one that names only another address refuses this client.
    WriteSettings("AllowedClients=127.0.0.2\r\n");
    ASSERT_TRUE(Drive(platform::SERVICE_CONTROL_PAUSE, platform::SERVICE_PAUSED));
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_CONTINUE));
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 3));
    EXPECT_FALSE(SendJob("refused"));
    EXPECT_TRUE(
        WaitForCount("1\tLPD Server: Refused 1 connection(s) from 127.0.0.1: not in AllowedClients", 1));
    // Paused by hand and then stopped: the stop writes nothing and leaves no marker.
    ASSERT_TRUE(Drive(platform::SERVICE_CONTROL_PAUSE, platform::SERVICE_PAUSED));
    EXPECT_EQ(SavedJobs(), "by-service by-desktop after-continue ");
    EXPECT_FALSE(test::RawLpdClient(port_).Connected());
    const fs::file_time_type written = fs::last_write_time(Base("spool.list"));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(Drive(platform::SERVICE_CONTROL_STOP, platform::SERVICE_STOPPED));
    EXPECT_EQ(fs::last_write_time(Base("spool.list")), written);
    for (const char* marker : {"QLSsynch0", "QLSsynch1", "QLSsynch2"})
        EXPECT_FALSE(fs::exists(Base(marker))) << marker;
    // Stopped, it is removed.
    ASSERT_PRED1(Ok, Run({"-SILENT_DELSERV"}));
    EXPECT_EQ(Count("Service uninstalled successfully."), 1);
    EXPECT_EQ(ServiceState(), 0u);
}

// Killed at random moments while four clients send: every acknowledged job is kept with its bytes.
TEST_F(ProgramTest, AKilledServerKeepsEveryAcknowledgedJob) {
    std::mt19937 random(std::random_device{}());
    std::vector<std::string> acknowledged;
    std::mutex acknowledgedLock;
    for (int trial = 0; trial < 6; ++trial) {
        ChildProcess service(VELMORA_PROGRAM_PATH, {"-WINSERV"}, Options());
        ASSERT_TRUE(WaitForCount("1\tLPD Server is started", trial + 1));
        std::atomic<bool> sending{true};
        std::vector<std::thread> clients;
        for (int client = 0; client < 4; ++client) {
            clients.emplace_back([&, client] {
                for (int n = 0; sending; ++n) {
                    const std::string name = std::to_string(trial * 10 + client) + "-" + std::to_string(n);
                    const std::string data = name + std::string(2000, 'x') + "\n";
                    if (!test::SendLpdJob(port_, "HOLD", "Htester\nPtester\nJ" + name + "\n", data))
                        continue;
                    std::lock_guard<std::mutex> lock(acknowledgedLock);
                    acknowledged.push_back(data);
                }
            });
        }
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(100, 800)(random)));
        service.Kill(SIGKILL);
        service.WaitFor(30000);
        sending = false;
        for (std::thread& client : clients)
            client.join();
    }
    // The last restart's recovery, then its saved list; the service role never writes the settings.
    const std::string settings = ReadFile(Base("QLSconf.ini"));
    ChildProcess service(VELMORA_PROGRAM_PATH, {"-WINSERV"}, Options());
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 7));
    service.Kill(SIGTERM);
    ASSERT_EQ(service.WaitFor(30000), 0);
    EXPECT_EQ(Count("1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_STOP' received"), 1);
    EXPECT_EQ(ReadFile(Base("QLSconf.ini")), settings);
    // Each job by its name, with its data; a file that only the spool folder knew would be held nameless.
    std::multimap<std::string, std::string> listed;
    std::set<std::string> named;
    for (const SpoolFilePtr& job : ReadJobArchive(ReadFile(Base("spool.list"))).Jobs) {
        const std::string path = platform::UnicodeToAnsi(job->LocalFileName);
        listed.emplace(platform::UnicodeToAnsi(job->JobName), ReadFile(path));
        named.insert(path.substr(path.find_last_of('/') + 1));
    }
    ASSERT_GT(acknowledged.size(), 0u);
    for (const std::string& data : acknowledged) {
        const std::string name = data.substr(0, data.find('x'));
        ASSERT_EQ(listed.count(name), 1u) << name << " of " << acknowledged.size();
        EXPECT_EQ(listed.find(name)->second, data) << name;
    }
    for (const fs::directory_entry& file : fs::directory_iterator(Base("Spool/HOLD")))
        EXPECT_EQ(named.count(file.path().filename().string()), 1u) << file.path();
}

// A stop cuts a dribbling client and a print program that never ends; the job under way stays Ready.
TEST_F(ProgramTest, AStopCutsADribblingClientAndADispatchThatNeverEnds) {
    const std::string busy = Base("busy.sh");
    WriteFile(busy, "#!/bin/sh\nwhile :; do :; done\n");
    fs::permissions(busy, fs::perms::owner_all);
    WriteFile(Base("Printer.cfg"), HOLD_PRINTER + ("BUSY;1;" + busy + " %1; ;0; ; ; ; ; ; \r\n"));
    WriteSettings("LogLevel=2\r\n");
    ChildProcess service(VELMORA_PROGRAM_PATH, {"-WINSERV"}, Options());
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    ASSERT_TRUE(SendJob("kept"));
    ASSERT_TRUE(test::SendLpdJob(port_, "BUSY", "Htester\nJbusy\n", "data\n"));
    std::string pid;  // of the print program
    ASSERT_TRUE(test::WaitUntil(
        [&] {
            for (const std::string& line : Log()) {
                if (line.rfind("1\tSpooler: Application launched (PID=", 0) == 0)
                    pid = line.substr(line.find('=') + 1, line.find(')') - line.find('=') - 1);
            }
            return !pid.empty();
        },
        20000));
    std::atomic<bool> dribbling{true};
    std::thread dribbler([&] {
        test::RawLpdClient client(port_);
        if (!client.Send("\x02HOLD\n") || client.Reply() != 0 || !client.Send("\002100 cfA001tester\n") ||
            client.Reply() != 0)
            return;
        while (dribbling && client.Send("H"))
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    service.Kill(SIGTERM);
    const int exitCode = service.WaitFor(10000);
    dribbling = false;
    dribbler.join();
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(Count("1\tLPD Server: 1 session(s) still receiving at the end of the stop's grace: cut"), 1);
    EXPECT_EQ(Count("1\tSpooler: the dispatch under way is cut by the stop"), 1);
    EXPECT_EQ(Count("1\tSpooler: Application (PID=" + pid + ") ended by the stop; the job stays Ready"), 1);
    const std::string state = ReadFile("/proc/" + pid + "/stat");
    EXPECT_TRUE(state.empty() || state.find(") Z") != std::string::npos) << state;
    const std::vector<SpoolFilePtr> jobs = ReadJobArchive(ReadFile(Base("spool.list"))).Jobs;
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[0]->JobName, u"kept");
    EXPECT_EQ(jobs[1]->JobName, u"busy");
    EXPECT_EQ(jobs[1]->State, STATE_READY);
}

}  // namespace
}  // namespace velmora
