#include "support/lpd_test_util.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace velmora::test {

RawLpdClient::RawLpdClient(uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        Close();
}

RawLpdClient::~RawLpdClient() {
    Close();
}

void RawLpdClient::Close() {
    if (fd_ >= 0)
        close(fd_);
    fd_ = -1;
}

bool RawLpdClient::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return fd_ >= 0;
}

int RawLpdClient::Reply(int timeoutMilliseconds) {
    if (fd_ < 0)
        return -1;
    pollfd ready{fd_, POLLIN, 0};
    if (poll(&ready, 1, timeoutMilliseconds) <= 0)
        return -2;
    unsigned char byte = 0;
    const ssize_t n = recv(fd_, &byte, 1, 0);
    return n == 1 ? byte : -1;
}

bool RawLpdClient::WaitClosed(int timeoutMilliseconds) {
    return Reply(timeoutMilliseconds) == -1;
}

int RawLpdClient::SendFile(char subcommand, const std::string& name, const std::string& content,
                           char endByte) {
    if (!Send(std::string(1, subcommand) + std::to_string(content.size()) + " " + name + "\n"))
        return -1;
    const int first = Reply();
    if (first != 0)
        return first;
    if (!Send(content + std::string(1, endByte)))
        return -1;
    return Reply();
}

bool SendLpdJob(uint16_t port, const std::string& queue, const std::string& controlFile,
                const std::string& data) {
    RawLpdClient client(port);
    if (!client.Send("\x02" + queue + "\n") || client.Reply() != 0)
        return false;
    if (client.SendFile('\x02', "cfA001client", controlFile) != 0)
        return false;
    if (client.SendFile('\x03', "dfA001client", data) != 0)
        return false;
    client.Close();
    return true;
}

}  // namespace velmora::test
