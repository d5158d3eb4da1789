// One accepted LPD connection and the byte-level operations the receive-job session performs on it:
// polled reception of a line or of an exact number of bytes with a silence time limit, reading bytes and
// tokens out of what was received, single-byte replies, and the names log lines give to errors.
//
// The operations write no log lines: they report through their result (0 success, -1 failure) and the
// connection's error field, which the session logs with SocketErrorName.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "platform/socket.h"

namespace velmora {

// The connection's own error codes; any other non-zero error is a Windows Sockets code.
inline constexpr int32_t ERROR_SOCKET_NUMBER = 1;     // the connection has no socket
inline constexpr int32_t ERROR_ALLOCATION = 2;        // no receive buffer (also: a negative count)
inline constexpr int32_t ERROR_INTERNAL_TIMEOUT = 3;  // the peer stayed silent too long
inline constexpr int32_t ERROR_SESSION_CUT = 4;       // the server's stop cut the reception
inline constexpr int32_t CONNECTION_CLOSED = 666;     // the peer closed the connection in an orderly way

// How long a reception waits for data: it fails with ERROR_INTERNAL_TIMEOUT once the peer has been silent
// for (idleLimit + 1) x pollMilliseconds (about 10.1 s by default). Every received byte restarts the time.
struct CLpdReceiveTiming {
    int32_t PollMilliseconds = 100;
    int32_t IdleLimit = 100;
};

// The timing the server gives each new connection; tests change it while the server runs.
class CLpdTimingSetting {
  public:
    CLpdReceiveTiming Get() const {
        std::lock_guard<std::mutex> lock(Lock);
        return Value;
    }
    void Set(const CLpdReceiveTiming& value) {
        std::lock_guard<std::mutex> lock(Lock);
        Value = value;
    }

  private:
    mutable std::mutex Lock;
    CLpdReceiveTiming Value;
};

struct CFreeBytes {
    void operator()(char* bytes) const { std::free(bytes); }
};

// Belongs to one thread at a time (the listener, then the connection's own thread): no lock.
struct LpdConnection {
    LpdConnection() = default;
    LpdConnection(const LpdConnection&) = delete;
    LpdConnection& operator=(const LpdConnection&) = delete;

    // Closed with the record.
    platform::CSocket Socket;
    // The peer's address as accept gave it; null until the listener sets it.
    std::unique_ptr<platform::CIpv4SocketAddress> Peer;
    // The bytes of the current reception, always followed by at least one zero byte; null when nothing is
    // held. Each reception replaces it, so take bytes and tokens out before the next one.
    std::unique_ptr<char[], CFreeBytes> Buffer;
    int32_t Position = 0;  // next byte to consume
    int32_t Length = 0;    // bytes received
    int32_t Error = 0;     // outcome of the last reception or send
    // The server's; tests shorten it.
    CLpdReceiveTiming Timing;
    // Set by the server's stop once the sessions' grace has passed: receptions then fail at once.
    const std::atomic<bool>* Cut = nullptr;
};

// A new record without socket, peer or buffer; null only when memory is exhausted.
std::unique_ptr<LpdConnection> CreateConnection();
// Frees the record (closing its socket) and leaves the pointer null; a null pointer is ignored.
void FreeConnection(std::unique_ptr<LpdConnection>& connection);

// wanted = -1 receives a line (until a line feed has arrived; up to 1024 bytes per receive, and bytes
// after the line feed that arrived with it are dropped by the next reception). A count >= 0 receives
// exactly that many bytes and never takes bytes beyond them from the socket. Any other negative count
// fails with ERROR_ALLOCATION without touching the socket. A failure leaves no buffer (length 0).
int ReceiveBytes(LpdConnection* connection, int32_t wanted);
// A line as the listener takes it, without waiting: what has arrived so far. start begins a new line
// (dropping what the connection held); later calls add to it. 0: a line feed has arrived; 1: the line goes
// on (call again once the socket is readable); -1: failed as ReceiveBytes fails. Silence is the caller's
// to time.
int ReceiveLineSoFar(LpdConnection* connection, bool start);
// Receives what has arrived, between 1 and maximum bytes, waiting for the first as ReceiveBytes does: for
// data whose length the client did not announce.
int ReceiveSome(LpdConnection* connection, int32_t maximum);
// For a count: length equals wanted. For -1: a line feed is among the bytes held.
bool IsReceptionComplete(const LpdConnection* connection, int32_t wanted);
bool HasMoreBytes(const LpdConnection* connection);
// The next byte, advancing position; 0 (position unchanged) when every byte has been consumed.
int8_t NextByte(LpdConnection* connection);
// The bytes from position up to the delimiter or the end of the bytes held, with position moved past
// the delimiter. Trailing spaces are removed; leading spaces are kept.
std::string ReadToken(LpdConnection* connection, char delimiter);
// One byte, without retry or wait.
int SendByte(LpdConnection* connection, uint8_t byte);
// The LPD reply: 0x00 for success, 0x01 when failed.
int SendAck(LpdConnection* connection, bool failed);
// Receives and consumes the single byte that ends a control or data file, whatever its value.
int ReceiveEndOfFile(LpdConnection* connection);

// The name log lines give an error code: the connection's own codes, the Windows Sockets names, or the
// number in decimal.
std::u16string SocketErrorName(int32_t code);

}  // namespace velmora
