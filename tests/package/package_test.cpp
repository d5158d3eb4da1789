// The Debian package packed by CPack and installed by dpkg into a throwaway root (scripts run chrootless).
// The installed program runs in a PID namespace of its own: it counts the instances of itself.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ansi.h"
#include "spool/job_archive.h"
#include "support/lpd_test_util.h"
#include "support/service_test_util.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::WriteFile;

constexpr char PACKAGE[] = "velmora-virtual-printer";
constexpr char PROGRAM[] = "/opt/velmora/VelmoraVirtualPrinter";
constexpr char ADMIN[] = "/opt/velmora/velmora-admin";
constexpr char BASE[] = "/opt/velmora/VelmoraSpooler";
constexpr char DATABASE[] = "/var/lib/velmora/services";
constexpr char SERVICE_FOLDER[] = "/var/lib/velmora/services/Velmora_VirtualPrinter";
constexpr char UNIT[] = "/lib/systemd/system/Velmora_VirtualPrinter.service";
constexpr char UNIT_ADDITION[] = "/lib/systemd/system/Velmora_VirtualPrinter.service.d/lpadmin.conf";
constexpr char ENABLED_LINK[] = "/etc/systemd/system/multi-user.target.wants/Velmora_VirtualPrinter.service";

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

std::string Value(const std::string& content, const std::string& name) {
    std::istringstream lines(content);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(name + "=", 0) == 0)
            return line.substr(name.size() + 1);
    }
    return {};
}

struct stat Info(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info;
}

bool Exists(const std::string& path) {
    return Info(path).st_mode != 0;
}

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

    int Run(const std::string& program, const std::vector<std::string>& arguments, std::string* output,
            std::vector<std::string> environment = {}) const {
        environment.push_back("PATH=" + SearchPath());
        const std::string found = program.find('/') == std::string::npos ? FindProgram(program) : program;
        return ChildProcess(found, arguments, ChildProcess::Options{environment, {}, true})
            .RunToEnd(240000, output);
    }
    int Dpkg(const std::vector<std::string>& arguments) const {
        std::vector<std::string> all = {"--root=" + root_, "--force-script-chrootless"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        std::string output;
        const int code = Run("dpkg", all, &output);
        EXPECT_EQ(code, 0) << output;
        return code;
    }

    // A root with an empty package database and root's accounts only; the host's libraries serve.
    void Install() {
        for (const char* folder : {"/var/lib/dpkg/info", "/var/lib/dpkg/updates", "/etc"})
            std::filesystem::create_directories(root_ + folder);
        WriteFile(root_ + "/var/lib/dpkg/status", "");
        WriteFile(root_ + "/etc/passwd", "root:x:0:0:root:/root:/bin/sh\n");
        WriteFile(root_ + "/etc/group", "root:x:0:\n");
        WriteFile(root_ + "/etc/gshadow", "root:*::\n");
        ASSERT_EQ(Dpkg({"--force-depends", "-i", deb_}), 0);
        std::istringstream lines(ReadFile(root_ + "/etc/group"));
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("lpadmin:", 0) == 0)
                group_ = static_cast<gid_t>(std::strtoul(line.c_str() + line.find(':', 8) + 1, nullptr, 10));
        }
        ASSERT_GT(group_, 0) << "the configuration made no group lpadmin:\n"
                             << ReadFile(root_ + "/etc/group");
    }

    std::string Root(const std::string& path) const { return root_ + path; }
    std::string Base(const std::string& name) const { return root_ + BASE + "/" + name; }
    std::string Status() const { return ReadFile(Root(SERVICE_FOLDER) + "/status"); }
    std::string LogText() const { return FolderText(Base("Logs")); }

    // The group's to change, nobody else's to read; a folder passes its group on.
    void ExpectGroupOnly(const std::string& path) const {
        const struct stat info = Info(path);
        EXPECT_EQ(info.st_gid, group_) << path;
        EXPECT_NE(info.st_mode & S_IWGRP, 0u) << path;
        EXPECT_EQ(info.st_mode & 07, 0u) << path;
        if (S_ISDIR(info.st_mode)) {
            EXPECT_NE(info.st_mode & S_ISGID, 0u) << path;
        }
    }

    // The installed service role as systemd starts it (the unit addition's umask), then a job to PASS.
    void StartServiceAndSendJob(const std::string& content) {
        port_ = test::FreeLoopbackPort();
        WriteFile(Base("QLSconf.ini"), "[Settings]\r\nPortLPD=" + std::to_string(port_) + "\r\n");
        const std::string umaskValue = Value(ReadFile(Root(UNIT_ADDITION)), "UMask");
        ASSERT_FALSE(umaskValue.empty()) << "no UMask in " << UNIT_ADDITION;
        const mode_t previous = umask(static_cast<mode_t>(std::strtoul(umaskValue.c_str(), nullptr, 8)));
        service_ = std::make_unique<ChildProcess>(
            FindProgram("unshare"),
            std::vector<std::string>{"--pid", "--fork", "--mount-proc", "--kill-child", Root(PROGRAM),
                                     "-WINSERV"},
            ChildProcess::Options{
                {"VELMORA_LISTEN_LOOPBACK=1", "VELMORA_SERVICE_DATABASE=" + Root(DATABASE)}, {}, true});
        umask(previous);
        const bool up = test::WaitUntil(
            [this] {
                return !test::IsProcessAlive(service_->Pid()) ||
                       (test::RawLpdClient(port_).Connected() && Value(Status(), "CurrentState") == "4");
            },
            30000);
        if (!test::IsProcessAlive(service_->Pid())) {
            const std::string output = service_->ReadAll();
            if (output.find("unshare: ") != std::string::npos)
                GTEST_SKIP() << "no PID namespace for the program: " << output;
            FAIL() << "the service role ended: " << output << "\nlog: " << LogText();
        }
        ASSERT_TRUE(up) << "the service role does not serve port " << port_ << "\nlog: " << LogText();
        const std::string pid = std::to_string(service_->Pid());
        programPid_ = std::atoi(ReadFile("/proc/" + pid + "/task/" + pid + "/children").c_str());
        ASSERT_GT(programPid_, 0);

        const std::string file = folder_.File("job.txt");
        WriteFile(file, content);
        std::string output;
        ASSERT_EQ(Run(VELMORA_LPR_PATH, {"-p", std::to_string(port_), "127.0.0.1", "PASS", file}, &output), 0)
            << output;
    }

    // The jobs of spool.list, held, with their spool files' contents.
    void ExpectSavedJobs(const std::vector<std::string>& contents) const {
        const CJobArchiveContent saved = ReadJobArchive(ReadFile(Base("spool.list")));
        ASSERT_FALSE(saved.Damaged);
        ASSERT_EQ(saved.Jobs.size(), contents.size());
        for (std::size_t i = 0; i < contents.size(); ++i) {
            EXPECT_EQ(saved.Jobs[i]->State, STATE_HELD);
            const std::string spoolFile = platform::UnicodeToAnsi(saved.Jobs[i]->LocalFileName);
            EXPECT_EQ(spoolFile.rfind(Base("Spool/PASS/"), 0), 0u) << spoolFile;
            EXPECT_EQ(ReadFile(spoolFile), contents[i]);
        }
    }

    test::TempFolder folder_;
    std::string root_;
    std::string deb_;
    gid_t group_ = 0;
    uint16_t port_ = 0;
    std::unique_ptr<ChildProcess> service_;  // ends before the folders go
    pid_t programPid_ = 0;
};

TEST_F(PackageTest, InstallsItsFilesPermissionsCapabilityAndTheUnitTheProgramWritesItself) {
    std::string output;
    ASSERT_EQ(Run("dpkg-deb", {"--field", deb_, "Depends"}, &output), 0) << output;
    for (const char* dependency : {"libcups2", "zlib1g", "libstdc++6", "acl", "libcap2-bin", "passwd"})
        EXPECT_NE(output.find(dependency), std::string::npos) << dependency << " missing in: " << output;
#ifdef VELMORA_DESKTOP
    EXPECT_NE(output.find("libqt6widgets6"), std::string::npos) << output;
#endif

    Install();
    ASSERT_EQ(Run("dpkg", {"--root=" + root_, "--listfiles", PACKAGE}, &output), 0) << output;
    std::set<std::string> files;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line != "/." && !S_ISDIR(Info(Root(line)).st_mode))
            files.insert(line);
    }
    std::set<std::string> expected = {PROGRAM,
                                      "/opt/velmora/velmora-lpr",
                                      ADMIN,
                                      "/usr/bin/VelmoraVirtualPrinter",
                                      UNIT,
                                      UNIT_ADDITION,
                                      "/usr/share/man/man8/VelmoraVirtualPrinter.8.gz",
                                      "/usr/share/man/man8/velmora-admin.8.gz",
                                      "/usr/share/doc/velmora-virtual-printer/copyright",
                                      "/usr/share/doc/velmora-virtual-printer/changelog.Debian.gz",
                                      "/usr/share/lintian/overrides/velmora-virtual-printer"};
#ifdef VELMORA_DESKTOP
    expected.insert("/usr/share/applications/velmora-virtual-printer.desktop");
    expected.insert("/usr/share/icons/hicolor/scalable/apps/velmora-virtual-printer.svg");
    const std::string entry = ReadFile(Root("/usr/share/applications/velmora-virtual-printer.desktop"));
    EXPECT_EQ(Value(entry, "Exec"), PROGRAM);
    EXPECT_TRUE(Exists(Root("/usr/share/icons/hicolor/scalable/apps/" + Value(entry, "Icon") + ".svg")));
#endif
    EXPECT_EQ(files, expected);
    for (const std::string& file : files) {
        const struct stat info = Info(Root(file));
        EXPECT_TRUE(info.st_uid == 0 && info.st_gid == 0) << file;
        EXPECT_TRUE(S_ISLNK(info.st_mode) || (info.st_mode & 022) == 0) << file;
    }
    EXPECT_EQ(Info(Root(PROGRAM)).st_mode & 07777, 0755u);
    EXPECT_EQ(std::filesystem::read_symlink(Root("/usr/bin/VelmoraVirtualPrinter")).string(), PROGRAM);
    ASSERT_EQ(Run("getcap", {Root(PROGRAM)}, &output), 0) << output;
    EXPECT_NE(output.find("cap_net_bind_service=ep"), std::string::npos) << output;

    // The base folder is root's and lpadmin's; what anyone creates in it stays the group's.
    const struct stat base = Info(Root(BASE));
    ASSERT_TRUE(S_ISDIR(base.st_mode));
    EXPECT_EQ(base.st_uid, 0u);
    EXPECT_EQ(base.st_gid, group_);
    EXPECT_EQ(base.st_mode & 07777, 02770u);
    const mode_t previous = umask(022);
    WriteFile(Base("made-by-root"), "x");
    std::filesystem::create_directory(Base("folder-made-by-root"));
    umask(previous);
    ExpectGroupOnly(Base("made-by-root"));
    ExpectGroupOnly(Base("folder-made-by-root"));

    for (const std::string folder : {"/var/lib/velmora", DATABASE, SERVICE_FOLDER}) {
        EXPECT_EQ(Info(Root(folder)).st_gid, group_) << folder;
        EXPECT_EQ(Info(Root(folder)).st_mode & 07777, 02775u) << folder;
    }
    const struct stat lock = Info(Root(std::string(DATABASE) + "/.lock"));
    EXPECT_EQ(lock.st_gid, group_);
    EXPECT_EQ(lock.st_mode & 0777, 0664u);

    // Installed disabled, with the unit and registration the program writes itself for its own path.
    EXPECT_FALSE(Exists(Root(ENABLED_LINK)));
    const std::string ownBase = folder_.File("base");
    std::filesystem::create_directories(ownBase);
    WriteFile(ownBase + "/QLSconf.ini",
              "[Settings]\r\nPortLPD=" + std::to_string(test::FreeLoopbackPort()) + "\r\n");
    WriteFile(ownBase + "/Printer.cfg", "HOLD;0; ; ;1; ; ; ; ; ; \r\n");
    const std::string units = folder_.File("units");
    const std::string database = folder_.File("services");
    ASSERT_EQ(Run("unshare",
                  {"--pid", "--fork", "--mount-proc", "--kill-child", Root(PROGRAM), "-SILENT_INSTALLSERV"},
                  &output,
                  {"VELMORA_BASE_FOLDER=" + ownBase, "VELMORA_SERVICE_DATABASE=" + database,
                   "VELMORA_SYSTEMD_UNIT_FOLDER=" + units, "VELMORA_LISTEN_LOOPBACK=1"}),
              0)
        << output;
    const auto asInstalled = [this](std::string text) {
        const std::size_t at = text.find(Root(PROGRAM));
        return at == std::string::npos ? text : text.replace(at, root_.size(), "");
    };
    const std::string written = ReadFile(units + "/Velmora_VirtualPrinter.service");
    ASSERT_FALSE(written.empty()) << FolderText(ownBase + "/Logs") << output;
    EXPECT_EQ(ReadFile(Root(UNIT)), asInstalled(written));
    EXPECT_EQ(ReadFile(Root(SERVICE_FOLDER) + "/config"),
              asInstalled(ReadFile(database + "/Velmora_VirtualPrinter/config")));
}

TEST_F(PackageTest, UpgradesKeepThePrintersTheServiceRoleServesAJobRemovalStopsItAndPurgeRemovesItsData) {
    Install();
    EXPECT_EQ(ReadFile(Base("Printer.cfg")), "PASS;0; ; ;1; ; ; ; ; ; \r\n");
    EXPECT_EQ(Info(Base("Printer.cfg")).st_gid, group_);
    std::string listed;
    EXPECT_EQ(Run(Root(ADMIN), {"printers", "--machine"}, &listed), 0);
    EXPECT_EQ(listed, "PASS\traw\t1\t\t\t\t\t\t\t\t\n");
    for (const std::string printers : {"MINE;0; ; ;0; ; ; ; ; ; \r\n", "", "PASS;0; ; ;1; ; ; ; ; ; \r\n"}) {
        WriteFile(Base("Printer.cfg"), printers);
        ASSERT_EQ(Dpkg({"--force-depends", "-i", deb_}), 0);
        EXPECT_EQ(ReadFile(Base("Printer.cfg")), printers);
    }

    StartServiceAndSendJob("first job\n");
    if (IsSkipped() || HasFatalFailure())
        return;
    EXPECT_EQ(Value(Status(), "Connected"), "1");
    const struct stat control = Info(Root(SERVICE_FOLDER) + "/control");
    EXPECT_TRUE(S_ISSOCK(control.st_mode));
    EXPECT_EQ(control.st_gid, group_);
    EXPECT_NE(control.st_mode & S_IWGRP, 0u);
    kill(programPid_, SIGTERM);
    ASSERT_EQ(service_->WaitFor(60000), 0);
    EXPECT_EQ(Value(Status(), "CurrentState"), "1");
    ExpectSavedJobs({"first job\n"});
    EXPECT_NE(LogText().find("LPD Server is started"), std::string::npos);
    std::string jobs;
    EXPECT_EQ(Run(Root(ADMIN), {"jobs", "--machine"}, &jobs), 0);
    EXPECT_NE(jobs.find("\theld\tPASS\t"), std::string::npos) << jobs;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(Root(BASE)))
        ExpectGroupOnly(entry.path().string());

    // Removal stops the enabled service, which saves its jobs; the data stays until the purge.
    StartServiceAndSendJob("second job\n");
    ASSERT_FALSE(HasFatalFailure());
    std::filesystem::create_directories(std::filesystem::path(Root(ENABLED_LINK)).parent_path());
    std::filesystem::create_symlink(UNIT, Root(ENABLED_LINK));
    ASSERT_EQ(Dpkg({"--remove", PACKAGE}), 0);
    EXPECT_EQ(service_->WaitFor(10000), 0) << "the service still runs after the removal";
    for (const char* removed : {ENABLED_LINK, PROGRAM, UNIT})
        EXPECT_FALSE(Exists(Root(removed))) << removed;
    ExpectSavedJobs({"first job\n", "second job\n"});
    EXPECT_NE(LogText().find("LPD Server is stopped"), std::string::npos);
    EXPECT_TRUE(Exists(Root(SERVICE_FOLDER) + "/config"));
    ASSERT_EQ(Dpkg({"--purge", PACKAGE}), 0);
    for (const char* removed : {BASE, "/var/lib/velmora", "/opt/velmora"})
        EXPECT_FALSE(Exists(Root(removed))) << removed;
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
