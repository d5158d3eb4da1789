#include "platform/socket.h"

// winsock2.h comes before every other Windows header.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/system_error.h"

namespace velmora::platform {

namespace {

// Kept per thread by this layer, as on the other systems: a later unrelated call must not overwrite the
// code of the failure the caller asks about.
thread_local int lastSocketError = 0;

int Fail() {
    lastSocketError = WSAGetLastError();
    return -1;
}

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

int Bind(SocketHandle socket, u_long address, uint16_t port) {
    // No address option: Windows lets a listener bind a port whose earlier connections linger in TIME_WAIT,
    // and SO_REUSEADDR there would let a second listener share the port.
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address);
    if (bind(Native(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return Fail();
    return 0;
}

// Waits for one socket to become readable (or writable); 1 ready, 0 time-out, -1 failure.
int WaitFor(SocketHandle socket, bool writable, int timeoutMilliseconds) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(Native(socket), &ready);
    FD_SET(Native(socket), &failed);
    timeval limit = {timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    // A failed connect shows in the exception set, not as writable.
    const int result = select(0, writable ? nullptr : &ready, writable ? &ready : nullptr,
                              writable ? &failed : nullptr, &limit);
    if (result == SOCKET_ERROR)
        return Fail();
    return result > 0 ? 1 : 0;
}

}  // namespace

static_assert(sizeof(Ipv4SocketAddress) == sizeof(sockaddr_in));

int SocketStartup() {
    WSADATA data = {};
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void SocketCleanup() {
    WSACleanup();
}

SocketHandle CreateTcpSocket() {
    // Not inherited by the processes the system starts, like a close-on-exec descriptor.
    const SOCKET handle = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (handle == INVALID_SOCKET) {
        Fail();
        return kInvalidSocket;
    }
    return static_cast<SocketHandle>(handle);
}

int SetNonBlocking(SocketHandle socket, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    if (ioctlsocket(Native(socket), FIONBIO, &mode) != 0)
        return Fail();
    return 0;
}

int SetKeepAlive(SocketHandle socket, bool enable) {
    const BOOL value = enable ? TRUE : FALSE;
    if (setsockopt(Native(socket), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<const char*>(&value),
                   sizeof value) != 0) {
        return Fail();
    }
    return 0;
}

int SetQuickAck(SocketHandle socket) {
    // Windows has no per-receive quick acknowledgement; an acknowledgement frequency of one segment is the
    // same for the connection's lifetime (Windows 8 and later).
    DWORD frequency = 1;
    DWORD returned = 0;
    if (WSAIoctl(Native(socket), SIO_TCP_SET_ACK_FREQUENCY, &frequency, sizeof frequency, nullptr, 0,
                 &returned, nullptr, nullptr) != 0) {
        return Fail();
    }
    return 0;
}

int SetNoDelay(SocketHandle socket) {
    const BOOL one = TRUE;
    if (setsockopt(Native(socket), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                   sizeof one) != 0)
        return Fail();
    return 0;
}

int BindAnyAddress(SocketHandle socket, uint16_t port) {
    return Bind(socket, INADDR_ANY, port);
}

int BindLoopback(SocketHandle socket, uint16_t port) {
    return Bind(socket, INADDR_LOOPBACK, port);
}

int Listen(SocketHandle socket, int backlog) {
    if (listen(Native(socket), backlog) != 0)
        return Fail();
    return 0;
}

SocketHandle Accept(SocketHandle listener, Ipv4SocketAddress* peer) {
    sockaddr_in address = {};
    int size = sizeof address;
    const SOCKET handle = accept(Native(listener), reinterpret_cast<sockaddr*>(&address), &size);
    if (handle == INVALID_SOCKET) {
        Fail();
        return kInvalidSocket;
    }
    // Windows gives the accepted socket the listener's mode; it is blocking whatever that is: the caller
    // decides.
    u_long blocking = 0;
    if (ioctlsocket(handle, FIONBIO, &blocking) != 0) {
        Fail();
        closesocket(handle);
        return kInvalidSocket;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(handle), HANDLE_FLAG_INHERIT, 0);
    if (peer)
        std::memcpy(peer->bytes, &address, sizeof peer->bytes);
    return static_cast<SocketHandle>(handle);
}

long Receive(SocketHandle socket, void* buffer, std::size_t size) {
    const int length = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    const int received = recv(Native(socket), static_cast<char*>(buffer), length, 0);
    if (received == SOCKET_ERROR)
        return Fail();
    return received;
}

long Send(SocketHandle socket, const void* data, std::size_t size) {
    const int length = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    const int sent = send(Native(socket), static_cast<const char*>(data), length, 0);
    if (sent == SOCKET_ERROR)
        return Fail();
    return sent;
}

void CloseSocket(SocketHandle socket) {
    if (socket != kInvalidSocket)
        closesocket(Native(socket));
}

int LastSocketError() {
    return lastSocketError;
}

bool WaitReadable(SocketHandle socket, int timeoutMilliseconds) {
    // A closed, reset or invalid socket counts as readable: the next receive reports it.
    return WaitFor(socket, false, timeoutMilliseconds) > 0;
}

uint16_t LocalPort(SocketHandle socket) {
    sockaddr_in address = {};
    int size = sizeof address;
    if (getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        Fail();
        return 0;
    }
    return address.sin_family == AF_INET ? ntohs(address.sin_port) : 0;
}

std::string AddressText(const Ipv4SocketAddress& address) {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, address.bytes, sizeof ipv4);
    char text[INET_ADDRSTRLEN] = {};
    if (!inet_ntop(AF_INET, &ipv4.sin_addr, text, sizeof text))
        return std::string();
    return text;
}

bool ResolveIpv4(const std::string& host, uint16_t port, Ipv4SocketAddress* address) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        lastSocketError = kWsaHostNotFound;
        return false;
    }
    sockaddr_in ipv4;
    std::memcpy(&ipv4, found->ai_addr, sizeof ipv4);
    freeaddrinfo(found);
    ipv4.sin_port = htons(port);
    std::memcpy(address->bytes, &ipv4, sizeof address->bytes);
    return true;
}

int Connect(SocketHandle socket, const Ipv4SocketAddress& address) {
    sockaddr_in remote;
    std::memcpy(&remote, address.bytes, sizeof remote);
    if (connect(Native(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0)
        return Fail();
    return 0;
}

int ConnectWithin(SocketHandle socket, const Ipv4SocketAddress& address, int timeoutMilliseconds) {
    if (SetNonBlocking(socket, true) != 0)
        return -1;
    sockaddr_in remote;
    std::memcpy(&remote, address.bytes, sizeof remote);
    int result = 0;
    if (connect(Native(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            result = Fail();
        } else {
            const int ready = WaitFor(socket, true, timeoutMilliseconds);
            if (ready == 0) {
                lastSocketError = kWsaTimedOut;
                result = -1;
            } else if (ready > 0) {
                int error = 0;
                int size = sizeof error;
                if (getsockopt(Native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                               &size) != 0) {
                    result = Fail();
                } else if (error != 0) {
                    lastSocketError = error;
                    result = -1;
                }
            } else {
                result = -1;
            }
        }
    }
    // Restoring the mode must not hide the connection's own failure code.
    const int failure = lastSocketError;
    if (SetNonBlocking(socket, false) != 0 && result == 0)
        return -1;
    lastSocketError = failure;
    return result;
}

int SetSendTimeout(SocketHandle socket, int timeoutMilliseconds) {
    const DWORD limit = static_cast<DWORD>(timeoutMilliseconds);
    if (setsockopt(Native(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                   sizeof limit) != 0) {
        return Fail();
    }
    return 0;
}

std::u16string SocketErrorText(int code) {
    return SystemErrorText(code);
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(GetCurrentThreadId());
}

}  // namespace velmora::platform
