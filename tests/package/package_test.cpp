// The Debian package as a user gets it: packed by CPack from this build folder and installed by dpkg into a
// throwaway root, its maintainer scripts run the way dpkg runs them for another root (outside a chroot,
// with DPKG_ROOT). Then the installed program's service role serves a job, the package is removed and
// purged, and lintian judges the package. The installed program runs in a PID namespace of its own: it
// counts the instances of itself on the machine, and other programs of its name may run here.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/ansi.h"
#include "spool/job_archive.h"
#include "support/lpd_test_util.h"
#include "support/lprng_test_util.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::WriteFile;

constexpr char PACKAGE[] = "velmora-virtual-printer";
constexpr char PROGRAM[] = "/opt/velmora/VelmoraVirtualPrinter";
constexpr char BASE[] = "/opt/velmora/VelmoraSpooler";
constexpr char DATABASE[] = "/var/lib/velmora/services";
constexpr char SERVICE_FOLDER[] = "/var/lib/velmora/services/Velmora_VirtualPrinter";
constexpr char UNIT[] = "/lib/systemd/system/Velmora_VirtualPrinter.service";
constexpr char UNIT_ADDITION[] = "/lib/systemd/system/Velmora_VirtualPrinter.service.d/lpadmin.conf";
constexpr char ENABLED_LINK[] = "/etc/systemd/system/multi-user.target.wants/Velmora_VirtualPrinter.service";

// Where a shell of root finds programs, whatever the test's own search path.
std::string SearchPath() {
    const char* path = std::getenv("PATH");
    return std::string(path && *path ? path : "/usr/bin:/bin") + ":/usr/local/sbin:/usr/sbin:/sbin";
}

std::string FindProgram(const std::string& name) {
    std::istringstream folders(SearchPath());
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0)
            return folder + "/" + name;
    }
    return {};
}

bool WaitUntil(const std::function<bool()>& condition, int milliseconds = 30000) {
    for (int waited = 0; waited < milliseconds; waited += 50) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

// A process that exists and has not ended (a process that ended but is not reaped yet counts as ended).
bool ProcessRuns(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    return end != std::string::npos && end + 2 < stat.size() && stat[end + 2] != 'Z' && stat[end + 2] != 'X';
}

// The "Name=Value" lines of a file as one value.
std::string Value(const std::string& content, const std::string& name) {
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(name + "=", 0) == 0)
            return line.substr(name.size() + 1);
    }
    return {};
}

struct FileInfo {
    bool Exists = false;
    mode_t Mode = 0;
    uid_t Owner = 0;
    gid_t Group = 0;
};

FileInfo Info(const std::string& path) {
    struct stat info;
    FileInfo result;
    if (lstat(path.c_str(), &info) != 0)
        return result;
    result.Exists = true;
    result.Mode = info.st_mode;
    result.Owner = info.st_uid;
    result.Group = info.st_gid;
    return result;
}

// The files of a folder, one after the other (the log files of a base folder).
std::string FolderText(const std::string& folder) {
    std::string text;
    if (std::filesystem::is_directory(folder)) {
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            text += ReadFile(entry.path().string());
    }
    return text;
}

class PackageTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0)
            GTEST_SKIP() << "installing into a throwaway root needs root (file owners, the capability)";
        for (const char* tool :
             {"dpkg", "dpkg-deb", "dpkg-shlibdeps", "setcap", "getcap", "setfacl", "unshare"}) {
            if (FindProgram(tool).empty())
                GTEST_SKIP() << tool << " is missing (scripts/setup.sh installs it)";
        }
        if (access(VELMORA_CPACK_COMMAND, X_OK) != 0)
            GTEST_SKIP() << "cpack is missing: " << VELMORA_CPACK_COMMAND;
        root_ = folder_.File("root");
        std::string output;
        ASSERT_EQ(Run(VELMORA_CPACK_COMMAND,
                      {"-G", "DEB", "--config", std::string(VELMORA_BUILD_DIR) + "/CPackConfig.cmake", "-B",
                       folder_.File("out")},
                      &output),
                  0)
            << output;
        for (const auto& entry : std::filesystem::directory_iterator(folder_.File("out"))) {
            if (entry.path().extension() == ".deb")
                deb_ = entry.path().string();
        }
        ASSERT_NE(deb_.find(std::string(PACKAGE) + "_"), std::string::npos) << output;
    }

    // Runs a program to its end; its exit code, with standard output and error in *output.
    int Run(const std::string& program, const std::vector<std::string>& arguments, std::string* output,
            std::vector<std::string> environment = {}) const {
        environment.push_back("PATH=" + SearchPath());
        ChildProcess::Options options;
        options.Environment = environment;
        options.CaptureErrors = true;
        const std::string found = program.find('/') == std::string::npos ? FindProgram(program) : program;
        return ChildProcess(found, arguments, options).RunToEnd(240000, output);
    }
    int Dpkg(const std::vector<std::string>& arguments, std::string* output) const {
        std::vector<std::string> all = {"--root=" + root_, "--force-script-chrootless"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Run("dpkg", all, output);
    }

    // A root with an empty package database and the system's own accounts only, and the package in it.
    void Install() {
        for (const char* folder : {"/var/lib/dpkg/info", "/var/lib/dpkg/updates", "/etc"})
            std::filesystem::create_directories(root_ + folder);
        WriteFile(root_ + "/var/lib/dpkg/status", "");
        WriteFile(root_ + "/etc/passwd", "root:x:0:0:root:/root:/bin/sh\n");
        WriteFile(root_ + "/etc/group", "root:x:0:\n");
        WriteFile(root_ + "/etc/gshadow", "root:*::\n");
        std::string output;
        // The root holds none of the libraries the package depends on; the host's serve the program.
        ASSERT_EQ(Dpkg({"--force-depends", "-i", deb_}, &output), 0) << output;
        group_ = GroupId("lpadmin");
        ASSERT_GT(group_, 0) << "the configuration made no group lpadmin:\n"
                             << ReadFile(root_ + "/etc/group");
    }

    gid_t GroupId(const std::string& name) const {
        std::istringstream lines(ReadFile(root_ + "/etc/group"));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind(name + ":", 0) == 0) {
                const std::size_t number = line.find(':', name.size() + 1) + 1;
                return static_cast<gid_t>(std::strtoul(line.c_str() + number, nullptr, 10));
            }
        }
        return 0;
    }

    std::string Root(const std::string& path) const { return root_ + path; }
    std::string Base(const std::string& name) const { return root_ + BASE + "/" + name; }
    std::string Status() const { return ReadFile(Root(SERVICE_FOLDER) + "/status"); }

    // The installed program started as systemd starts the unit: the service role in the foreground, with
    // the umask of the package's addition to the unit and the package's service registration; its base
    // folder is the one beside the program file. It serves the package's virtual printer PASS, which holds
    // its jobs.
    void StartService() {
        port_ = test::FreeLoopbackPort();
        WriteFile(Base("QLSconf.ini"), "[Settings]\r\nPortLPD=" + std::to_string(port_) + "\r\n");
        const std::string umaskValue = Value(ReadFile(Root(UNIT_ADDITION)), "UMask");
        ASSERT_FALSE(umaskValue.empty()) << "no UMask in " << UNIT_ADDITION;
        ChildProcess::Options options;
        options.Environment = {"VELMORA_LISTEN_LOOPBACK=1", "VELMORA_SERVICE_DATABASE=" + Root(DATABASE)};
        options.CaptureErrors = true;
        const mode_t previous = umask(static_cast<mode_t>(std::strtoul(umaskValue.c_str(), nullptr, 8)));
        service_ = std::make_unique<ChildProcess>(
            FindProgram("unshare"),
            std::vector<std::string>{"--pid", "--fork", "--mount-proc", "--kill-child", Root(PROGRAM),
                                     "-WINSERV"},
            options);
        umask(previous);
        const bool up = WaitUntil([this] {
            if (!ProcessRuns(service_->Pid()))
                return true;
            test::RawLpdClient client(port_);
            return client.Connected() && Value(Status(), "CurrentState") == "4";
        });
        if (!ProcessRuns(service_->Pid())) {
            const std::string output = service_->ReadAll();
            if (output.find("unshare: ") != std::string::npos)
                GTEST_SKIP() << "no PID namespace for the program: " << output;
            FAIL() << "the service role ended: " << output << "\nlog: " << LogText();
        }
        ASSERT_TRUE(up) << "the service role does not serve port " << port_ << "\nlog: " << LogText();
        const std::string children = ReadFile("/proc/" + std::to_string(service_->Pid()) + "/task/" +
                                              std::to_string(service_->Pid()) + "/children");
        programPid_ = static_cast<pid_t>(std::strtol(children.c_str(), nullptr, 10));
        ASSERT_GT(programPid_, 0);
    }

    std::string LogText() const { return FolderText(Base("Logs")); }

    // Sends one job with the LPD sender built beside the program.
    void SendJob(const std::string& content) {
        const std::string file = folder_.File("job.txt");
        WriteFile(file, content);
        std::string output;
        ASSERT_EQ(Run(VELMORA_LPR_PATH, {"-p", std::to_string(port_), "127.0.0.1", "PASS", file}, &output), 0)
            << output;
    }

    // The one job of spool.list, held, and the content of its spool file.
    void ExpectSavedJob(const std::string& content) const {
        const CJobArchiveContent saved = ReadJobArchive(ReadFile(Base("spool.list")));
        ASSERT_FALSE(saved.Damaged);
        ASSERT_EQ(saved.Jobs.size(), 1u);
        EXPECT_EQ(saved.Jobs[0]->State, STATE_HELD);
        const std::string spoolFile = platform::UnicodeToAnsi(saved.Jobs[0]->LocalFileName);
        EXPECT_EQ(spoolFile.rfind(Base("Spool/PASS/"), 0), 0u) << spoolFile;
        EXPECT_EQ(ReadFile(spoolFile), content);
    }

    test::TempFolder folder_;
    std::string root_;
    std::string deb_;
    gid_t group_ = 0;
    uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> service_;  // ends before the folders go
    pid_t programPid_ = 0;
};

TEST_F(PackageTest, InstallsItsFilesWithTheirPermissionsAndTheCapability) {
    std::string output;
    ASSERT_EQ(Run("dpkg-deb", {"--field", deb_, "Depends"}, &output), 0) << output;
    // The runtime libraries by their package names, and the tools of the configuration step.
    for (const char* dependency : {"libcups2", "zlib1g", "libstdc++6", "acl", "libcap2-bin", "passwd"})
        EXPECT_NE(output.find(dependency), std::string::npos) << dependency << " missing in: " << output;
#ifdef VELMORA_DESKTOP
    EXPECT_NE(output.find("libqt6widgets6"), std::string::npos) << output;
#endif

    Install();
    ASSERT_EQ(Dpkg({"--listfiles", PACKAGE}, &output), 0) << output;
    std::set<std::string> files;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line != "/." && !S_ISDIR(Info(Root(line)).Mode))
            files.insert(line);
    }
    std::set<std::string> expected = {
        PROGRAM,
        "/opt/velmora/velmora-lpr",
        "/opt/velmora/velmora-admin",
        "/usr/bin/VelmoraVirtualPrinter",
        UNIT,
        UNIT_ADDITION,
        "/usr/share/man/man8/VelmoraVirtualPrinter.8.gz",
        "/usr/share/man/man8/velmora-admin.8.gz",
        "/usr/share/doc/velmora-virtual-printer/copyright",
        "/usr/share/doc/velmora-virtual-printer/changelog.Debian.gz",
        "/usr/share/lintian/overrides/velmora-virtual-printer",
    };
#ifdef VELMORA_DESKTOP
    expected.insert("/usr/share/applications/velmora-virtual-printer.desktop");
    expected.insert("/usr/share/icons/hicolor/scalable/apps/velmora-virtual-printer.svg");
#endif
    EXPECT_EQ(files, expected);
    for (const std::string& file : files) {
        const FileInfo info = Info(Root(file));
        EXPECT_TRUE(info.Owner == 0 && info.Group == 0) << file;
        if (!S_ISLNK(info.Mode)) {
            EXPECT_EQ(info.Mode & 022, 0u) << file;
        }
    }
    EXPECT_EQ(Info(Root(PROGRAM)).Mode & 07777, 0755u);
    EXPECT_EQ(std::filesystem::read_symlink(Root("/usr/bin/VelmoraVirtualPrinter")).string(), PROGRAM);

    // The base folder beside the program: for root and lpadmin only, and what anyone creates in it stays
    // theirs to change, whatever the creator's umask.
    const FileInfo base = Info(Root(BASE));
    ASSERT_TRUE(S_ISDIR(base.Mode));
    EXPECT_EQ(base.Owner, 0u);
    EXPECT_EQ(base.Group, group_);
    EXPECT_EQ(base.Mode & 07777, 02770u);
    const mode_t previous = umask(022);
    WriteFile(Base("made-by-root"), "x");
    std::filesystem::create_directory(Base("folder-made-by-root"));
    umask(previous);
    for (const char* made : {"made-by-root", "folder-made-by-root"}) {
        const FileInfo info = Info(Base(made));
        EXPECT_EQ(info.Group, group_) << made;
        EXPECT_NE(info.Mode & S_IWGRP, 0u) << made;
        EXPECT_EQ(info.Mode & 07, 0u) << made;
    }
    EXPECT_NE(Info(Base("folder-made-by-root")).Mode & S_ISGID, 0u);

    // The service's folder: members of lpadmin reach the service's control socket and take the lock.
    for (const std::string folder : {"/var/lib/velmora", DATABASE, SERVICE_FOLDER}) {
        const FileInfo info = Info(Root(folder));
        EXPECT_EQ(info.Group, group_) << folder;
        EXPECT_EQ(info.Mode & 07777, 02775u) << folder;
    }
    const FileInfo lock = Info(Root(std::string(DATABASE) + "/.lock"));
    EXPECT_EQ(lock.Group, group_);
    EXPECT_EQ(lock.Mode & 0777, 0664u);

    ASSERT_EQ(Run("getcap", {Root(PROGRAM)}, &output), 0) << output;
    EXPECT_NE(output.find("cap_net_bind_service=ep"), std::string::npos) << output;

#ifdef VELMORA_DESKTOP
    // The menu entry starts the installed program and shows the installed icon.
    const std::string entry = ReadFile(Root("/usr/share/applications/velmora-virtual-printer.desktop"));
    EXPECT_EQ(Value(entry, "Exec"), PROGRAM);
    EXPECT_TRUE(Info(Root("/usr/share/icons/hicolor/scalable/apps/" + Value(entry, "Icon") + ".svg")).Exists);
#endif
}

TEST_F(PackageTest, ShipsTheUnitAndRegistrationThatTheProgramsOwnInstallationWrites) {
    Install();
    // Installed disabled.
    EXPECT_FALSE(Info(Root(ENABLED_LINK)).Exists);

    // The installed program installs its service itself into private folders; its unit and its registration
    // name the program file where the package put it.
    const std::string base = folder_.File("base");
    std::filesystem::create_directories(base);
    WriteFile(base + "/QLSconf.ini",
              "[Settings]\r\nPortLPD=" + std::to_string(test::FreeLoopbackPort()) + "\r\n");
    WriteFile(base + "/Printer.cfg", "HOLD;0; ; ;1; ; ; ; ; ; \r\n");
    const std::string units = folder_.File("units");
    const std::string database = folder_.File("services");
    std::string output;
    // The namespace ends with the installation run, and with it the service that it started.
    ASSERT_EQ(Run("unshare",
                  {"--pid", "--fork", "--mount-proc", "--kill-child", Root(PROGRAM), "-SILENT_INSTALLSERV"},
                  &output,
                  {"VELMORA_BASE_FOLDER=" + base, "VELMORA_SERVICE_DATABASE=" + database,
                   "VELMORA_SYSTEMD_UNIT_FOLDER=" + units, "VELMORA_LISTEN_LOOPBACK=1"}),
              0)
        << output;
    const auto asInstalled = [this](std::string text) {
        const std::size_t at = text.find(Root(PROGRAM));
        return at == std::string::npos ? text : text.replace(at, root_.size(), "");
    };
    const std::string written = ReadFile(units + "/Velmora_VirtualPrinter.service");
    ASSERT_FALSE(written.empty()) << FolderText(base + "/Logs") << output;
    EXPECT_EQ(ReadFile(Root(UNIT)), asInstalled(written));
    EXPECT_EQ(ReadFile(Root(SERVICE_FOLDER) + "/config"),
              asInstalled(ReadFile(database + "/Velmora_VirtualPrinter/config")));
}

TEST_F(PackageTest, InstalledServiceRoleServesAJobIntoItsBaseFolder) {
    Install();
    // The first installation's virtual printer, which holds its jobs; the group may change it.
    EXPECT_EQ(ReadFile(Base("Printer.cfg")), "PASS;0; ; ;1; ; ; ; ; ; \r\n");
    EXPECT_EQ(Info(Base("Printer.cfg")).Group, group_);
    std::string listed;
    EXPECT_EQ(Run(Root("/opt/velmora/velmora-admin"), {"printers", "--machine"}, &listed), 0);
    EXPECT_EQ(listed, "PASS\traw\t1\t\t\t\t\t\t\t\t\n");
    StartService();
    if (IsSkipped() || HasFatalFailure())
        return;
    EXPECT_EQ(Value(Status(), "Connected"), "1");
    // Members of lpadmin may connect to the control socket: the desktop program pauses the service by it.
    const FileInfo control = Info(Root(SERVICE_FOLDER) + "/control");
    EXPECT_TRUE(S_ISSOCK(control.Mode));
    EXPECT_EQ(control.Group, group_);
    EXPECT_NE(control.Mode & S_IWGRP, 0u);

    SendJob("first job\n");
    kill(programPid_, SIGTERM);
    ASSERT_EQ(service_->WaitFor(60000), 0);
    EXPECT_EQ(Value(Status(), "CurrentState"), "1");
    ExpectSavedJob("first job\n");
    EXPECT_NE(LogText().find("LPD Server is started"), std::string::npos);
    // The installed tool lists it, held on PASS.
    std::string jobs;
    EXPECT_EQ(Run(Root("/opt/velmora/velmora-admin"), {"jobs", "--machine"}, &jobs), 0);
    EXPECT_NE(jobs.find("\theld\tPASS\t"), std::string::npos) << jobs;

    // Everything the service made in the base folder is the group's to change and nobody else's to read.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root(BASE))) {
        const FileInfo info = Info(entry.path().string());
        EXPECT_EQ(info.Group, group_) << entry.path();
        EXPECT_NE(info.Mode & S_IWGRP, 0u) << entry.path();
        EXPECT_EQ(info.Mode & 07, 0u) << entry.path();
        if (S_ISDIR(info.Mode)) {
            EXPECT_NE(info.Mode & S_ISGID, 0u) << entry.path();
        }
    }

    // An upgrade leaves the virtual printers as they are, even none at all.
    for (const std::string printers : {"MINE;0; ; ;0; ; ; ; ; ; \r\n", ""}) {
        WriteFile(Base("Printer.cfg"), printers);
        std::string output;
        ASSERT_EQ(Dpkg({"--force-depends", "-i", deb_}, &output), 0) << output;
        EXPECT_EQ(ReadFile(Base("Printer.cfg")), printers);
    }
}

TEST_F(PackageTest, RemovalStopsAndDisablesTheServiceKeepsItsDataAndPurgeRemovesIt) {
    Install();
    StartService();
    if (IsSkipped() || HasFatalFailure())
        return;
    SendJob("kept job\n");
    // What "systemctl enable" makes.
    std::filesystem::create_directories(std::filesystem::path(Root(ENABLED_LINK)).parent_path());
    std::filesystem::create_symlink(UNIT, Root(ENABLED_LINK));

    std::string output;
    ASSERT_EQ(Dpkg({"--remove", PACKAGE}, &output), 0) << output;
    EXPECT_EQ(service_->WaitFor(10000), 0) << "the service still runs after the removal";
    EXPECT_FALSE(Info(Root(ENABLED_LINK)).Exists);
    EXPECT_FALSE(Info(Root(PROGRAM)).Exists);
    EXPECT_FALSE(Info(Root(UNIT)).Exists);
    // The job list, the spooled job and the log stay, and so does the service's registration.
    ExpectSavedJob("kept job\n");
    EXPECT_NE(LogText().find("LPD Server is stopped"), std::string::npos);
    EXPECT_TRUE(Info(Root(SERVICE_FOLDER) + "/config").Exists);

    ASSERT_EQ(Dpkg({"--purge", PACKAGE}, &output), 0) << output;
    EXPECT_FALSE(Info(Root(BASE)).Exists);
    EXPECT_FALSE(Info(Root("/var/lib/velmora")).Exists);
    EXPECT_FALSE(Info(Root("/opt/velmora")).Exists);
}

TEST_F(PackageTest, LintianReportsNoErrorOrWarning) {
    const std::string lintian = FindProgram("lintian");
    if (lintian.empty())
        GTEST_SKIP() << "lintian is missing (scripts/setup.sh installs it)";
    std::string output;
    EXPECT_EQ(Run(lintian, {"--fail-on", "error,warning", deb_}, &output), 0) << output;
}

}  // namespace
}  // namespace velmora
