#include <fcntl.h>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/socket_native.h"
#include "platform/system_error.h"

namespace velmora::platform {

namespace {

// Windows Sockets code for an errno value, so that logs and error names read the same on every system.
int WsaCodeFor(int error) {
    switch (error) {
        case EINTR:
            return 10004;
        case EBADF:
            return 10009;
        case EPERM:  // a firewall rule refusing the call: Windows reports such refusals as access denied
        case EACCES:
            return 10013;
        case EFAULT:
            return 10014;
        case EINVAL:
            return 10022;
        case ENFILE:
        case EMFILE:
            return 10024;
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
        case EAGAIN:
            return WSA_WOULD_BLOCK;
        case EINPROGRESS:
            return 10036;
        case EALREADY:
            return 10037;
        case ENOTSOCK:
            return 10038;
        case EDESTADDRREQ:
            return 10039;
        case EMSGSIZE:
            return 10040;
        case EPROTOTYPE:
            return 10041;
        case ENOPROTOOPT:
            return 10042;
        case EPROTONOSUPPORT:
            return 10043;
        case ESOCKTNOSUPPORT:
            return 10044;
        case EOPNOTSUPP:
            return 10045;
        case EPFNOSUPPORT:
            return 10046;
        case EAFNOSUPPORT:
            return 10047;
        case EADDRINUSE:
            return 10048;
        case EADDRNOTAVAIL:
            return 10049;
        case ENONET:
        case ENETDOWN:
            return 10050;
        case ENETUNREACH:
            return 10051;
        case ENETRESET:
            return 10052;
        case EPROTO:  // accept reports a connection that failed while it was queued this way
        case ECONNABORTED:
            return 10053;
        case ECONNRESET:
            return WSA_CONNECTION_RESET;
        case ENOMEM:
        case ENOBUFS:
            return 10055;
        case EISCONN:
            return 10056;
        case ENOTCONN:
            return 10057;
        case EPIPE:  // sending after the connection was shut down
        case ESHUTDOWN:
            return 10058;
        case ETOOMANYREFS:
            return 10059;
        case ETIMEDOUT:
            return WSA_TIMED_OUT;
        case ECONNREFUSED:
            return WSA_CONNECTION_REFUSED;
        case ELOOP:
            return 10062;
        case ENAMETOOLONG:
            return 10063;
        case EHOSTDOWN:
            return 10064;
        case EHOSTUNREACH:
            return 10065;
        case ENOTEMPTY:
            return 10066;
        case EUSERS:
            return 10068;
        case EDQUOT:
            return 10069;
        case ESTALE:
            return 10070;
        case EREMOTE:
            return 10071;
        // Nothing else is expected from a socket call. Passing the raw errno on could collide with the
        // connection layer's own small codes (1 to 3), so anything else reads as a failed system call.
        default:
            return 10107;
    }
}

void SetLastSocketError(int error) {
    SetSocketErrorCode(WsaCodeFor(error));
}

// Waits for a connect that a signal interrupted: the connection goes on in the background.
int FinishInterruptedConnect(SocketHandle socket) {
    pollfd entry = {ToNative(socket), POLLOUT, 0};
    while (poll(&entry, 1, -1) < 0) {
        if (errno != EINTR)
            return FailSocketCall();
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(ToNative(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return FailSocketCall();
    if (error != 0) {
        SetLastSocketError(error);
        return -1;
    }
    return 0;
}

}  // namespace

int FailSocketCall() {
    SetLastSocketError(errno);
    return -1;
}

int SocketStartup() {
    return 0;
}

void SocketCleanup() {}

SocketHandle CreateTcpSocket() {
    const int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        FailSocketCall();
        return SOCKET_INVALID;
    }
    return descriptor;
}

int SetNonBlocking(SocketHandle socket, bool nonBlocking) {
    const int flags = fcntl(ToNative(socket), F_GETFL);
    if (flags < 0)
        return FailSocketCall();
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (wanted != flags && fcntl(ToNative(socket), F_SETFL, wanted) != 0)
        return FailSocketCall();
    return 0;
}

int SetQuickAck(SocketHandle socket) {
    const int one = 1;
    if (setsockopt(ToNative(socket), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one) != 0)
        return FailSocketCall();
    return 0;
}

SocketHandle Accept(SocketHandle listener, CIpv4SocketAddress* peer, bool nonBlocking) {
    sockaddr_in address = {};
    socklen_t size = sizeof address;
    int descriptor;
    // The accepted socket's mode is the caller's, whatever the listener's.
    const int flags = SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0);
    do {
        descriptor = accept4(ToNative(listener), reinterpret_cast<sockaddr*>(&address), &size, flags);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        FailSocketCall();
        return SOCKET_INVALID;
    }
    if (peer)
        std::memcpy(peer->Bytes, &address, sizeof peer->Bytes);
    return descriptor;
}

long Receive(SocketHandle socket, void* buffer, std::size_t size) {
    ssize_t received;
    do {
        received = recv(ToNative(socket), buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return FailSocketCall();
    return static_cast<long>(received);
}

long Send(SocketHandle socket, const void* data, std::size_t size) {
    ssize_t sent;
    // MSG_NOSIGNAL: a peer that went away must give an error, not a SIGPIPE that ends the process.
    do {
        sent = send(ToNative(socket), data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        // On a blocking socket this is the end of the send time limit, which Windows reports as a time-out.
        if ((errno == EAGAIN || errno == EWOULDBLOCK) && (fcntl(ToNative(socket), F_GETFL) & O_NONBLOCK) == 0)
            errno = ETIMEDOUT;
        return FailSocketCall();
    }
    return static_cast<long>(sent);
}

void CloseSocket(SocketHandle socket) {
    // Not retried on EINTR: Linux releases the descriptor even then, and it may already be reused.
    if (socket != SOCKET_INVALID)
        close(ToNative(socket));
}

bool WaitReadable(SocketHandle socket, int timeoutMilliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    pollfd entry = {ToNative(socket), POLLIN, 0};
    int remaining = timeoutMilliseconds;
    for (;;) {
        const int ready = poll(&entry, 1, remaining);
        // A closed, reset or invalid socket counts as readable: the next receive reports it.
        if (ready > 0)
            return true;
        if (ready == 0)
            return false;
        if (errno != EINTR) {
            SetLastSocketError(errno);
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        remaining = static_cast<int>(left);
    }
}

int Connect(SocketHandle socket, const CIpv4SocketAddress& address) {
    if (ConnectNative(socket, address) == 0)
        return 0;
    if (errno == EINTR)
        return FinishInterruptedConnect(socket);
    return FailSocketCall();
}

int ConnectWithin(SocketHandle socket, const CIpv4SocketAddress& address, int timeoutMilliseconds) {
    using Clock = std::chrono::steady_clock;
    if (SetNonBlocking(socket, true) != 0)
        return -1;
    int result = 0;
    if (ConnectNative(socket, address) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = FailSocketCall();
        } else {
            const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
            pollfd entry = {ToNative(socket), POLLOUT, 0};
            for (;;) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                const int ready = poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0)));
                if (ready > 0)
                    break;
                if (ready == 0) {
                    SetSocketErrorCode(WSA_TIMED_OUT);
                    result = -1;
                    break;
                }
                if (errno != EINTR) {
                    result = FailSocketCall();
                    break;
                }
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (result == 0 && getsockopt(ToNative(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                result = FailSocketCall();
            } else if (result == 0 && error != 0) {
                SetLastSocketError(error);
                result = -1;
            }
        }
    }
    return EndTimedConnect(socket, result);
}

int SetSendTimeout(SocketHandle socket, int timeoutMilliseconds) {
    const timeval limit = {timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    if (setsockopt(ToNative(socket), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)
        return FailSocketCall();
    return 0;
}

std::u16string SocketErrorText(int code) {
    // The errno value behind the code: the first that maps to it. The catch-all code has no single one.
    for (int error = 1; code != 10107 && error < 4096; ++error) {
        if (WsaCodeFor(error) == code)
            return SystemErrorText(error);
    }
    return SystemErrorText(code);
}

uint32_t CurrentThreadId() {
    return static_cast<uint32_t>(gettid());
}

}  // namespace velmora::platform
