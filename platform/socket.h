// TCP sockets with Windows Sockets meaning: handles, non-blocking calls, and error codes that are the
// Windows Sockets numbers on every system (EWOULDBLOCK reads 10035, ECONNRESET 10054, ...), so that log
// lines and error names read the same everywhere.
#pragma once

#include <cstdint>
#include <string>

#include "platform/handle_owner.h"

namespace velmora::platform {

using SocketHandle = intptr_t;
inline constexpr SocketHandle SOCKET_INVALID = -1;

// Windows Sockets error codes the system tests for.
inline constexpr int WSA_INTERRUPTED = 10004;
inline constexpr int WSA_WOULD_BLOCK = 10035;
inline constexpr int WSA_CONNECTION_RESET = 10054;
inline constexpr int WSA_TIMED_OUT = 10060;
inline constexpr int WSA_CONNECTION_REFUSED = 10061;
inline constexpr int WSA_HOST_NOT_FOUND = 11001;

// The 16 bytes of an IPv4 socket address as accept fills them (family, port, address, zero padding).
struct CIpv4SocketAddress {
    uint8_t Bytes[16] = {};
};

// Windows Sockets start-up and clean-up (nothing to do where sockets need no start-up). 0 on success.
int SocketStartup();
void SocketCleanup();

// Each call that fails returns -1 (or SOCKET_INVALID) and leaves the code for LastSocketError.
SocketHandle CreateTcpSocket();
int SetNonBlocking(SocketHandle socket, bool nonBlocking);
int SetKeepAlive(SocketHandle socket, bool enable);
// Acknowledges received data at once instead of delaying the ACK; not permanent, so set before each receive.
int SetQuickAck(SocketHandle socket);
// Sends small writes at once instead of holding them until the peer acknowledges earlier data (Nagle).
int SetNoDelay(SocketHandle socket);
// Binds to every local IPv4 address.
int BindAnyAddress(SocketHandle socket, uint16_t port);
// Binds to the IPv4 loopback address only (tests, local tools).
int BindLoopback(SocketHandle socket, uint16_t port);
// Binds to one local IPv4 address (host byte order): a client that must come from that address.
int BindLocalAddress(SocketHandle socket, uint32_t address, uint16_t port);
int Listen(SocketHandle socket, int backlog);
// The accepted socket is blocking unless nonBlocking, whatever the listener's mode.
SocketHandle Accept(SocketHandle listener, CIpv4SocketAddress* peer, bool nonBlocking = false);
// Bytes received, 0 when the peer closed the connection in an orderly way, -1 on failure.
long Receive(SocketHandle socket, void* buffer, std::size_t size);
long Send(SocketHandle socket, const void* data, std::size_t size);
void CloseSocket(SocketHandle socket);
// The Windows Sockets code of the calling thread's last failed socket call.
int LastSocketError();

struct CSocketTraits {
    using HandleType = SocketHandle;
    static constexpr SocketHandle Invalid() { return SOCKET_INVALID; }
    static bool Close(SocketHandle socket) {
        CloseSocket(socket);
        return true;
    }
};
// Owns one socket and closes it with CloseSocket.
using CSocket = CHandleOwner<CSocketTraits>;

// Waits up to the time for the socket to have something to read (data, a connection or a close):
// true when it has, false on time-out.
bool WaitReadable(SocketHandle socket, int timeoutMilliseconds);

// The local port a socket is bound to (0 when unknown).
uint16_t LocalPort(SocketHandle socket);
// The address in dotted decimal, as inet_ntoa gives it.
std::string AddressText(const CIpv4SocketAddress& address);

// Resolves a dotted address or a host name to an IPv4 address; false when it cannot be resolved.
bool ResolveIpv4(const std::string& host, uint16_t port, CIpv4SocketAddress* address);
// Connects a blocking socket; 0 on success.
int Connect(SocketHandle socket, const CIpv4SocketAddress& address);
// The same, giving up after the time with WSA_TIMED_OUT; the socket stays blocking.
int ConnectWithin(SocketHandle socket, const CIpv4SocketAddress& address, int timeoutMilliseconds);
// Limits how long one blocking send may wait for the peer to take data; such a send then fails with
// WSA_TIMED_OUT (or returns the part it could send).
int SetSendTimeout(SocketHandle socket, int timeoutMilliseconds);
// The system's description of a Windows Sockets code.
std::u16string SocketErrorText(int code);

// The operating system's identifier of the calling thread.
uint32_t CurrentThreadId();

}  // namespace velmora::platform
