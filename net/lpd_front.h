// The listener's side of every connection until its first subcommand line has arrived: it accepts
// (closing at once a client that AllowedClients does not name), takes the queue line and answers it, and
// waits for the first subcommand, all on the listener's thread. A connection that says nothing then costs
// a socket and a few hundred bytes, not a thread: a storm of idle connections leaves the sessions of good
// clients their processor and memory. Once its first subcommand line has arrived, a connection goes on in a
// session thread of its own.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <vector>

#include "net/client_gate.h"
#include "net/lpd_connection.h"
#include "net/lpd_greeting.h"
#include "net/lpd_server.h"
#include "platform/socket_poller.h"

namespace velmora {

class CLpdFront {
  public:
    // waiting counts the connections held here, for the server's count of connections under way.
    CLpdFront(const CLpdServerParts& parts, const CLpdSessionPlace& place, CSessionGroup& sessions,
              const CLpdTimingSetting& timing, const std::atomic<bool>* cut, std::atomic<int>& waiting);
    // Closes the connections still waiting.
    ~CLpdFront();
    CLpdFront(const CLpdFront&) = delete;
    CLpdFront& operator=(const CLpdFront&) = delete;

    // Serves the listener and the waiting connections while running() is true (asked at least every
    // 100 ms). False, with nothing served, when the system gives no poller.
    bool Serve(platform::SocketHandle listener, const std::function<bool()>& running);

  private:
    struct CWaiting {
        std::unique_ptr<LpdConnection> Connection;
        CLpdGreeting Greeting;
        // The awaited line has had bytes (the next reception adds to them).
        bool LineStarted = false;
        std::chrono::steady_clock::time_point SilentSince;
        // Its own place in the list, which the poller's key leads back to.
        std::list<CWaiting>::iterator Self;
    };
    using Waiting = std::list<CWaiting>::iterator;

    void AcceptAll(platform::SocketHandle listener);
    void Admit(platform::CSocket socket, const platform::CIpv4SocketAddress& peer);
    // Takes what has arrived on the connection and moves its greeting on.
    void Advance(Waiting waiting);
    void EndSilent();
    // The greeting ended here: its lines are logged and the connection closed.
    void End(Waiting waiting);
    void StartSession(Waiting waiting);
    void Forget(Waiting waiting);

    const CLpdServerParts& Parts;
    const CLpdSessionPlace& Place;
    CSessionGroup& Sessions;
    // The server's, read as each connection arrives (tests change it while the server runs).
    const CLpdTimingSetting& Timing;
    const std::atomic<bool>* Cut;
    std::atomic<int>& WaitingCount;
    const CLpdLog Out;
    CClientGate Gate;
    platform::CSocketPoller Poller;
    // Longest silent first: a connection that receives bytes moves to the end.
    std::list<CWaiting> Connections;
    // The poller's keys: the listener's, or a connection's record.
    std::vector<void*> Ready;
};

}  // namespace velmora
