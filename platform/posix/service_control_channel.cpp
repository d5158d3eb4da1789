#include "platform/posix/service_control_channel.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/service_database.h"

namespace velmora::platform::posix {

namespace {

// Binds or connects a socket to the control socket in a service's folder. A path too long for a socket
// address is reached through the folder's descriptor.
template <typename Operation>
int WithControlAddress(const std::string& folder, Operation operation) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = folder + "/control";
    CFileDescriptor folderDescriptor;
    if (path.size() >= sizeof address.sun_path) {
        folderDescriptor = CFileDescriptor(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!folderDescriptor.IsValid())
            return -1;
        path = "/proc/self/fd/" + std::to_string(folderDescriptor.Get()) + "/control";
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int result = operation(reinterpret_cast<const sockaddr*>(&address), socklen_t{sizeof address});
    const int error = errno;
    folderDescriptor.Close();
    errno = error;
    return result;
}

}  // namespace

CFileDescriptor ListenForControls(const std::string& folder) {
    CFileDescriptor listener(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!listener.IsValid())
        return listener;
    unlink((folder + "/control").c_str());
    const int fd = listener.Get();
    if (WithControlAddress(folder, [fd](const sockaddr* a, socklen_t l) { return bind(fd, a, l); }) != 0 ||
        listen(fd, 16) != 0) {
        const int error = errno;
        listener.Close();
        errno = error;
    }
    return listener;
}

bool ConnectToControls(const std::string& folder, CFileDescriptor* connection) {
    *connection = CFileDescriptor(socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!connection->IsValid())
        return false;
    const int fd = connection->Get();
    if (WithControlAddress(folder, [fd](const sockaddr* a, socklen_t l) { return connect(fd, a, l); }) != 0) {
        connection->Close();
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    }
    return true;
}

bool ExchangeControl(int connection, uint32_t control, CControlReply* reply) {
    return SendAll(connection, &control, sizeof control) &&
           ReadExactly(connection, reply, sizeof *reply, CONTROL_TIME_LIMIT_MILLISECONDS);
}

}  // namespace velmora::platform::posix
