// The receive-job session against any byte stream over a socket pair, sent in pieces that end after a line
// feed or a zero byte (where real clients wait for a reply), each once the session took the one before: a
// session reading a line drops what arrived behind it in the same receive.
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <set>
#include <thread>

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
        made.Settings.LogLevel = 2;  // detailed lines format what the client sent
        PrinterRecords printers(2);
        printers[0].Name = u"PASS";
        printers[1].Name = u"HOLD";
        printers[1].HoldJobs = 1;
        made.PrinterList.Replace(std::move(printers));
        return made;
    }();
    return app;
}

// Each reply is 0 or 1.
void ReadReplies(int fd, bool untilClosed) {
    for (;;) {
        unsigned char replies[256];
        const ssize_t count = recv(fd, replies, sizeof replies, untilClosed ? 0 : MSG_DONTWAIT);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        for (ssize_t i = 0; i < count; ++i)
            VELMORA_FUZZ_CHECK(replies[i] <= 1);
    }
}

// False once the session closed its end. Yields: a sleep per piece would cost more than the session.
bool SendPiece(int fd, std::string_view bytes, const std::atomic<bool>& ended) {
    while (!bytes.empty()) {
        const ssize_t sent = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    for (int unread = 0; ioctl(fd, SIOCOUTQ, &unread) == 0 && unread > 0 && !ended;) {
        ReadReplies(fd, false);
        std::this_thread::yield();
    }
    return true;
}

void RunSession(std::string_view input) {
    int pair[2];
    VELMORA_FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) == 0);
    const int client = pair[1];
    VELMORA_FUZZ_CHECK(platform::SetNonBlocking(pair[0], true) == 0);

    std::unique_ptr<LpdConnection> connection = CreateConnection();
    connection->Socket = platform::CSocket(pair[0]);
    connection->Peer = std::make_unique<platform::CIpv4SocketAddress>();
    VELMORA_FUZZ_CHECK(platform::ResolveIpv4("127.0.0.1", 721, connection->Peer.get()));
    connection->Timing = {1, 5};  // a silent client's session ends after about 5 ms

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
        if (!SendPiece(client, input.substr(0, end), ended))
            break;
        input.remove_prefix(end);
    }
    shutdown(client, SHUT_WR);  // ends the session at once, wherever it is
    ReadReplies(client, true);
    session.join();
    close(client);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    CVelmoraVirtualPrinterApp& app = SessionApp();
    RunSession(fuzz::AsBytes(data, size));

    const std::string spoolFolder = platform::UnicodeToAnsi(app.SpoolFolder);
    std::set<std::string> jobFiles;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
        VELMORA_FUZZ_CHECK(app.Jobs.JobList.size() <= 1);  // one connection
        for (const SpoolFilePtr& job : app.Jobs.JobList)
            jobFiles.insert(std::filesystem::path(platform::UnicodeToAnsi(job->LocalFileName))
                                .lexically_normal()
                                .string());
        app.Jobs.JobList.clear();
    }
    // An accepted job has its file, and a refused one leaves nothing behind.
    std::set<std::string> spoolFiles;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(spoolFolder)) {
        if (entry.is_regular_file())
            spoolFiles.insert(entry.path().lexically_normal().string());
    }
    VELMORA_FUZZ_CHECK(spoolFiles == jobFiles);

    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(spoolFolder))
        std::filesystem::remove_all(entry.path(), ignored);
    std::filesystem::remove(platform::UnicodeToAnsi(app.Log.FilePath()), ignored);
    return 0;
}
