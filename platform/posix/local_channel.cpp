#include "platform/local_channel.h"
#include "platform/local_channel_frame.h"

#include <grp.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/ansi.h"
#include "platform/posix/file_descriptor.h"

namespace velmora::platform {

struct CLocalConnection::CNative {
    CFileDescriptor Socket;
};

struct CLocalChannelListener::CNative {
    CFileDescriptor Socket;
    std::string Path;
};

namespace {

bool Address(const std::u16string& name, sockaddr_un* address) {
    const std::string path = UnicodeToAnsi(name);
    if (path.size() >= sizeof address->sun_path)
        return false;
    *address = sockaddr_un{};
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Exactly size bytes, each wait within the time left.
bool ReceiveAll(int fd, char* bytes, std::size_t size, std::chrono::steady_clock::time_point end) {
    for (std::size_t done = 0; done < size;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !WaitForInput(fd, static_cast<int>(left.count())))
            return false;
        const ssize_t got = recv(fd, bytes + done, size - done, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace

CLocalConnection::CLocalConnection() : Native(std::make_unique<CNative>()) {}
CLocalConnection::~CLocalConnection() = default;
CLocalConnection::CLocalConnection(CLocalConnection&& other) noexcept = default;
CLocalConnection& CLocalConnection::operator=(CLocalConnection&& other) noexcept = default;

bool CLocalConnection::IsOpen() const {
    return Native && Native->Socket.IsValid();
}

bool CLocalConnection::SendWhole(const std::string& bytes) {
    std::string framed;
    if (!IsOpen() || !FrameMessage(bytes, &framed))
        return false;
    return SendAll(Native->Socket.Get(), framed.data(), framed.size());
}

bool CLocalConnection::ReceiveWhole(std::string* bytes, int timeoutMilliseconds) {
    if (!IsOpen())
        return false;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    unsigned char head[CHANNEL_HEAD_SIZE];
    std::size_t size = 0;
    if (!ReceiveAll(Native->Socket.Get(), reinterpret_cast<char*>(head), CHANNEL_HEAD_SIZE, end) ||
        !FramedLength(head, &size)) {
        return false;
    }
    bytes->assign(size, '\0');
    return ReceiveAll(Native->Socket.Get(), bytes->data(), size, end);
}

bool CLocalConnection::PeerIsPrinterAdministrator() const {
    ucred peer{};
    socklen_t size = sizeof peer;
    if (!IsOpen() || getsockopt(Native->Socket.Get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    if (peer.uid == 0 || peer.uid == geteuid())
        return true;
    const group* administrators = getgrnam("lpadmin");
    if (!administrators)
        return false;
    if (peer.gid == administrators->gr_gid)
        return true;
    // The peer's supplementary groups, read from its status.
    std::string text;
    if (!ReadWholeFile("/proc/" + std::to_string(peer.pid) + "/status", &text))
        return false;
    const std::size_t line = text.find("\nGroups:");
    if (line == std::string::npos)
        return false;
    const std::string groups = text.substr(line + 8, text.find('\n', line + 1) - line - 8);
    const std::string wanted = std::to_string(administrators->gr_gid);
    std::size_t at = 0;
    while ((at = groups.find_first_of("0123456789", at)) != std::string::npos) {
        const std::size_t end = std::min(groups.find_first_not_of("0123456789", at), groups.size());
        if (groups.compare(at, end - at, wanted) == 0)
            return true;
        at = end;
    }
    return false;
}

CLocalChannelListener::CLocalChannelListener() : Native(std::make_unique<CNative>()) {}

CLocalChannelListener::~CLocalChannelListener() {
    Close();
}

bool CLocalChannelListener::Listen(const std::u16string& name) {
    Close();
    sockaddr_un address;
    if (!Address(name, &address))
        return false;
    CFileDescriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.IsValid())
        return false;
    unlink(address.sun_path);
    if (bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener.Get(), 16) != 0) {
        return false;
    }
    Native->Socket = std::move(listener);
    Native->Path = address.sun_path;
    return true;
}

CLocalConnection CLocalChannelListener::Accept(int timeoutMilliseconds) {
    CLocalConnection connection;
    if (Native->Socket.IsValid() && WaitForInput(Native->Socket.Get(), timeoutMilliseconds))
        connection.Native->Socket =
            CFileDescriptor(accept4(Native->Socket.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    return connection;
}

void CLocalChannelListener::Close() {
    if (!Native->Socket.IsValid())
        return;
    Native->Socket.Close();
    unlink(Native->Path.c_str());
}

bool ConnectLocalChannel(const std::u16string& name, CLocalConnection* connection) {
    sockaddr_un address;
    if (!Address(name, &address))
        return false;
    CFileDescriptor socketHandle(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socketHandle.IsValid() ||
        connect(socketHandle.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return false;
    }
    connection->Native->Socket = std::move(socketHandle);
    return true;
}

}  // namespace velmora::platform
