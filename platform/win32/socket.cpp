// winsock2.h comes before every other Windows header.
// clang-format off
#include "platform/socket_native.h"
#include <mstcpip.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/system_error.h"

namespace velmora::platform {

namespace {

// Waits for one socket to become readable (or writable); 1 ready, 0 time-out, -1 failure.
int WaitFor(SocketHandle socket, bool writable, int timeoutMilliseconds) {
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(ToNative(socket), &ready);
    FD_SET(ToNative(socket), &failed);
    timeval limit = {timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    // A failed connect shows in the exception set, not as writable.
    const int result = select(0, writable ? nullptr : &ready, writable ? &ready : nullptr,
                              writable ? &failed : nullptr, &limit);
    if (result == SOCKET_ERROR)
        return FailSocketCall();
    return result > 0 ? 1 : 0;
}

}  // namespace

int FailSocketCall() {
    SetSocketErrorCode(WSAGetLastError());
    return -1;
}

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
        FailSocketCall();
        return SOCKET_INVALID;
    }
    return static_cast<SocketHandle>(handle);
}

int SetNonBlocking(SocketHandle socket, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    if (ioctlsocket(ToNative(socket), FIONBIO, &mode) != 0)
        return FailSocketCall();
    return 0;
}

int SetQuickAck(SocketHandle socket) {
    // Windows has no per-receive quick acknowledgement; an acknowledgement frequency of one segment is the
    // same for the connection's lifetime (Windows 8 and later).
    DWORD frequency = 1;
    DWORD returned = 0;
    if (WSAIoctl(ToNative(socket), SIO_TCP_SET_ACK_FREQUENCY, &frequency, sizeof frequency, nullptr, 0,
                 &returned, nullptr, nullptr) != 0) {
        return FailSocketCall();
    }
    return 0;
}

SocketHandle Accept(SocketHandle listener, CIpv4SocketAddress* peer, bool nonBlocking) {
    sockaddr_in address = {};
    int size = sizeof address;
    CSocket accepted(
        static_cast<SocketHandle>(accept(ToNative(listener), reinterpret_cast<sockaddr*>(&address), &size)));
    if (!accepted.IsValid()) {
        FailSocketCall();
        return SOCKET_INVALID;
    }
    // Windows gives the accepted socket the listener's mode; the caller's is set.
    u_long mode = nonBlocking ? 1 : 0;
    if (ioctlsocket(ToNative(accepted.Get()), FIONBIO, &mode) != 0) {
        FailSocketCall();
        return SOCKET_INVALID;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(ToNative(accepted.Get())), HANDLE_FLAG_INHERIT, 0);
    if (peer)
        std::memcpy(peer->Bytes, &address, sizeof peer->Bytes);
    return accepted.Release();
}

long Receive(SocketHandle socket, void* buffer, std::size_t size) {
    const int length = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    const int received = recv(ToNative(socket), static_cast<char*>(buffer), length, 0);
    if (received == SOCKET_ERROR)
        return FailSocketCall();
    return received;
}

long Send(SocketHandle socket, const void* data, std::size_t size) {
    const int length = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    const int sent = send(ToNative(socket), static_cast<const char*>(data), length, 0);
    if (sent == SOCKET_ERROR)
        return FailSocketCall();
    return sent;
}

void CloseSocket(SocketHandle socket) {
    if (socket != SOCKET_INVALID)
        closesocket(ToNative(socket));
}

bool WaitReadable(SocketHandle socket, int timeoutMilliseconds) {
    // A closed, reset or invalid socket counts as readable: the next receive reports it.
    return WaitFor(socket, false, timeoutMilliseconds) > 0;
}

int Connect(SocketHandle socket, const CIpv4SocketAddress& address) {
    if (ConnectNative(socket, address) != 0)
        return FailSocketCall();
    return 0;
}

int ConnectWithin(SocketHandle socket, const CIpv4SocketAddress& address, int timeoutMilliseconds) {
    if (SetNonBlocking(socket, true) != 0)
        return -1;
    int result = 0;
    if (ConnectNative(socket, address) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            result = FailSocketCall();
        } else {
            const int ready = WaitFor(socket, true, timeoutMilliseconds);
            if (ready == 0) {
                SetSocketErrorCode(WSA_TIMED_OUT);
                result = -1;
            } else if (ready > 0) {
                int error = 0;
                int size = sizeof error;
                if (getsockopt(ToNative(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                               &size) != 0) {
                    result = FailSocketCall();
                } else if (error != 0) {
                    SetSocketErrorCode(error);
                    result = -1;
                }
            } else {
                result = -1;
            }
        }
    }
    return EndTimedConnect(socket, result);
}

int SetSendTimeout(SocketHandle socket, int timeoutMilliseconds) {
    const DWORD limit = static_cast<DWORD>(timeoutMilliseconds);
    if (setsockopt(ToNative(socket), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&limit),
                   sizeof limit) != 0) {
        return FailSocketCall();
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
