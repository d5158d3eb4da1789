// The LPD server: the listener, which accepts connections on the LPD port while the server runs and holds
// each until its first subcommand, and the receive-job session of each connection.
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
#include "net/lpd_greeting.h"
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
    // Connections under way: those in a session, and those the listener holds until their first subcommand.
    int ActiveConnections() const { return Sessions.ActiveSessions() + WaitingConnections; }

    // The port the listener is bound to once it listens (0 before and after): PortLPD 0 lets the system
    // choose one, which tests rely on.
    std::atomic<uint16_t> ListeningPort{0};
    // Listen on the loopback address only instead of every address (tests; VELMORA_LISTEN_LOOPBACK=1).
    bool LoopbackOnly = false;
    // How sessions wait for their clients; tests shorten it.
    CLpdTimingSetting ReceiveTiming;

  private:
    void LpdServerThread();
    void ServeConnections(platform::SocketHandle listener);
    // A failure of the listener: logged always, and shown to the user in the desktop program.
    void Report(const std::u16string& logLine, const std::u16string& message);

    CLpdServerParts Parts;
    CLpdSessionPlace Place;
    CSessionGroup Sessions;
    std::atomic<bool> CutSessions{false};
    std::atomic<int> WaitingConnections{0};
    // ServerLock guards the running flag; held only for one read or write.
    mutable std::mutex ServerLock;
    bool ServerRunning = false;
    std::thread LpdServerThreadHandle;
};

// Serves one connection from its first line: receives one print job into a queue.
void LpdClientThread(std::unique_ptr<LpdConnection> connection, const CLpdServerParts& parts,
                     const CLpdSessionPlace& place);
// Goes on with a connection whose greeting the listener has taken: logs it, and receives the job when the
// first subcommand line is held.
void LpdSessionThread(std::unique_ptr<LpdConnection> connection, const CLpdGreeting& greeting,
                      const CLpdServerParts& parts, const CLpdSessionPlace& place);

}  // namespace velmora
