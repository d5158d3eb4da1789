#include "net/lpd_front.h"

#include <algorithm>
#include <thread>

#include "text/format.h"

namespace velmora {

namespace {

using Clock = std::chrono::steady_clock;
// Connections accepted in one turn before the waiting ones are served again.
constexpr int ACCEPTS_PER_TURN = 64;
// The longest wait of a turn: how soon a stop is seen.
constexpr int TURN_MILLISECONDS = 100;
// The poller's key for the listener.
char ListenerKey;

}  // namespace

CLpdFront::CLpdFront(const CLpdServerParts& parts, const CLpdSessionPlace& place, CSessionGroup& sessions,
                     const CLpdTimingSetting& timing, const std::atomic<bool>* cut, std::atomic<int>& waiting)
    : Parts(parts),
      Place(place),
      Sessions(sessions),
      Timing(timing),
      Cut(cut),
      WaitingCount(waiting),
      Out{parts.Reporter, parts.Reporter.ModeDigit(), static_cast<int>(platform::CurrentThreadId()),
          parts.Settings.LogLevel == 2},
      Gate(parts.Reporter, parts.Settings) {}

CLpdFront::~CLpdFront() {
    const int closed = static_cast<int>(Connections.size());
    while (!Connections.empty())
        Forget(Connections.begin());
    if (closed > 0) {
        Parts.Reporter.WriteLog(Format(
            u"%d\tLPD Server: %d connection(s) without a job yet closed by the stop", Out.Mode, closed));
    }
}

bool CLpdFront::Serve(platform::SocketHandle listener, const std::function<bool()>& running) {
    if (!Poller.Valid() || !Poller.Add(listener, &ListenerKey))
        return false;
    while (running()) {
        Poller.Wait(std::clamp(Timing.Get().PollMilliseconds, 1, TURN_MILLISECONDS), &Ready);
        for (void* key : Ready) {
            if (key == &ListenerKey)
                AcceptAll(listener);
            else
                Advance(static_cast<CWaiting*>(key)->Self);
        }
        EndSilent();
        Gate.WritePendingLines();
    }
    Poller.Remove(listener);
    return true;
}

void CLpdFront::AcceptAll(platform::SocketHandle listener) {
    using namespace platform;
    for (int i = 0; i < ACCEPTS_PER_TURN; ++i) {
        CIpv4SocketAddress peer;
        CSocket socket(Accept(listener, &peer, true));
        if (socket) {
            // A refused client's socket closes here, unread.
            if (Gate.Admits(peer))
                Admit(std::move(socket), peer);
            continue;
        }
        const int error = LastSocketError();
        if (error == WSA_WOULD_BLOCK)
            return;
        const std::u16string text = Format(u"%d\tLPD Server: ERROR ON ACCEPT (%d)", Out.Mode, error);
        Parts.Reporter.ReportFailure(text);
        // A lasting failure (no descriptors left) would otherwise fill the log as fast as it can.
        std::this_thread::sleep_for(std::chrono::milliseconds(TURN_MILLISECONDS));
        return;
    }
}

void CLpdFront::Admit(platform::CSocket socket, const platform::CIpv4SocketAddress& peer) {
    std::unique_ptr<LpdConnection> connection = CreateConnection();
    if (!connection) {
        Parts.Reporter.WriteLog(
            Format(u"%d\tERROR: cannot run thread LPD client (allocation error)", Out.Mode));
        return;
    }
    connection->Socket = std::move(socket);
    connection->Peer = std::make_unique<platform::CIpv4SocketAddress>(peer);
    connection->Timing = Timing.Get();
    connection->Cut = Cut;
    const Waiting waiting = Connections.insert(Connections.end(), CWaiting{});
    waiting->Self = waiting;
    waiting->Connection = std::move(connection);
    waiting->Greeting.Peer = platform::AddressText(peer);
    ++WaitingCount;
    if (!Poller.Add(waiting->Connection->Socket.Get(), &*waiting)) {
        waiting->Connection->Error = platform::LastSocketError();
        EndGreeting(*waiting->Connection, &waiting->Greeting);
        End(waiting);
        return;
    }
    // The queue line often comes with the connection.
    Advance(waiting);
}

void CLpdFront::Advance(Waiting waiting) {
    LpdConnection* connection = waiting->Connection.get();
    CLpdGreeting& greeting = waiting->Greeting;
    waiting->SilentSince = Clock::now();
    Connections.splice(Connections.end(), Connections, waiting);
    for (;;) {
        const int result = ReceiveLineSoFar(connection, !waiting->LineStarted);
        waiting->LineStarted = true;
        if (result > 0)
            return;
        if (result < 0) {
            EndGreeting(*connection, &greeting);
            End(waiting);
            return;
        }
        if (greeting.Reached == CLpdGreeting::Step::Subcommand) {
            greeting.Reached = CLpdGreeting::Step::Done;
            StartSession(waiting);
            return;
        }
        AnswerFirstLine(connection, Parts.PrinterList, &greeting);
        if (greeting.Ended) {
            End(waiting);
            return;
        }
        // Bytes behind the queue line are dropped, as a session's next reception drops them.
        waiting->LineStarted = false;
    }
}

void CLpdFront::EndSilent() {
    const auto now = Clock::now();
    while (!Connections.empty()) {
        const Waiting waiting = Connections.begin();
        const CLpdReceiveTiming& timing = waiting->Connection->Timing;
        const auto limit =
            std::chrono::milliseconds(int64_t{timing.PollMilliseconds} * (int64_t{timing.IdleLimit} + 1));
        if (now - waiting->SilentSince < limit)
            break;
        waiting->Connection->Length = 0;
        waiting->Connection->Error = ERROR_INTERNAL_TIMEOUT;
        EndGreeting(*waiting->Connection, &waiting->Greeting);
        End(waiting);
    }
}

void CLpdFront::End(Waiting waiting) {
    LogGreeting(Out, waiting->Greeting, static_cast<int>(waiting->Connection->Socket.Get()));
    Forget(waiting);
}

void CLpdFront::StartSession(Waiting waiting) {
    Poller.Remove(waiting->Connection->Socket.Get());
    auto connection = std::make_shared<std::unique_ptr<LpdConnection>>(std::move(waiting->Connection));
    auto greeting = std::make_shared<CLpdGreeting>(std::move(waiting->Greeting));
    Connections.erase(waiting);
    --WaitingCount;
    // The server's parts and place outlive every session; this front may not.
    const bool started = Sessions.Start([&parts = Parts, &place = Place, connection, greeting] {
        LpdSessionThread(std::move(*connection), *greeting, parts, place);
    });
    if (!started) {
        // Out of threads: this connection is closed unserved; the listener goes on.
        Parts.Reporter.WriteLog(
            Format(u"%d\tERROR: cannot run thread LPD client (no thread left)", Out.Mode));
    }
}

void CLpdFront::Forget(Waiting waiting) {
    Poller.Remove(waiting->Connection->Socket.Get());
    Connections.erase(waiting);
    --WaitingCount;
}

}  // namespace velmora
