// The socket owner and the socket calls that read the same on every system, on real loopback sockets:
// a listener is there while its owner holds it and gone once the owner closes it.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

#include "net/lpd_connection.h"
#include "platform/socket.h"

namespace velmora {
namespace {

using platform::CSocket;

// A listener on an ephemeral loopback port.
CSocket Listener(uint16_t* port) {
    CSocket listener(platform::CreateTcpSocket());
    EXPECT_TRUE(listener.IsValid()) << platform::LastSocketError();
    EXPECT_EQ(platform::BindLoopback(listener.Get(), 0), 0) << platform::LastSocketError();
    EXPECT_EQ(platform::Listen(listener.Get(), 4), 0) << platform::LastSocketError();
    *port = platform::LocalPort(listener.Get());
    EXPECT_NE(*port, 0);
    return listener;
}

// 0 when a connection to the loopback port is made, otherwise the Windows Sockets code.
int ConnectTo(uint16_t port) {
    platform::CIpv4SocketAddress address;
    EXPECT_TRUE(platform::ResolveIpv4("127.0.0.1", port, &address));
    const CSocket client(platform::CreateTcpSocket());
    if (platform::ConnectWithin(client.Get(), address, 30000) != 0)
        return platform::LastSocketError();
    return 0;
}

TEST(SocketTest, OwnerClosesItsSocketOnceAndMovesHandItOver) {
    uint16_t port = 0;
    uint16_t second = 0;
    { const CSocket listener = Listener(&port); }
    EXPECT_EQ(ConnectTo(port), platform::WSA_CONNECTION_REFUSED);
    // The plain connect reads the same, and the code belongs to the thread whose call failed.
    platform::CIpv4SocketAddress address;
    ASSERT_TRUE(platform::ResolveIpv4("127.0.0.1", port, &address));
    const CSocket client(platform::CreateTcpSocket());
    EXPECT_EQ(platform::Connect(client.Get(), address), -1);
    EXPECT_EQ(SocketErrorName(platform::LastSocketError()), u"WSAECONNREFUSED");
    int otherThread = -1;
    std::thread([&] { otherThread = platform::LastSocketError(); }).join();
    EXPECT_EQ(otherThread, 0);
    // Released: the socket outlives the owner, until closed by hand.
    platform::SocketHandle raw = platform::SOCKET_INVALID;
    {
        CSocket listener = Listener(&port);
        raw = listener.Release();
        EXPECT_FALSE(listener.IsValid());
    }
    EXPECT_EQ(ConnectTo(port), 0);
    platform::CloseSocket(raw);
    EXPECT_EQ(ConnectTo(port), platform::WSA_CONNECTION_REFUSED);
    // Moved, then closed by taking another socket; closing again closes nothing.
    CSocket first = Listener(&port);
    CSocket moved(std::move(first));
    EXPECT_FALSE(first.IsValid());
    EXPECT_EQ(ConnectTo(port), 0);
    moved = Listener(&second);
    EXPECT_EQ(ConnectTo(port), platform::WSA_CONNECTION_REFUSED);
    EXPECT_EQ(ConnectTo(second), 0);
    moved.Close();
    EXPECT_FALSE(moved.IsValid());
    moved.Close();
    EXPECT_EQ(ConnectTo(second), platform::WSA_CONNECTION_REFUSED);
}

// Host names and unknown hosts: lpd_client_test, with real servers.
TEST(SocketTest, ResolvesAndWritesIpv4Addresses) {
    for (const auto& [host, port] :
         {std::pair<const char*, uint16_t>{"127.0.0.1", 515}, {"10.200.3.4", 65535}}) {
        platform::CIpv4SocketAddress address;
        ASSERT_TRUE(platform::ResolveIpv4(host, port, &address)) << host;
        EXPECT_EQ(platform::AddressText(address), host);
        // The port, in network order after the family.
        EXPECT_EQ(address.Bytes[2] * 256 + address.Bytes[3], port) << host;
    }
}

}  // namespace
}  // namespace velmora
