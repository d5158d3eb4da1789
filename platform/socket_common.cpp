// The parts of the socket layer that read the same on every system.
#include "platform/socket_native.h"

#include <cstring>

namespace velmora::platform {

namespace {

// Kept per thread by this layer: a later unrelated call must not overwrite the code of the failure the
// caller asks about.
thread_local int lastSocketError = 0;

#ifdef _WIN32
using NativeAddress = u_long;
#else
using NativeAddress = in_addr_t;
#endif

int SetIntegerOption(SocketHandle socket, int level, int name, int value) {
    // Windows takes its BOOL options, an int, through a char pointer.
    if (setsockopt(ToNative(socket), level, name, reinterpret_cast<const char*>(&value), sizeof value) != 0)
        return FailSocketCall();
    return 0;
}

int Bind(SocketHandle socket, NativeAddress address, uint16_t port) {
#ifndef _WIN32
    // A restarted server must be able to bind its port at once, while connections of the previous run
    // still linger in TIME_WAIT. On Linux this never lets two listeners share a port. Windows lets a
    // listener bind such a port without it, and there SO_REUSEADDR would let a second listener share it.
    if (SetIntegerOption(socket, SOL_SOCKET, SO_REUSEADDR, 1) != 0)
        return -1;
#endif
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address);
    if (bind(ToNative(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return FailSocketCall();
    return 0;
}

}  // namespace

static_assert(sizeof(CIpv4SocketAddress) == sizeof(sockaddr_in));

void SetSocketErrorCode(int code) {
    lastSocketError = code;
}

int LastSocketError() {
    return lastSocketError;
}

int ConnectNative(SocketHandle socket, const CIpv4SocketAddress& address) {
    sockaddr_in remote;
    std::memcpy(&remote, address.Bytes, sizeof remote);
    return connect(ToNative(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote);
}

int EndTimedConnect(SocketHandle socket, int result) {
    // Restoring the mode must not hide the connection's own failure code.
    const int failure = lastSocketError;
    if (SetNonBlocking(socket, false) != 0 && result == 0)
        return -1;
    lastSocketError = failure;
    return result;
}

int SetKeepAlive(SocketHandle socket, bool enable) {
    return SetIntegerOption(socket, SOL_SOCKET, SO_KEEPALIVE, enable ? 1 : 0);
}

int SetNoDelay(SocketHandle socket) {
    return SetIntegerOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

int BindAnyAddress(SocketHandle socket, uint16_t port) {
    return Bind(socket, INADDR_ANY, port);
}

int BindLoopback(SocketHandle socket, uint16_t port) {
    return Bind(socket, INADDR_LOOPBACK, port);
}

int BindLocalAddress(SocketHandle socket, uint32_t address, uint16_t port) {
    return Bind(socket, address, port);
}

int Listen(SocketHandle socket, int backlog) {
    if (listen(ToNative(socket), backlog) != 0)
        return FailSocketCall();
    return 0;
}

uint16_t LocalPort(SocketHandle socket) {
    sockaddr_in address = {};
    SocketAddressSize size = sizeof address;
    if (getsockname(ToNative(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        FailSocketCall();
        return 0;
    }
    return address.sin_family == AF_INET ? ntohs(address.sin_port) : 0;
}

std::string AddressText(const CIpv4SocketAddress& address) {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, address.Bytes, sizeof ipv4);
    char text[INET_ADDRSTRLEN] = {};
    // inet_ntop rather than inet_ntoa: the latter's static buffer is shared by all threads.
    if (!inet_ntop(AF_INET, &ipv4.sin_addr, text, sizeof text))
        return std::string();
    return text;
}

bool ResolveIpv4(const std::string& host, uint16_t port, CIpv4SocketAddress* address) {
    addrinfo hints = {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) {
        lastSocketError = WSA_HOST_NOT_FOUND;
        return false;
    }
    sockaddr_in ipv4;
    std::memcpy(&ipv4, found->ai_addr, sizeof ipv4);
    freeaddrinfo(found);
    ipv4.sin_port = htons(port);
    std::memcpy(address->Bytes, &ipv4, sizeof address->Bytes);
    return true;
}

}  // namespace velmora::platform
