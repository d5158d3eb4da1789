#include "support/lprng_test_util.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

namespace velmora::test {

namespace fs = std::filesystem;

namespace {

struct ProcessEntry {
    ProcessId Id;
    pid_t Parent = 0;
    bool Zombie = false;
};

// Reads /proc/<pid>/stat: "pid (name) state ppid ... starttime ..."; the name may hold spaces and
// parentheses.
bool ReadProcess(pid_t pid, ProcessEntry* entry) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(stat, text);
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return false;
    std::istringstream rest(text.substr(close + 1));
    std::vector<std::string> fields;
    for (std::string field; rest >> field;)
        fields.push_back(field);
    if (fields.size() < 20)
        return false;
    entry->Id = {pid, fields[19]};  // field 22, the start time
    entry->Parent = std::atoi(fields[1].c_str());
    entry->Zombie = fields[0] == "Z";
    return true;
}

bool Accepts(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return connected;
}

void EmptyFolder(const std::string& folder) {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    fs::create_directories(folder, ignored);
}

}  // namespace

bool StillRunning(const ProcessId& process) {
    ProcessEntry entry;
    return ReadProcess(process.Pid, &entry) && entry.Id.Start == process.Start && !entry.Zombie;
}

std::vector<ProcessId> ProcessTree(pid_t root) {
    std::multimap<pid_t, ProcessId> children;
    ProcessEntry rootEntry;
    if (!ReadProcess(root, &rootEntry))
        return {};
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

LprngLpd::LprngLpd(std::string root, std::string folder, std::string queue)
    : root_(std::move(root)), folder_(std::move(folder)), queue_(std::move(queue)) {}

LprngLpd::~LprngLpd() {
    Stop();
}

bool LprngLpd::Start(std::string* reason) {
    const std::string lpd = root_ + "/usr/sbin/lpd";
    if (access(lpd.c_str(), X_OK) != 0) {
        *reason = "LPRng is not unpacked in " + root_ + " (scripts/setup.sh does it)";
        return false;
    }
    EmptyFolder(folder_ + "/etc-upper/lprng");
    EmptyFolder(folder_ + "/etc-work");
    EmptyFolder(Spool());
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
    const std::vector<std::string> arguments = {
        "/usr/bin/unshare", "--mount", "--propagation", "private", "/bin/sh", "-c", script, "sh", lpd, "-F"};
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const std::string log = folder_ + "/lpd.log";

    pid_ = fork();
    if (pid_ < 0) {
        *reason = "fork failed";
        return false;
    }
    if (pid_ == 0) {
        // A process group of its own: whatever lpd signals to its group never reaches the caller.
        setpgid(0, 0);
        const int output = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int input = open("/dev/null", O_RDONLY);
        if (output >= 0) {
            dup2(output, STDOUT_FILENO);
            dup2(output, STDERR_FILENO);
        }
        if (input >= 0)
            dup2(input, STDIN_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // unshare and the shell replace themselves: pid_ becomes lpd's own process.
    for (int i = 0; i < 500; ++i) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            *reason = WIFEXITED(status) && WEXITSTATUS(status) == 99
                          ? "no private mount namespace with an overlay on /etc here"
                          : "lpd ended at start-up: " + LastLogLine();
            return false;
        }
        if (Accepts(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *reason = "lpd did not listen within 5 s: " + LastLogLine();
    Stop();
    return false;
}

void LprngLpd::Stop() {
    if (pid_ <= 0)
        return;
    // lpd forks a process per connection and one per queue.
    const std::vector<ProcessId> tree = ProcessTree(pid_);
    kill(pid_, SIGTERM);
    for (const ProcessId& process : tree) {
        if (process.Pid != pid_ && StillRunning(process))
            kill(process.Pid, SIGTERM);
    }
    bool ended = false;
    for (int i = 0; i < 150 && !ended; ++i) {
        ended = waitpid(pid_, nullptr, WNOHANG) == pid_;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!ended) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (const ProcessId& process : tree) {
        for (int i = 0; i < 100 && StillRunning(process); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (StillRunning(process))
            kill(process.Pid, SIGKILL);
    }
    pid_ = -1;
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
