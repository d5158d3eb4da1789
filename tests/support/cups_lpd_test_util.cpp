#include "support/cups_lpd_test_util.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "support/lprng_test_util.h"

namespace velmora::test {

namespace {

constexpr const char* SOCAT = "/usr/bin/socat";
// Debian's place first, then that of the distributions that keep helper programs in libexec.
constexpr const char* CUPS_LPD_PLACES[] = {"/usr/lib/cups/daemon/cups-lpd",
                                           "/usr/libexec/cups/daemon/cups-lpd"};
// A free port can be taken by someone else before socat binds it: then another one is tried.
constexpr int PORT_ATTEMPTS = 5;
// Limits that only keep a broken set-up from hanging; nothing here measures time.
constexpr auto START_LIMIT = std::chrono::seconds(10);
constexpr auto STOP_LIMIT = std::chrono::seconds(3);

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

// Sends SIGTERM to the process and to its descendants, reaps the process (our child) and kills whatever
// of the tree is still running after the limit.
void EndProcessTree(pid_t root) {
    const std::vector<ProcessId> tree = ProcessTree(root);
    kill(root, SIGTERM);
    for (const ProcessId& process : tree) {
        if (process.Pid != root && StillRunning(process))
            kill(process.Pid, SIGTERM);
    }
    const auto deadline = std::chrono::steady_clock::now() + STOP_LIMIT;
    bool reaped = false;
    while (!(reaped = waitpid(root, nullptr, WNOHANG) == root) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!reaped) {
        kill(root, SIGKILL);
        waitpid(root, nullptr, 0);
    }
    for (const ProcessId& process : tree) {
        while (StillRunning(process) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (StillRunning(process))
            kill(process.Pid, SIGKILL);
    }
}

}  // namespace

std::string CupsLpdProgram() {
    for (const char* place : CUPS_LPD_PLACES) {
        if (access(place, X_OK) == 0)
            return place;
    }
    return {};
}

bool ShareCupsQueue(const std::string& queue, bool shared, std::string* failure) {
    ChildProcess::Options options;
    options.CaptureErrors = true;
    const std::vector<std::string> arguments = {
        "-p", queue, "-o", std::string("printer-is-shared=") + (shared ? "true" : "false")};
    ChildProcess admin("/usr/sbin/lpadmin", arguments, options);
    std::string output;
    const int code = admin.RunToEnd(60000, &output);
    if (code != 0)
        *failure =
            "lpadmin -p " + queue + " -o printer-is-shared failed (" + std::to_string(code) + "): " + output;
    return code == 0;
}

CupsLpd::CupsLpd(std::string schedulerSocket) : schedulerSocket_(std::move(schedulerSocket)) {}

CupsLpd::~CupsLpd() {
    Stop();
}

bool CupsLpd::Start(std::string* reason) {
    const std::string cupsLpd = CupsLpdProgram();
    if (cupsLpd.empty() || access(SOCAT, X_OK) != 0) {
        *reason = "cups-lpd or socat is not installed (scripts/setup.sh installs them)";
        return false;
    }
    for (int attempt = 0; attempt < PORT_ATTEMPTS; ++attempt) {
        if (Launch(SOCAT, cupsLpd))
            return true;
    }
    *reason = "socat did not listen: " + Output();
    return false;
}

bool CupsLpd::Launch(const std::string& socat, const std::string& cupsLpd) {
    port_ = FreeLoopbackPort();
    const std::vector<std::string> arguments = {
        socat, "TCP-LISTEN:" + std::to_string(port_) + ",bind=127.0.0.1,reuseaddr,fork",
        // nofork: the connection's own socket becomes cups-lpd's standard input and output.
        "EXEC:" + cupsLpd + " -n,nofork"};
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const std::string output = folder_.File("socat.log");
    const std::string server = "CUPS_SERVER=" + schedulerSocket_;

    pid_ = fork();
    if (pid_ < 0)
        return false;
    if (pid_ == 0) {
        // A process group of its own: a Ctrl-C meant for the caller reaches socat only through Stop.
        setpgid(0, 0);
        const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int none = open("/dev/null", O_RDONLY);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
        }
        if (none >= 0)
            dup2(none, STDIN_FILENO);
        putenv(const_cast<char*>(server.c_str()));
        execv(argv[0], argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + START_LIMIT;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        // The probe's connection runs a cups-lpd that finds no command and ends.
        if (Accepts(port_))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void CupsLpd::Stop() {
    if (pid_ <= 0)
        return;
    EndProcessTree(pid_);
    pid_ = -1;
}

std::string CupsLpd::Output() const {
    const std::string text = ReadFile(folder_.File("socat.log"));
    return text.empty() ? "(no output)" : text;
}

}  // namespace velmora::test
