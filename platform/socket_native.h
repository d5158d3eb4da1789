// What the socket layer's files share inside the platform layer: the system's socket headers and types,
// and this thread's last socket error, which every failing call sets.
#pragma once

#ifdef _WIN32
// winsock2.h comes before every other Windows header.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

#include "platform/socket.h"

namespace velmora::platform {

#ifdef _WIN32
using NativeSocket = SOCKET;
using SocketAddressSize = int;
#else
using NativeSocket = int;
using SocketAddressSize = socklen_t;
#endif

inline NativeSocket ToNative(SocketHandle socket) {
    return static_cast<NativeSocket>(socket);
}

// Keeps the Windows Sockets code as this thread's last socket error (what LastSocketError returns).
void SetSocketErrorCode(int code);
// Keeps the code of the socket call that has just failed (errno, or WSAGetLastError); returns -1.
int FailSocketCall();
// The connect call itself: its result, and a failure's code left where the system leaves it.
int ConnectNative(SocketHandle socket, const CIpv4SocketAddress& address);
// Makes the socket blocking again after a connect with a time limit, whose outcome is given (0 or -1); a
// failure of the connect keeps its own code.
int EndTimedConnect(SocketHandle socket, int result);

}  // namespace velmora::platform
