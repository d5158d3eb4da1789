#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/system_error.h"

namespace velmora::platform {

namespace {

thread_local int lastSocketError = 0;

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
            return kWsaWouldBlock;
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
            return kWsaConnectionReset;
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
            return kWsaTimedOut;
        case ECONNREFUSED:
            return kWsaConnectionRefused;
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
    lastSocketError = WsaCodeFor(error);
}

int Fail() {
    SetLastSocketError(errno);
    return -1;
}

int Descriptor(SocketHandle socket) {
    return static_cast<int>(socket);
}

int Bind(SocketHandle socket, in_addr_t address, uint16_t port) {
    // A restarted server must be able to bind its port at once, while connections of the previous run
    // still linger in TIME_WAIT. On Linux this never lets two listeners share a port.
    const int one = 1;
    if (setsockopt(Descriptor(socket), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0)
        return Fail();
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(address);
    if (bind(Descriptor(socket), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return Fail();
    return 0;
}

// Waits for a connect that a signal interrupted: the connection goes on in the background.
int FinishInterruptedConnect(SocketHandle socket) {
    pollfd entry = {Descriptor(socket), POLLOUT, 0};
    while (poll(&entry, 1, -1) < 0) {
        if (errno != EINTR)
            return Fail();
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (getsockopt(Descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
        return Fail();
    if (error != 0) {
        SetLastSocketError(error);
        return -1;
    }
    return 0;
}

}  // namespace

static_assert(sizeof(Ipv4SocketAddress) == sizeof(sockaddr_in));

int SocketStartup() {
    return 0;
}

void SocketCleanup() {}

SocketHandle CreateTcpSocket() {
    const int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor < 0) {
        Fail();
        return kInvalidSocket;
    }
    return descriptor;
}

int SetNonBlocking(SocketHandle socket, bool nonBlocking) {
    const int flags = fcntl(Descriptor(socket), F_GETFL);
    if (flags < 0)
        return Fail();
    const int wanted = nonBlocking ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
    if (wanted != flags && fcntl(Descriptor(socket), F_SETFL, wanted) != 0)
        return Fail();
    return 0;
}

int SetKeepAlive(SocketHandle socket, bool enable) {
    const int value = enable ? 1 : 0;
    if (setsockopt(Descriptor(socket), SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value) != 0)
        return Fail();
    return 0;
}

int SetQuickAck(SocketHandle socket) {
    const int one = 1;
    if (setsockopt(Descriptor(socket), IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one) != 0)
        return Fail();
    return 0;
}

int SetNoDelay(SocketHandle socket) {
    const int one = 1;
    if (setsockopt(Descriptor(socket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0)
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
    if (listen(Descriptor(socket), backlog) != 0)
        return Fail();
    return 0;
}

SocketHandle Accept(SocketHandle listener, Ipv4SocketAddress* peer) {
    sockaddr_in address = {};
    socklen_t size = sizeof address;
    int descriptor;
    // The accepted socket is blocking whatever the listener's mode: the caller decides.
    do {
        descriptor =
            accept4(Descriptor(listener), reinterpret_cast<sockaddr*>(&address), &size, SOCK_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) {
        Fail();
        return kInvalidSocket;
    }
    if (peer)
        std::memcpy(peer->bytes, &address, sizeof peer->bytes);
    return descriptor;
}

long Receive(SocketHandle socket, void* buffer, std::size_t size) {
    ssize_t received;
    do {
        received = recv(Descriptor(socket), buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return Fail();
    return static_cast<long>(received);
}

long Send(SocketHandle socket, const void* data, std::size_t size) {
    ssize_t sent;
    // MSG_NOSIGNAL: a peer that went away must give an error, not a SIGPIPE that ends the process.
    do {
        sent = send(Descriptor(socket), data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        // On a blocking socket this is the end of the send time limit, which Windows reports as a time-out.
        if ((errno == EAGAIN || errno == EWOULDBLOCK) &&
            (fcntl(Descriptor(socket), F_GETFL) & O_NONBLOCK) == 0)
            errno = ETIMEDOUT;
        return Fail();
    }
    return static_cast<long>(sent);
}

void CloseSocket(SocketHandle socket) {
    // Not retried on EINTR: Linux releases the descriptor even then, and it may already be reused.
    if (socket != kInvalidSocket)
        close(Descriptor(socket));
}

int LastSocketError() {
    return lastSocketError;
}

bool WaitReadable(SocketHandle socket, int timeoutMilliseconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    pollfd entry = {Descriptor(socket), POLLIN, 0};
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

uint16_t LocalPort(SocketHandle socket) {
    sockaddr_in address = {};
    socklen_t size = sizeof address;
    if (getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        Fail();
        return 0;
    }
    return address.sin_family == AF_INET ? ntohs(address.sin_port) : 0;
}

std::string AddressText(const Ipv4SocketAddress& address) {
    sockaddr_in ipv4;
    std::memcpy(&ipv4, address.bytes, sizeof ipv4);
    char text[INET_ADDRSTRLEN] = {};
    // inet_ntop rather than inet_ntoa: the latter's static buffer is shared by all threads.
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
    if (connect(Descriptor(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) == 0)
        return 0;
    if (errno == EINTR)
        return FinishInterruptedConnect(socket);
    return Fail();
}

int ConnectWithin(SocketHandle socket, const Ipv4SocketAddress& address, int timeoutMilliseconds) {
    using Clock = std::chrono::steady_clock;
    if (SetNonBlocking(socket, true) != 0)
        return -1;
    sockaddr_in remote;
    std::memcpy(&remote, address.bytes, sizeof remote);
    int result = 0;
    if (connect(Descriptor(socket), reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            result = Fail();
        } else {
            const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
            pollfd entry = {Descriptor(socket), POLLOUT, 0};
            for (;;) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
                const int ready = poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0)));
                if (ready > 0)
                    break;
                if (ready == 0) {
                    lastSocketError = kWsaTimedOut;
                    result = -1;
                    break;
                }
                if (errno != EINTR) {
                    result = Fail();
                    break;
                }
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (result == 0 && getsockopt(Descriptor(socket), SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
                result = Fail();
            } else if (result == 0 && error != 0) {
                SetLastSocketError(error);
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
    const timeval limit = {timeoutMilliseconds / 1000, (timeoutMilliseconds % 1000) * 1000};
    if (setsockopt(Descriptor(socket), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit) != 0)
        return Fail();
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
