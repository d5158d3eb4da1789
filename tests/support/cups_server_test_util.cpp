#include <cups/cups.h>
#include <grp.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/socket.h"
#include "support/cups_server.h"
#include "support/lprng_test_util.h"

namespace velmora::test {

namespace {

std::string SystemProgram(const std::string& name) {
    for (const char* folder : {"/usr/sbin/", "/usr/bin/", "/sbin/", "/bin/"}) {
        if (access((folder + name).c_str(), X_OK) == 0)
            return folder + name;
    }
    return name;
}

bool Connects(const std::string& socketPath) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    const bool connected = fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0)
        close(fd);
    return connected;
}

}  // namespace

FakePrinter::FakePrinter() {
    const platform::SocketHandle listener = platform::CreateTcpSocket();
    if (listener == platform::SOCKET_INVALID)
        return;
    if (platform::BindLoopback(listener, 0) != 0 || platform::Listen(listener, 8) != 0) {
        platform::CloseSocket(listener);
        return;
    }
    listener_ = static_cast<int>(listener);
    port_ = platform::LocalPort(listener);
    thread_ = std::thread([this] { Run(); });
}

FakePrinter::~FakePrinter() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        close(listener_);
}

std::string FakePrinter::DeviceUri() const {
    return "socket://127.0.0.1:" + std::to_string(port_);
}

bool FakePrinter::NextDocument(std::string* document, int milliseconds) {
    std::unique_lock<std::mutex> hold(lock_);
    if (!received_.wait_for(hold, std::chrono::milliseconds(milliseconds),
                            [this] { return !documents_.empty(); }))
        return false;
    *document = std::move(documents_.front());
    documents_.pop_front();
    return true;
}

// One connection at a time: the bytes until the sender closes its side, then the close the back end waits
// for before it ends the job.
void FakePrinter::Run() {
    std::string bytes;
    platform::SocketHandle connection = platform::SOCKET_INVALID;
    while (!stop_) {
        if (!platform::WaitReadable(connection != platform::SOCKET_INVALID ? connection : listener_, 50))
            continue;
        if (connection == platform::SOCKET_INVALID) {
            connection = platform::Accept(listener_, nullptr);
            continue;
        }
        char buffer[64 * 1024];
        const long count = platform::Receive(connection, buffer, sizeof buffer);
        if (count > 0) {
            bytes.append(buffer, static_cast<std::size_t>(count));
            continue;
        }
        platform::CloseSocket(connection);
        connection = platform::SOCKET_INVALID;
        std::lock_guard<std::mutex> hold(lock_);
        documents_.push_back(std::move(bytes));
        bytes.clear();
        received_.notify_all();
    }
    if (connection != platform::SOCKET_INVALID)
        platform::CloseSocket(connection);
}

CupsServer::CupsServer() = default;

CupsServer::~CupsServer() {
    EndProcessTree(&pid_, 30000);
    for (auto it = savedEnvironment_.rbegin(); it != savedEnvironment_.rend(); ++it) {
        if (it->second)
            setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
    // libcups keeps the server it found per thread; the next one is found anew.
    cupsSetServer(nullptr);
}

std::string CupsServer::ErrorLog() const {
    return ReadFile(folder_.File("error_log")) + ReadFile(folder_.File("cupsd_output"));
}

bool CupsServer::WriteConfiguration() {
    const std::string& folder = folder_.Path();
    for (const char* sub : {"spool", "cache", "state", "tmp"}) {
        if (mkdir(folder_.File(sub).c_str(), 0755) != 0) {
            failure_ = "cannot create " + folder_.File(sub);
            return false;
        }
    }
    // As root the scheduler runs its back ends as lp, as the system's own does; otherwise as ourselves.
    std::string user = "lp", group = "lp", systemGroup = "root";
    if (geteuid() != 0) {
        const passwd* account = getpwuid(geteuid());
        const struct group* primary = getgrgid(getegid());
        if (!account || !primary) {
            failure_ = "cannot name the current user and group";
            return false;
        }
        user = account->pw_name;
        group = systemGroup = primary->gr_name;
    }
    WriteFile(folder_.File("cups-files.conf"),
              "User " + user + "\nGroup " + group + "\nSystemGroup " + systemGroup + "\nServerRoot " +
                  folder + "\nRequestRoot " + folder + "/spool\nCacheDir " + folder + "/cache\nStateDir " +
                  folder + "/state\nTempDir " + folder + "/tmp\nErrorLog " + folder +
                  "/error_log\nAccessLog " + folder + "/access_log\nPageLog " + folder +
                  "/page_log\nPrintcap " + folder + "/printcap\n");
    // No network listener, browsing or authentication; a failing job is aborted instead of stopping the
    // queue for the next tests.
    WriteFile(folder_.File("cupsd.conf"),
              "LogLevel debug\nListen " + SocketPath() +
                  "\nBrowsing No\nBrowseLocalProtocols none\nDefaultAuthType None\n"
                  "WebInterface No\nErrorPolicy abort-job\n"
                  "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                  "<Policy default>\n  JobPrivateAccess all\n  JobPrivateValues none\n"
                  "  SubscriptionPrivateAccess all\n  SubscriptionPrivateValues none\n"
                  "  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n");
    return true;
}

bool CupsServer::Start() {
    const std::string& folder = folder_.Path();
    if (chmod(folder.c_str(), 0755) != 0) {
        failure_ = "cannot open up " + folder;
        return false;
    }
    // The back ends run as the scheduler's user, which must pass through every parent of the folder.
    for (std::filesystem::path parent = std::filesystem::path(folder).parent_path();
         parent != parent.root_path(); parent = parent.parent_path()) {
        struct stat status {};
        if (stat(parent.c_str(), &status) != 0 || (status.st_mode & S_IXOTH) == 0) {
            failure_ = "the scheduler's user cannot pass through " + parent.string();
            return false;
        }
    }
    if (!WriteConfiguration())
        return false;

    const auto set = [this](const char* name, const char* value) {
        const char* old = getenv(name);
        savedEnvironment_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        value ? setenv(name, value, 1) : unsetenv(name);
    };
    set("CUPS_SERVER", SocketPath().c_str());
    set("CUPS_SERVERROOT", folder.c_str());
    set("HOME", folder.c_str());
    set("PRINTER", nullptr);
    set("LPDEST", nullptr);
    cupsSetServer(nullptr);

    pid_ = StartDaemon({SystemProgram("cupsd"), "-f", "-c", folder_.File("cupsd.conf"), "-s",
                        folder_.File("cups-files.conf")},
                       folder_.File("cupsd_output"));
    int status = 0;
    if (WaitListening(
            &pid_, [this] { return Connects(SocketPath()); }, 60000, &status))
        return true;
    failure_ = (pid_ < 0 ? "cupsd ended (status " + std::to_string(status) + "):\n"
                         : "cupsd did not listen on " + SocketPath() + ":\n") +
               ErrorLog();
    return false;
}

bool RunLpadmin(const std::vector<std::string>& arguments, std::string* failure) {
    std::string output;
    const int code = ChildProcess(SystemProgram("lpadmin"), arguments, ChildProcess::Options{{}, {}, true})
                         .RunToEnd(60000, &output);
    if (code == 0)
        return true;
    *failure = "lpadmin";
    for (const std::string& argument : arguments)
        *failure += " " + argument;
    *failure += " failed (" + std::to_string(code) + "): " + output;
    return false;
}

bool CupsServer::AddRawQueue(const std::string& name, const std::string& deviceUri) {
    // -E after -p enables the queue and makes it accept jobs (before -p it would ask for encryption).
    return RunAdmin({"-p", name, "-E", "-v", deviceUri, "-m", "raw"});
}

bool CupsServer::SetDefaultQueue(const std::string& name) {
    return RunAdmin({"-d", name});
}

bool CupsServer::RunAdmin(const std::vector<std::string>& arguments) {
    const bool done = RunLpadmin(arguments, &failure_);
    if (!done)
        failure_ += "\n" + ErrorLog();
    return done;
}

}  // namespace velmora::test
