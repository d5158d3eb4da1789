#include "support/lprng_test_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "support/test_util.h"

namespace velmora::test {

namespace {

struct ProcessEntry {
    ProcessId Id;
    pid_t Parent = 0;
    bool Zombie = false;
};

// /proc/<pid>/stat: "pid (name) state ppid ... starttime ..."; the name may hold spaces and parentheses.
bool ReadProcess(pid_t pid, ProcessEntry* entry) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(text.substr(close + 1));
    std::vector<std::string> fields{std::istream_iterator<std::string>(rest), {}};
    if (fields.size() < 20)
        return false;
    *entry = {{pid, fields[19]}, std::atoi(fields[1].c_str()), fields[0] == "Z"};
    return true;
}

bool StillRunning(const ProcessId& process) {
    ProcessEntry now;
    return ReadProcess(process.Pid, &now) && now.Id.Start == process.Start && !now.Zombie;
}

}  // namespace

std::vector<ProcessId> ProcessTree(pid_t root) {
    std::multimap<pid_t, ProcessId> children;
    ProcessEntry rootEntry;
    if (!ReadProcess(root, &rootEntry))
        return {};
    namespace fs = std::filesystem;
    for (const auto& file : fs::directory_iterator("/proc", fs::directory_options::skip_permission_denied)) {
        const std::string name = file.path().filename().string();
        ProcessEntry entry;
        if (name.find_first_not_of("0123456789") == std::string::npos &&
            ReadProcess(std::atoi(name.c_str()), &entry) && !entry.Zombie)
            children.emplace(entry.Parent, entry.Id);
    }
    std::vector<ProcessId> tree = {rootEntry.Id};
    for (std::size_t i = 0; i < tree.size(); ++i) {
        const auto range = children.equal_range(tree[i].Pid);
        for (auto it = range.first; it != range.second; ++it)
            tree.push_back(it->second);
    }
    return tree;
}

pid_t StartDaemon(const std::vector<std::string>& argv, const std::string& log,
                  const std::vector<std::string>& environment) {
    std::vector<char*> arguments;
    for (const std::string& argument : argv)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int none = open("/dev/null", O_RDONLY);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        if (none >= 0)
            dup2(none, STDIN_FILENO);
        for (const std::string& variable : environment)
            putenv(const_cast<char*>(variable.c_str()));
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    return pid;
}

bool WaitListening(pid_t* pid, const std::function<bool()>& listening, int milliseconds, int* status) {
    if (*pid <= 0)
        return false;
    bool ended = false;
    const bool up = WaitUntil([&] { return (ended = waitpid(*pid, status, WNOHANG) == *pid) || listening(); },
                              milliseconds);
    if (ended)
        *pid = -1;
    return up && !ended;
}

bool Accepts(uint16_t port) {
    return RawLpdClient(port).Connected();
}

void EndProcessTree(pid_t* root, int milliseconds) {
    if (*root <= 0)
        return;
    const std::vector<ProcessId> tree = ProcessTree(*root);
    kill(*root, SIGTERM);
    for (const ProcessId& process : tree) {
        if (process.Pid != *root && StillRunning(process))
            kill(process.Pid, SIGTERM);
    }
    if (!WaitUntil([&] { return waitpid(*root, nullptr, WNOHANG) == *root; }, milliseconds)) {
        kill(*root, SIGKILL);
        waitpid(*root, nullptr, 0);
    }
    for (const ProcessId& process : tree) {
        if (!WaitUntil([&] { return !StillRunning(process); }, milliseconds))
            kill(process.Pid, SIGKILL);
    }
    *root = -1;
}

LprngLpd::LprngLpd(std::string root, std::string folder, std::string queue)
    : root_(std::move(root)), folder_(std::move(folder)), queue_(std::move(queue)) {}

bool LprngLpd::Start(std::string* reason) {
    const std::string lpd = root_ + "/usr/sbin/lpd";
    if (access(lpd.c_str(), X_OK) != 0) {
        *reason = "LPRng is not unpacked in " + root_ + " (scripts/setup.sh does it)";
        return false;
    }
    for (const std::string& folder : {folder_ + "/etc-upper/lprng", folder_ + "/etc-work", Spool()}) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
        std::filesystem::create_directories(folder, ignored);
    }
    port_ = FreeLoopbackPort();
    const std::string address = "127.0.0.1%" + std::to_string(port_);
    std::ofstream(folder_ + "/etc-upper/lprng/lpd.conf")
        << "lpd_port=" << address << "\nlpd_listen_port=" << address << "\nunix_socket_path=off\n"
        << "lockfile=" << folder_ << "/spool/lpd\nprintcap_path=/etc/printcap\n"
        << "perms_path=/etc/lprng/lpd.perms\nuser=0\ngroup=0\n";
    std::ofstream(folder_ + "/etc-upper/lprng/lpd.perms") << "DEFAULT ACCEPT\n";
    std::ofstream(folder_ + "/etc-upper/printcap") << "PASS:sd=" << Spool() << ":" << queue_ << "\n";
    const std::string script = "mount -t overlay overlay -o lowerdir=/etc,upperdir=" + folder_ +
                               "/etc-upper,workdir=" + folder_ + "/etc-work /etc || exit 99; exec \"$@\"";
    // unshare and the shell replace themselves: pid_ becomes lpd's own process.
    pid_ = StartDaemon(
        {"/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script, "sh", lpd, "-F"},
        folder_ + "/lpd.log");
    int status = 0;
    if (WaitListening(
            &pid_, [this] { return Accepts(port_); }, 5000, &status))
        return true;
    *reason = pid_ >= 0 ? "lpd did not listen within 5 s: " + LastLogLine()
              : WIFEXITED(status) && WEXITSTATUS(status) == 99
                  ? "no private mount namespace with an overlay on /etc here"
                  : "lpd ended at start-up: " + LastLogLine();
    Stop();
    return false;
}

void LprngLpd::Stop() {
    EndProcessTree(&pid_, 3000);
}

std::string LprngLpd::LastLogLine() const {
    std::ifstream file(folder_ + "/lpd.log");
    std::string line, last = "(no output)";
    while (std::getline(file, line)) {
        if (!line.empty())
            last = line;
    }
    return last;
}

}  // namespace velmora::test
