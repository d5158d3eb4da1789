// The real program as users start it: the desktop program (Qt's offscreen platform, message boxes
// answered at once and echoed on standard error), the service role under a private service database,
// and the installation and removal runs. Listeners stay on 127.0.0.1.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "spool/job_archive.h"
#include "support/lpd_test_util.h"
#include "support/lprng_test_util.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::WriteFile;

const char16_t SERVICE_NAME[] = u"Velmora_VirtualPrinter";

bool Exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

void Sleep(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

class ProgramTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // The program allows one instance per machine: another one running here would refuse ours.
        for (const platform::ProcessId pid : platform::ListProcesses()) {
            if (platform::ProcessBaseName(pid) == u"VelmoraVirtualPrinter")
                GTEST_SKIP() << "VelmoraVirtualPrinter already runs on this machine (process " << pid << ")";
        }
        base_ = folder_.File("VelmoraSpooler");
        database_ = folder_.File("services");
        units_ = folder_.File("units");
        // The test's own service calls reach the same private database.
        setenv("VELMORA_SERVICE_DATABASE", database_.c_str(), 1);
        setenv("VELMORA_SYSTEMD_UNIT_FOLDER", units_.c_str(), 1);
        port_ = test::FreeLoopbackPort();
        mkdir(base_.c_str(), 0755);
        WriteFile(Base("QLSconf.ini"), "[Settings]\r\nPortLPD=" + std::to_string(port_) + "\r\n");
        // HOLD keeps its jobs, so that no dispatch is involved.
        WriteFile(Base("Printer.cfg"), "HOLD;0; ; ;1; ; ; ; ; ; \r\n");
    }
    void TearDown() override {
        if (base_.empty())
            return;  // skipped before anything started
        StopService();
        KillOurPrograms();
        unsetenv("VELMORA_SERVICE_DATABASE");
        unsetenv("VELMORA_SYSTEMD_UNIT_FOLDER");
    }

    std::string Base(const std::string& name) const { return base_ + "/" + name; }

    std::vector<std::string> Environment() const {
        return {"VELMORA_BASE_FOLDER=" + base_,
                "VELMORA_SERVICE_DATABASE=" + database_,
                "VELMORA_SYSTEMD_UNIT_FOLDER=" + units_,
                "VELMORA_LISTEN_LOOPBACK=1",
                "QT_QPA_PLATFORM=offscreen",
                "VELMORA_ANSWER_MESSAGE_BOXES=1"};
    }
    std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& arguments) const {
        ChildProcess::Options options;
        options.Environment = Environment();
        options.CaptureErrors = true;
        return std::make_unique<ChildProcess>(VELMORA_PROGRAM_PATH, arguments, options);
    }
    // Runs velmora-admin (through the program, such as setpriv, and its arguments before it) to its end; its
    // exit code, with what it wrote in *output.
    int Admin(const std::vector<std::string>& arguments, std::string* output = nullptr,
              std::vector<std::string> before = {}, const std::vector<std::string>& environment = {}) const {
        ChildProcess::Options options;
        options.Environment = Environment();
        options.Environment.insert(options.Environment.end(), environment.begin(), environment.end());
        options.CaptureErrors = true;
        before.push_back(VELMORA_ADMIN_PATH);
        before.insert(before.end(), arguments.begin(), arguments.end());
        const std::string program = before.front();
        std::string written;
        const int code =
            ChildProcess(program, std::vector<std::string>(before.begin() + 1, before.end()), options)
                .RunToEnd(60000, &written);
        if (output)
            *output = written;
        return code;
    }

    // Runs the program to its end; its exit code, with what it wrote in *output.
    int Run(const std::vector<std::string>& arguments, std::string* output = nullptr) const {
        std::string written;
        const int code = Start(arguments)->RunToEnd(60000, &written);
        if (output)
            *output = written;
        return code;
    }

    // Every log line of the run so far (today's log file), without time stamps.
    std::vector<std::string> Log() const {
        std::vector<std::string> lines;
        DIR* folder = opendir(Base("Logs").c_str());
        if (!folder)
            return lines;
        while (const dirent* entry = readdir(folder)) {
            const std::string name = entry->d_name;
            if (name == "." || name == ".." || name.rfind("Saved_", 0) == 0)
                continue;
            for (std::string& line : test::LogFileMessages(Base("Logs/" + name)))
                lines.push_back(std::move(line));
        }
        closedir(folder);
        return lines;
    }
    long Count(const std::string& message) const {
        const std::vector<std::string> lines = Log();
        return std::count(lines.begin(), lines.end(), message);
    }
    bool WaitForCount(const std::string& message, long count, int milliseconds = 30000) const {
        for (int waited = 0; waited < milliseconds; waited += 50) {
            if (Count(message) >= count)
                return true;
            Sleep(50);
        }
        return false;
    }

    // The job names of spool.list, in order.
    std::string SavedJobs() const {
        std::string names;
        for (const SpoolFilePtr& job : ReadJobArchive(ReadFile(Base("spool.list"))).Jobs)
            names += platform::UnicodeToAnsi(job->JobName) + " ";
        return names;
    }

    bool Accepts() const {
        test::RawLpdClient client(port_);
        return client.Connected();
    }
    bool SendJob(const std::string& name) const {
        return test::SendLpdJob(port_, "HOLD", "Htester\nPtester\nJ" + name + "\nldfA001tester\n",
                                name + "\n");
    }

    // The service as the test sees it through the private database.
    uint32_t ServiceState() const {
        platform::ScHandle manager = platform::OpenSCManager(platform::SC_MANAGER_ALL_ACCESS);
        platform::ScHandle service =
            platform::OpenService(manager, SERVICE_NAME, platform::SERVICE_ALL_ACCESS);
        platform::CServiceStatus status;
        const bool known = service && platform::QueryServiceStatus(service, &status);
        platform::CloseServiceHandle(service);
        platform::CloseServiceHandle(manager);
        return known ? status.CurrentState : 0;
    }
    bool Control(uint32_t control) const {
        platform::ScHandle manager = platform::OpenSCManager(platform::SC_MANAGER_ALL_ACCESS);
        platform::ScHandle service =
            platform::OpenService(manager, SERVICE_NAME, platform::SERVICE_ALL_ACCESS);
        platform::CServiceStatus status;
        const bool sent = service && platform::ControlService(service, control, &status);
        platform::CloseServiceHandle(service);
        platform::CloseServiceHandle(manager);
        return sent;
    }
    bool WaitForServiceState(uint32_t state, int milliseconds = 30000) const {
        for (int waited = 0; waited < milliseconds && ServiceState() != state; waited += 50)
            Sleep(50);
        return ServiceState() == state;
    }
    void StopService() const {
        if (ServiceState() == platform::SERVICE_RUNNING || ServiceState() == platform::SERVICE_PAUSED) {
            Control(platform::SERVICE_CONTROL_STOP);
            WaitForServiceState(platform::SERVICE_STOPPED);
        }
    }
    // Whatever is left of this test's programs (the service runs detached) is killed by process id.
    void KillOurPrograms() const {
        for (const platform::ProcessId pid : platform::ListProcesses()) {
            if (platform::ProcessBaseName(pid) != u"VelmoraVirtualPrinter")
                continue;
            const std::string environment = ReadFile("/proc/" + std::to_string(pid) + "/environ");
            if (environment.find("VELMORA_BASE_FOLDER=" + base_ + '\0') != std::string::npos)
                kill(static_cast<pid_t>(pid), SIGKILL);
        }
    }

    test::TempFolder folder_;
    std::string base_;
    std::string database_;
    std::string units_;
    uint16_t port_ = 0;
};

TEST_F(ProgramTest, WorkingFoldersAreMadeAndExistingListsKept) {
    for (const char* name : {"QLSconf.ini", "Printer.cfg"})
        unlink(Base(name).c_str());
    ASSERT_EQ(rmdir(base_.c_str()), 0);
    std::string output;
    ASSERT_EQ(Run({"-SILENT_DELSERV"}, &output), 0) << output;
    EXPECT_TRUE(Exists(Base("Spool")));
    EXPECT_EQ(ReadFile(Base("Printer.cfg")), "");
    EXPECT_EQ(ReadJobArchive(ReadFile(Base("spool.list"))).Jobs.size(), 0u);
    EXPECT_EQ(Count("Service uninstalled successfully."), 1);

    // An existing printer list stays as it is; a missing job list is made empty beside it.
    WriteFile(Base("Printer.cfg"), "HOLD;0; ; ;1; ; ; ; ; ; \r\n");
    unlink(Base("spool.list").c_str());
    ASSERT_EQ(Run({"-SILENT_DELSERV"}, &output), 0) << output;
    EXPECT_EQ(ReadFile(Base("Printer.cfg")), "HOLD;0; ; ;1; ; ; ; ; ; \r\n");
    EXPECT_TRUE(Exists(Base("spool.list")));

    // A base folder that cannot be made: the desktop program says so and ends.
    WriteFile(folder_.File("plain-file"), "");
    base_ = folder_.File("plain-file/VelmoraSpooler");
    Run({}, &output);
    EXPECT_NE(output.find("VelmoraVirtualPrinter: Unable to create folder " + base_ + "/"), std::string::npos)
        << output;
}

TEST_F(ProgramTest, DesktopProgramServesSavesItsListAndSettingsAndAllowsOneInstance) {
    const std::string settings = ReadFile(Base("QLSconf.ini"));
    std::unique_ptr<ChildProcess> desktop = Start({"-platform", "offscreen"});
    ASSERT_TRUE(WaitForCount("0\tLPD Server is started", 1)) << desktop->ReadAll();
    ASSERT_TRUE(SendJob("first"));

    // A second desktop program refuses to run beside the first.
    std::string output;
    Run({}, &output);
    EXPECT_NE(
        output.find("VelmoraVirtualPrinter: VelmoraVirtualPrinter is already running on this computer."),
        std::string::npos)
        << output;
    EXPECT_TRUE(Accepts());

    // Ending the program (as a session's end does) stops the server and saves the list and the settings.
    desktop->Kill(SIGTERM);
    EXPECT_EQ(desktop->WaitFor(30000), 0);
    EXPECT_FALSE(Accepts());
    EXPECT_EQ(SavedJobs(), "first ");
    const std::string saved = ReadFile(Base("QLSconf.ini"));
    EXPECT_NE(saved, settings);
    EXPECT_NE(saved.find("PortLPD=" + std::to_string(port_) + "\r\n"), std::string::npos) << saved;
    EXPECT_NE(saved.find("AutoStart="), std::string::npos) << saved;

    // The service role run by hand (in the foreground) serves too, and never writes the settings.
    WriteFile(Base("QLSconf.ini"), settings);
    std::unique_ptr<ChildProcess> service = Start({"-WINSERV"});
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    ASSERT_TRUE(SendJob("second"));
    service->Kill(SIGTERM);
    EXPECT_EQ(service->WaitFor(30000), 0);
    EXPECT_EQ(ReadFile(Base("QLSconf.ini")), settings);
    EXPECT_EQ(SavedJobs(), "first second ");
    EXPECT_EQ(Count("1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_STOP' received"), 1);
}

// velmora-admin on the files of a base folder that no server holds: every route kind, the dialogs'
// checks, the settings, the machine-readable list read back, and the messages in the Lang language.
TEST_F(ProgramTest, AdminToolKeepsThePrintersAndSettingsWithTheDialogsChecks) {
    ASSERT_EQ(Admin({"add-printer", "RAW", "--local-printer=Office Laser", "--input-bin=2"}), 0);
    ASSERT_EQ(Admin({"add-printer", "LABELS", "--route=program", "--program=\"/bin/cp\" %1 \"/tmp/\"",
                     "--program-printer=Zebra"}),
              0);
    ASSERT_EQ(Admin({"add-printer", "FWD", "--route=lpd", "--host=10.0.0.9", "--queue=raw", "--hold=1"}), 0);
    ASSERT_EQ(Admin({"change-printer", "FWD", "--name=FORWARD", "--queue=main"}), 0);

    // One printer a line, every field in the order --help names them, read back from the file.
    std::string output;
    ASSERT_EQ(Admin({"printers", "--machine"}, &output), 0);
    EXPECT_EQ(output,
              "HOLD\traw\t1\t\t\t\t\t\t\t\t\n"
              "RAW\traw\t0\tOffice Laser\t\"/usr/bin/lp\" -d %2 %1\t\t192.168.1.250\tPASS\t2\t\t\n"
              "LABELS\tprogram\t0\t\t\"/bin/cp\" %1 \"/tmp/\"\tZebra\t192.168.1.250\tPASS\t\t\t\n"
              "FORWARD\tlpd\t1\t\t\"/usr/bin/lp\" -d %2 %1\t\t10.0.0.9\tmain\t\t\t\n");
    ASSERT_EQ(Admin({"printers"}, &output), 0);
    EXPECT_NE(output.find("LABELS   program  no    \"/bin/cp\" %1 \"/tmp/\"  printer Zebra\n"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("FORWARD  lpd      yes   10.0.0.9, queue main\n"), std::string::npos) << output;

    const std::string printers = ReadFile(Base("Printer.cfg"));
    const struct {
        std::vector<std::string> Arguments;
        int Code;
        const char* Message;
    } refused[] = {
        {{"add-printer", "RAW"}, 1, "The printer already exists."},
        {{"add-printer", ""}, 1, "The printer name cannot be blank."},
        {{"add-printer", "A;B"}, 1, "name cannot hold \";\", CR or LF."},
        {{"change-printer", "NOPE", "--hold=1"}, 1, "No virtual printer is named NOPE."},
        {{"change-printer", "RAW", "--name=LABELS"}, 1, "The printer already exists."},
        {{"change-printer", "RAW", "--queue=a;b"}, 1, "queue cannot hold \";\", CR or LF."},
        {{"change-printer", "RAW", "--route=fax"}, 1, "fax is not a valid value for route."},
        {{"change-printer", "RAW", "--hold=2"}, 1, "2 is not a valid value for hold."},
        {{"change-printer", "RAW", "--colour=red"},
         2,
         "Unknown option: --colour=red\nTry 'velmora-admin --help'."},
        {{"change-printer", "RAW"}, 2, "An argument is missing."},
        {{"remove-printer", "NOPE"}, 1, "No virtual printer is named NOPE."},
        {{"frob"}, 2, "Unknown command: frob"},
        {{"set", "PortLPD=0"}, 1, "0 is not a valid value for PortLPD."},
        {{"set", "LogLevel=1", "PortLPD=12x"}, 1, "12x is not a valid value for PortLPD."},
        {{"set", "AllowedClients=10.0.0.0/8, printhost"}, 1, "10.0.0.0/8, printhost is not a valid value"},
        {{"set", "Colour=1"}, 1, "Unknown setting: Colour"},
        {{"set", "LogLevel"}, 2, "Unknown option: LogLevel"},
    };
    const std::string settings = ReadFile(Base("QLSconf.ini"));
    for (const auto& c : refused) {
        SCOPED_TRACE(c.Arguments.back());
        EXPECT_EQ(Admin(c.Arguments, &output), c.Code);
        EXPECT_NE(output.find(c.Message), std::string::npos) << output;
    }
    EXPECT_EQ(ReadFile(Base("Printer.cfg")), printers);
    EXPECT_EQ(ReadFile(Base("QLSconf.ini")), settings);

    ASSERT_EQ(Admin({"remove-printer", "LABELS"}), 0);
    ASSERT_EQ(Admin({"printers", "--machine"}, &output), 0);
    EXPECT_EQ(output.find("LABELS"), std::string::npos);
    ASSERT_EQ(Admin({"set", "portlpd=9100", "LogLevel=2", "AllowedClients=10.0.0.0/8 127.0.0.1"}), 0);
    ASSERT_EQ(Admin({"settings"}, &output), 0);
    for (const char* line : {"\nDeleteSpool=0\n", "\nPortLPD=9100\n", "\nLogLevel=2\n",
                             "\nAllowedClients=10.0.0.0/8 127.0.0.1\n"})
        EXPECT_NE(output.find(line), std::string::npos) << line << output;
    EXPECT_NE(ReadFile(Base("QLSconf.ini")).find("PortLPD=9100\r\n"), std::string::npos);

    // In the language of Lang.
    const std::string registry = folder_.File("registry");
    WriteFile(registry, "Lang=FR\n");
    EXPECT_EQ(Admin({"add-printer", "RAW"}, &output, {}, {"VELMORA_REGISTRY=" + registry}), 1);
    EXPECT_EQ(output, "Cette imprimante existe déjà.\n");
    EXPECT_EQ(Admin({"--help"}, &output, {}, {"VELMORA_REGISTRY=" + registry}), 0);
    EXPECT_EQ(output.rfind("Usage : velmora-admin COMMANDE", 0), 0u) << output;
}

// Only root and the group's members. A running server takes the commands through its channel and serves
// what changed at once; a paused one holds nothing, and reads the files anew when it continues.
TEST_F(ProgramTest, AdminToolChangesARunningServerThroughItsChannel) {
    std::string output;
    if (access("/usr/bin/setpriv", X_OK) == 0 && geteuid() == 0) {
        EXPECT_EQ(Admin({"printers"}, &output,
                        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"}),
                  3);
        EXPECT_EQ(output, "Only root and members of the group lpadmin may administer the server.\n");
    }
    const auto sendJob = [this](const std::string& queue) {
        return test::SendLpdJob(port_, queue, "Htester\nPtester\nJjob\nldfA001tester\n", "job\n");
    };

    ASSERT_EQ(Run({"-SILENT_INSTALLSERV"}, &output), 0) << output;
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    EXPECT_FALSE(sendJob("NEW"));
    ASSERT_EQ(Admin({"add-printer", "NEW", "--hold=1"}, &output), 0) << output;
    EXPECT_TRUE(sendJob("NEW"));
    EXPECT_EQ(Count("1\tAdministration: add-printer NEW --hold=1 (exit status 0)"), 1);
    EXPECT_NE(ReadFile(Base("Printer.cfg")).find("\r\nNEW;"), std::string::npos);
    EXPECT_EQ(Admin({"add-printer", "NEW"}, &output), 1);
    EXPECT_EQ(output, "The printer already exists.\n");
    ASSERT_EQ(Admin({"set", "KillProcessIfNeed=1"}, &output), 0) << output;
    ASSERT_EQ(Admin({"settings"}, &output), 0);
    EXPECT_NE(output.find("\nKillProcessIfNeed=1\n"), std::string::npos) << output;
    EXPECT_NE(ReadFile(Base("QLSconf.ini")).find("\r\nKillProcessIfNeed=1\r\n"), std::string::npos);

    // The held job, listed and changed by the server: released, it is dispatched (its raw route names no
    // printer, so it ends in Error); the commands keep the main window's rules.
    const auto jobFields = [this] {
        std::string listed;
        Admin({"jobs", "--machine"}, &listed);
        std::vector<std::string> fields;
        if (listed.empty())
            return fields;
        // Each field ends at a tab, the last one too.
        std::istringstream line(listed.substr(0, listed.find('\n')) + "\t");
        for (std::string field; std::getline(line, field, '\t');)
            fields.push_back(field);
        return fields;
    };
    std::vector<std::string> job = jobFields();
    ASSERT_EQ(job.size(), 8u);
    EXPECT_EQ(job[1], "held");
    EXPECT_EQ(job[2], "NEW");
    EXPECT_EQ(job[4], "tester");
    const std::string name = job[0];
    EXPECT_EQ(Admin({"hold", name}, &output), 1);
    EXPECT_EQ(output, "Job " + name + " cannot take this command in the state Held.\n");
    ASSERT_EQ(Admin({"release", name}, &output), 0) << output;
    for (int waited = 0; waited < 10000 && jobFields().at(1) != "error"; waited += 100)
        Sleep(100);
    job = jobFields();
    EXPECT_EQ(job[1], "error");
    EXPECT_FALSE(job[7].empty());
    EXPECT_EQ(Admin({"transfer", name, "NOPE"}, &output), 1);
    EXPECT_EQ(output, "No virtual printer is named NOPE.\n");
    ASSERT_EQ(Admin({"transfer", name, "HOLD"}, &output), 0) << output;
    EXPECT_EQ(jobFields().at(2), "HOLD");
    EXPECT_EQ(Admin({"delete", "20000101000000_1"}, &output), 1);
    EXPECT_EQ(output, "No job is named 20000101000000_1.\n");

    // Paused, the service holds nothing: the files are changed directly, and read when it continues.
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_PAUSE));
    ASSERT_TRUE(WaitForServiceState(platform::SERVICE_PAUSED));
    ASSERT_EQ(Admin({"add-printer", "LATER", "--hold=1"}, &output), 0) << output;
    ASSERT_EQ(Admin({"delete", name}, &output), 0) << output;
    EXPECT_EQ(Count("1\tAdministration: add-printer LATER --hold=1 (exit status 0)"), 0);
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_CONTINUE));
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 2));
    EXPECT_TRUE(jobFields().empty());
    EXPECT_TRUE(sendJob("LATER"));
    EXPECT_EQ(jobFields().at(2), "LATER");
}

TEST_F(ProgramTest, InstallationAndRemovalRunsReportTheirOutcome) {
    std::string output;
    // Nothing installed: removal succeeds at once.
    ASSERT_EQ(Run({"-DELSERV"}, &output), 0);
    EXPECT_NE(output.find("VelmoraVirtualPrinter: Service uninstalled successfully."), std::string::npos)
        << output;

    ASSERT_EQ(Run({"-SILENT_INSTALLSERV"}, &output), 0) << output;
    EXPECT_EQ(Count("Service successfully installed and started."), 1);
    EXPECT_EQ(ServiceState(), platform::SERVICE_RUNNING);
    EXPECT_TRUE(Exists(units_ + "/Velmora_VirtualPrinter.service"));
    EXPECT_NE(ReadFile(Base("QLSconf.ini")).find("StartAsService=0"), std::string::npos);
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));

    // Installed and running: reported as success without a second start.
    ASSERT_EQ(Run({"/INSTALLSERV"}, &output), 0);
    EXPECT_NE(output.find("VelmoraVirtualPrinter: Service successfully installed and started."),
              std::string::npos)
        << output;
    EXPECT_EQ(Count("1\tQLS - ServiceMain: service has to be started"), 1);

    // A running service is never removed.
    ASSERT_EQ(Run({"-SILENT_DELSERV"}, &output), 0);
    EXPECT_EQ(Count("ERROR: The service is running."), 1);
    EXPECT_EQ(Count("Uninstall service failed."), 1);
    EXPECT_EQ(ServiceState(), platform::SERVICE_RUNNING);

    // Stopped, it is removed, and its unit with it.
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(platform::SERVICE_STOPPED));
    ASSERT_EQ(Run({"-SILENT_DELSERV"}, &output), 0);
    EXPECT_EQ(Count("Service uninstalled successfully."), 1);
    EXPECT_EQ(ServiceState(), 0u);
    EXPECT_FALSE(Exists(units_ + "/Velmora_VirtualPrinter.service"));
}

TEST_F(ProgramTest, ServiceLifeWithADesktopProgramBorrowingItsPort) {
    // A client list with a typing slip: the slip is logged once per start, the rest holds.
    const std::string settings = "[Settings]\r\nPortLPD=" + std::to_string(port_) + "\r\n";
    WriteFile(Base("QLSconf.ini"), settings + "AllowedClients=127.0.0.0/8, bogus\r\n");
    std::string output;
    ASSERT_EQ(Run({"-SILENT_INSTALLSERV"}, &output), 0) << output;
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    ASSERT_TRUE(SendJob("by-service"));

    // Codes of the service's own range and interrogation.
    ASSERT_TRUE(Control(128));
    EXPECT_TRUE(WaitForCount("1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL 128' received", 1));
    const std::size_t linesBefore = Log().size();
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_INTERROGATE));
    EXPECT_EQ(Log().size(), linesBefore);

    // A desktop program pauses the service, takes the port, and gives it back at its end.
    std::unique_ptr<ChildProcess> desktop = Start({});
    ASSERT_TRUE(WaitForCount("0\tLPD Server is started", 1)) << desktop->ReadAll();
    EXPECT_EQ(ServiceState(), platform::SERVICE_PAUSED);
    EXPECT_EQ(Count("1\tQLS - ServiceMain: service has to be paused"), 1);
    EXPECT_TRUE(Exists(Base("QLSsynch1")));
    EXPECT_FALSE(Exists(Base("QLSsynch0")));
    ASSERT_EQ(SavedJobs(), "by-service ");
    ASSERT_TRUE(SendJob("by-desktop"));
    desktop->Kill(SIGTERM);
    EXPECT_EQ(desktop->WaitFor(30000), 0);
    // The desktop program's save kept the list as written.
    EXPECT_NE(ReadFile(Base("QLSconf.ini")).find("\r\nAllowedClients=127.0.0.0/8, bogus\r\n"),
              std::string::npos);

    // Continued, the service reads the lists anew: the desktop program's job is in its list.
    ASSERT_TRUE(WaitForServiceState(platform::SERVICE_RUNNING));
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 2));
    EXPECT_EQ(Count("1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_CONTINUE' received"), 1);
    EXPECT_FALSE(Exists(Base("QLSsynch1")));
    ASSERT_TRUE(SendJob("after-continue"));
    EXPECT_EQ(Count("1\tLPD Server: AllowedClients entry not understood, ignored: bogus"), 2);
    EXPECT_EQ(Count("0\tLPD Server: AllowedClients entry not understood, ignored: bogus"), 1);

    // A continue reads the list again: one that names only another address refuses this client.
    WriteFile(Base("QLSconf.ini"), settings + "AllowedClients=127.0.0.2\r\n");
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_PAUSE));
    ASSERT_TRUE(WaitForServiceState(platform::SERVICE_PAUSED));
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_CONTINUE));
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 3));
    EXPECT_FALSE(SendJob("refused"));
    EXPECT_TRUE(
        WaitForCount("1\tLPD Server: Refused 1 connection(s) from 127.0.0.1: not in AllowedClients", 1));

    // Paused by hand and then stopped: the stop writes nothing and leaves no marker.
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_PAUSE));
    ASSERT_TRUE(WaitForServiceState(platform::SERVICE_PAUSED));
    EXPECT_EQ(SavedJobs(), "by-service by-desktop after-continue ");
    EXPECT_FALSE(Accepts());
    struct stat before;
    ASSERT_EQ(stat(Base("spool.list").c_str(), &before), 0);
    Sleep(20);
    ASSERT_TRUE(Control(platform::SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(platform::SERVICE_STOPPED));
    struct stat after;
    ASSERT_EQ(stat(Base("spool.list").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    for (const char* marker : {"QLSsynch0", "QLSsynch1", "QLSsynch2"})
        EXPECT_FALSE(Exists(Base(marker))) << marker;
    EXPECT_EQ(Count("1\tQLS - ServiceMain: service has to be stopped"), 1);
}

// Killed at random moments while four clients send jobs: after every restart each acknowledged job is in
// the list with its bytes, and every spool file belongs to a job.
TEST_F(ProgramTest, AKilledServerKeepsEveryAcknowledgedJob) {
    std::mt19937 random(std::random_device{}());
    std::vector<std::string> acknowledged;
    std::mutex acknowledgedLock;
    for (int trial = 0; trial < 6; ++trial) {
        std::unique_ptr<ChildProcess> service = Start({"-WINSERV"});
        ASSERT_TRUE(WaitForCount("1\tLPD Server is started", trial + 1));
        std::atomic<bool> sending{true};
        std::vector<std::thread> clients;
        for (int client = 0; client < 4; ++client) {
            clients.emplace_back([&, client] {
                for (int n = 0; sending; ++n) {
                    const std::string name = "t" + std::to_string(trial) + "-c" + std::to_string(client) +
                                             "-n" + std::to_string(n);
                    const std::string data = name + std::string(2000, 'x') + "\n";
                    if (!test::SendLpdJob(port_, "HOLD", "Htester\nPtester\nJ" + name + "\n", data))
                        continue;
                    std::lock_guard<std::mutex> lock(acknowledgedLock);
                    acknowledged.push_back(data);
                }
            });
        }
        Sleep(std::uniform_int_distribution<int>(100, 800)(random));
        service->Kill(SIGKILL);
        service->WaitFor(30000);
        sending = false;
        for (std::thread& client : clients)
            client.join();
    }
    // The last restart's recovery, then its saved list.
    std::unique_ptr<ChildProcess> service = Start({"-WINSERV"});
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 7));
    service->Kill(SIGTERM);
    ASSERT_EQ(service->WaitFor(30000), 0);

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
    for (const platform::CFolderEntry& file :
         platform::ListFolder(platform::AnsiToUnicode(Base("Spool/HOLD"))))
        EXPECT_EQ(named.count(platform::UnicodeToAnsi(file.Name)), 1u) << platform::UnicodeToAnsi(file.Name);
}

// A stop while a client dribbles a control file and a print program never settles: both are cut after the
// grace, the process ends, the acknowledged job is kept and the job under way stays Ready.
TEST_F(ProgramTest, AStopCutsADribblingClientAndADispatchThatNeverEnds) {
    const std::string busy = Base("busy.sh");
    WriteFile(busy, "#!/bin/sh\nwhile :; do :; done\n");
    chmod(busy.c_str(), 0755);
    WriteFile(Base("Printer.cfg"), "HOLD;0; ; ;1; ; ; ; ; ; \r\nBUSY;1;" + busy + " %1; ;0; ; ; ; ; ; \r\n");
    WriteFile(Base("QLSconf.ini"), "[Settings]\r\nPortLPD=" + std::to_string(port_) + "\r\nLogLevel=2\r\n");
    std::unique_ptr<ChildProcess> service = Start({"-WINSERV"});
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    ASSERT_TRUE(SendJob("kept"));
    ASSERT_TRUE(test::SendLpdJob(port_, "BUSY", "Htester\nJbusy\n", "data\n"));
    std::string launched;
    for (int waited = 0; waited < 20000 && launched.empty(); waited += 50) {
        for (const std::string& line : Log()) {
            if (line.rfind("1\tSpooler: Application launched (PID=", 0) == 0)
                launched = line;
        }
        Sleep(50);
    }
    ASSERT_FALSE(launched.empty());
    const std::string pid =
        launched.substr(launched.find('=') + 1, launched.find(')') - launched.find('=') - 1);

    std::atomic<bool> dribbling{true};
    std::thread dribbler([&] {
        test::RawLpdClient client(port_);
        if (!client.Send("\x02HOLD\n") || client.Reply() != 0 ||
            !client.Send("\x02"
                         "100 cfA001tester\n") ||
            client.Reply() != 0) {
            return;
        }
        while (dribbling && client.Send("H"))
            Sleep(500);
    });
    Sleep(1000);
    service->Kill(SIGTERM);
    const int exitCode = service->WaitFor(10000);
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

TEST_F(ProgramTest, ASecondDesktopProgramDoesNotResumeTheService) {
    std::string output;
    ASSERT_EQ(Run({"-SILENT_INSTALLSERV"}, &output), 0) << output;
    ASSERT_TRUE(WaitForCount("1\tLPD Server is started", 1));
    std::unique_ptr<ChildProcess> desktop = Start({});
    ASSERT_TRUE(WaitForCount("0\tLPD Server is started", 1)) << desktop->ReadAll();
    ASSERT_EQ(ServiceState(), platform::SERVICE_PAUSED);

    Run({}, &output);
    EXPECT_NE(output.find("is already running on this computer."), std::string::npos) << output;
    Sleep(1500);
    EXPECT_EQ(ServiceState(), platform::SERVICE_PAUSED);
    EXPECT_EQ(Count("1\tQLS - ServiceControlHandler: 'SERVICE_CONTROL_CONTINUE' received"), 0);

    desktop->Kill(SIGTERM);
    EXPECT_EQ(desktop->WaitFor(30000), 0);
    EXPECT_TRUE(WaitForServiceState(platform::SERVICE_RUNNING));
}

}  // namespace
}  // namespace velmora
