#include "platform/posix/systemd_unit.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/posix/service_database.h"
#include "platform/process.h"

extern char** environ;

namespace velmora::platform::posix {

namespace {

constexpr char DEFAULT_UNIT_FOLDER[] = "/etc/systemd/system";
constexpr char UNIT_FOLDER_VARIABLE[] = "VELMORA_SYSTEMD_UNIT_FOLDER";
constexpr char WANTS_FOLDER[] = "multi-user.target.wants";

std::string UnitFolder(bool* overridden) {
    const char* folder = std::getenv(UNIT_FOLDER_VARIABLE);
    *overridden = folder && *folder;
    if (*overridden)
        return folder;
    return PathExists("/run/systemd/system") ? DEFAULT_UNIT_FOLDER : "";
}

// One argument of ExecStart: quoted, with the characters systemd treats specially escaped.
std::string UnitArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '\\')
            quoted += '\\';
        if (c == '%' || c == '$')
            quoted += c;
        quoted += c;
    }
    return quoted + "\"";
}

void ReloadSystemd() {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd <= 2; ++fd)
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_RDWR, 0);
    char program[] = "systemctl";
    char command[] = "daemon-reload";
    char* argv[] = {program, command, nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, program, &actions, nullptr, argv, environ) == 0) {
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    posix_spawn_file_actions_destroy(&actions);
}

// The unit file's text.
std::string UnitText(const CServiceConfig& config) {
    std::string command;
    for (const std::u16string& argument : SplitCommandLine(config.BinaryPathName))
        command += (command.empty() ? "" : " ") + UnitArgument(Native(argument));
    std::string unit;
    unit += "[Unit]\n";
    std::string description;
    for (const char c : Native(config.DisplayName))
        description += c == '%' ? std::string("%%") : std::string(1, c);
    unit += "Description=" + description + "\n";
    unit += "After=network-online.target\n";
    unit += "Wants=network-online.target\n\n";
    unit += "[Service]\n";
    unit += "Type=simple\n";
    unit += "ExecStart=" + command + "\n";
    // The service saves its job list when it stops.
    unit += "TimeoutStopSec=120\n\n";
    unit += "[Install]\n";
    unit += "WantedBy=multi-user.target\n";
    return unit;
}

}  // namespace

bool WriteUnit(const std::string& name, const CServiceConfig& config) {
    bool overridden = false;
    const std::string folder = UnitFolder(&overridden);
    if (folder.empty())
        return true;
    const std::string unit = UnitText(config);
    const std::string unitPath = folder + "/" + name + ".service";
    if (!MakeFolders(folder) || !WriteWholeFile(unitPath, unit, 0644))
        return false;
    if (config.StartType == SERVICE_AUTO_START) {
        // What "systemctl enable" does for WantedBy=multi-user.target.
        const std::string wants = folder + "/" + WANTS_FOLDER;
        const std::string link = wants + "/" + name + ".service";
        if (!MakeFolders(wants) || (symlink(unitPath.c_str(), link.c_str()) != 0 && errno != EEXIST)) {
            const int error = errno;
            unlink(unitPath.c_str());
            return Fail(error);
        }
    }
    if (!overridden)
        ReloadSystemd();
    return true;
}

void RemoveUnit(const std::string& name) {
    bool overridden = false;
    const std::string folder = UnitFolder(&overridden);
    if (folder.empty())
        return;
    const std::string unitPath = folder + "/" + name + ".service";
    const std::string link = folder + "/" + WANTS_FOLDER + "/" + name + ".service";
    const bool existed = PathExists(unitPath) || PathExists(link);
    unlink(link.c_str());
    unlink(unitPath.c_str());
    if (existed && !overridden)
        ReloadSystemd();
}

}  // namespace velmora::platform::posix
