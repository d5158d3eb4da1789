// The receive-job session against whatever a client may send, over a socket pair, one connection per
// input.
//
// The input is the byte stream a client sends, as recorded from real clients. The client here sends it
// piece by piece, each piece ending after a line feed or a zero byte (where real clients wait for a
// reply), and sends the next piece only once the session has taken the previous one from the socket:
// a session reading a line drops what arrived behind it in the same receive, so sending everything at
// once would lose all but the first line and never reach the control and data files.
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "fuzz_app.h"
#include "fuzz_util.h"
#include "net/lpd_connection.h"
#include "net/lpd_server.h"
#include "platform/ansi.h"
#include "platform/socket.h"

namespace {

using namespace velmora;

CVelmoraVirtualPrinterApp& SessionApp() {
    static CVelmoraVirtualPrinterApp& app = []() -> CVelmoraVirtualPrinterApp& {
        CVelmoraVirtualPrinterApp& made = fuzz::FuzzApp();
        // Detailed lines too: they format what the client sent.
        made.Settings.LogLevel = 2;
        PrinterRecords printers(2);
        printers[0].Name = u"PASS";
        printers[1].Name = u"HOLD";
        printers[1].HoldJobs = 1;
        made.PrinterList.Replace(std::move(printers));
        return made;
    }();
    return app;
}

// Reads the replies that have arrived; each one is an LPD acknowledgement, 0 or 1.
void ReadReplies(int fd, int timeoutMilliseconds) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, timeoutMilliseconds) <= 0)
        return;
    unsigned char replies[256];
    const ssize_t count = recv(fd, replies, sizeof replies, MSG_DONTWAIT);
    for (ssize_t i = 0; i < count; ++i)
        VELMORA_FUZZ_CHECK(replies[i] <= 1);
}

// False once the session no longer reads (it closed its end).
bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

// Waits until the session has taken every byte sent from the socket (or has closed it). It yields rather
// than sleeps: a sleep per piece would cost more than the whole session.
void WaitUntilTaken(int fd, const std::atomic<bool>& ended) {
    for (;;) {
        int unread = 0;
        if (ioctl(fd, SIOCOUTQ, &unread) != 0 || unread == 0 || ended)
            return;
        ReadReplies(fd, 0);
        std::this_thread::yield();
    }
}

void RunSession(std::string_view input) {
    int pair[2];
    VELMORA_FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
    const int client = pair[1];
    VELMORA_FUZZ_CHECK(platform::SetNonBlocking(pair[0], true) == 0);

    std::unique_ptr<LpdConnection> connection = CreateConnection();
    connection->Socket = platform::CSocket(pair[0]);
    connection->Peer = std::make_unique<platform::CIpv4SocketAddress>();
    // A silent client ends its session after about 5 ms instead of 10 s.
    connection->Timing = {1, 5};
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(721);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::memcpy(connection->Peer->Bytes, &peer, sizeof peer);

    std::atomic<bool> ended{false};
    CVelmoraVirtualPrinterApp& app = SessionApp();
    const CLpdServerParts parts{app.Reporter, app.Settings, app.PrinterList, app.Jobs};
    const CLpdSessionPlace place{app.SpoolFolder};
    std::thread session([connection = std::move(connection), &ended, &parts, &place]() mutable {
        LpdClientThread(std::move(connection), parts, place);
        ended = true;
    });

    while (!input.empty()) {
        std::size_t end = input.find_first_of(std::string_view("\n\0", 2));
        end = end == std::string_view::npos ? input.size() : end + 1;
        if (!SendAll(client, input.substr(0, end)))
            break;
        input.remove_prefix(end);
        WaitUntilTaken(client, ended);
    }
    // The orderly close ends the session at once, wherever it is.
    shutdown(client, SHUT_WR);
    // Until the session closes its end.
    for (;;) {
        unsigned char replies[256];
        const ssize_t count = recv(client, replies, sizeof replies, 0);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        for (ssize_t i = 0; i < count; ++i)
            VELMORA_FUZZ_CHECK(replies[i] <= 1);
    }
    session.join();
    close(client);
}

// The regular files under the spool folder.
std::set<std::string> SpoolFiles(const std::string& folder) {
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files.insert(entry.path().lexically_normal().string());
    }
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CVelmoraVirtualPrinterApp& app = SessionApp();
    RunSession(fuzz::AsBytes(data, size));

    const std::string spoolFolder = platform::UnicodeToAnsi(app.SpoolFolder);
    std::set<std::string> jobFiles;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
        // One connection, at most one job.
        VELMORA_FUZZ_CHECK(app.Jobs.JobList.size() <= 1);
        for (const SpoolFilePtr& job : app.Jobs.JobList)
            jobFiles.insert(std::filesystem::path(platform::UnicodeToAnsi(job->LocalFileName))
                                .lexically_normal()
                                .string());
        app.Jobs.JobList.clear();
    }
    // An accepted job has its file, and a refused one leaves nothing behind.
    VELMORA_FUZZ_CHECK(SpoolFiles(spoolFolder) == jobFiles);

    // Memory and disk stay flat over millions of sessions.
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(spoolFolder))
        std::filesystem::remove_all(entry.path(), ignored);
    std::filesystem::remove(platform::UnicodeToAnsi(app.Log.FilePath()), ignored);
    return 0;
}
