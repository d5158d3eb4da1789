// The LPD server: the listener, which accepts connections on the LPD port while the server runs, and the
// receive-job session of each connection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "config/printer_list.h"
#include "core/reporter.h"
#include "core/settings.h"
#include "core/stop_grace.h"
#include "net/lpd_connection.h"
#include "net/session_group.h"
#include "spool/job_store.h"

namespace velmora {

// What the listener and its sessions work with.
struct CLpdServerParts {
    CReporter& Reporter;
    const CSettings& Settings;
    const CPrinterList& PrinterList;
    CJobStore& Jobs;
};

// What one session needs besides the parts.
struct CLpdSessionPlace {
    // The folder under which each queue has its folder of spool files, ending with the path separator.
    std::u16string SpoolFolder;
};

class CLpdServer {
  public:
    explicit CLpdServer(CLpdServerParts parts) : Parts(parts) {}
    // Ends the listener and waits for every session.
    ~CLpdServer();
    CLpdServer(const CLpdServer&) = delete;
    CLpdServer& operator=(const CLpdServer&) = delete;

    void SetSpoolFolder(const std::u16string& folder) { Place.SpoolFolder = folder; }

    // Starts the listener thread; StopLpdServer ends it and waits for it. Sessions under way go on.
    void StartLpdServer();
    void StopLpdServer();
    // Waits until every session has ended (after StopLpdServer no new one starts): those still receiving
    // after the grace are cut, each with a log line; their unfinished jobs are discarded, acknowledged
    // ones kept.
    void WaitForSessions(std::chrono::milliseconds grace = STOP_GRACE);
    void SetServerRunning(bool running);
    bool IsServerRunning() const;
    int ActiveConnections() const { return Sessions.ActiveSessions(); }

    // The port the listener is bound to once it listens (0 before and after): PortLPD 0 lets the system
    // choose one, which tests rely on.
    std::atomic<uint16_t> ListeningPort{0};
    // Listen on the loopback address only instead of every address (tests; VELMORA_LISTEN_LOOPBACK=1).
    bool LoopbackOnly = false;
    // How sessions wait for their clients; tests shorten it.
    CLpdReceiveTiming ReceiveTiming;

  private:
    void LpdServerThread();
    void ServeConnections(platform::SocketHandle listener);
    void StartSession(platform::CSocket socket, const platform::CIpv4SocketAddress& peer);
    // A failure of the listener: logged always, and shown to the user in the desktop program.
    void Report(const std::u16string& logLine, const std::u16string& message);

    CLpdServerParts Parts;
    CLpdSessionPlace Place;
    CSessionGroup Sessions;
    std::atomic<bool> CutSessions{false};
    // ServerLock guards the running flag; held only for one read or write.
    mutable std::mutex ServerLock;
    bool ServerRunning = false;
    std::thread LpdServerThreadHandle;
};

// Serves one connection: receives one print job into a queue.
void LpdClientThread(std::unique_ptr<LpdConnection> connection, const CLpdServerParts& parts,
                     const CLpdSessionPlace& place);

}  // namespace velmora
