#include "support/lpd_test_util.h"

#include "platform/socket.h"

namespace velmora::test {

RawLpdClient::RawLpdClient(uint16_t port, uint32_t source) {
    platform::SocketStartup();
    platform::CIpv4SocketAddress address;
    const platform::SocketHandle socket = platform::CreateTcpSocket();
    if (socket == platform::SOCKET_INVALID)
        return;
    fd_ = socket;
    if ((source != 0 && platform::BindLocalAddress(socket, source, 0) != 0) ||
        !platform::ResolveIpv4("127.0.0.1", port, &address) || platform::Connect(socket, address) != 0)
        Close();
}

RawLpdClient::~RawLpdClient() {
    Close();
    platform::SocketCleanup();
}

void RawLpdClient::Close() {
    if (fd_ >= 0)
        platform::CloseSocket(fd_);
    fd_ = -1;
}

bool RawLpdClient::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const long n = platform::Send(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && platform::LastSocketError() == platform::WSA_INTERRUPTED)
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
    if (!platform::WaitReadable(fd_, timeoutMilliseconds))
        return -2;
    unsigned char byte = 0;
    const long n = platform::Receive(fd_, &byte, 1);
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

uint16_t FreeLoopbackPort() {
    platform::SocketStartup();
    const platform::SocketHandle socket = platform::CreateTcpSocket();
    uint16_t port = 0;
    if (socket != platform::SOCKET_INVALID && platform::BindLoopback(socket, 0) == 0)
        port = platform::LocalPort(socket);
    if (socket != platform::SOCKET_INVALID)
        platform::CloseSocket(socket);
    platform::SocketCleanup();
    return port;
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
