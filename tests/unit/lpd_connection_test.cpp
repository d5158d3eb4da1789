// A session's connection on real loopback sockets (the socket owner: FileDescriptorTest, lpd_session_test).
#include "net/lpd_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/socket.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using platform::SOCKET_INVALID;
using platform::SocketHandle;

// A loopback client's connection as the listener hands it over: non-blocking, with the peer address.
class LpdConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        listener_ = platform::CreateTcpSocket();
        ASSERT_NE(listener_, SOCKET_INVALID);
        ASSERT_EQ(platform::BindLoopback(listener_, 0), 0);
        ASSERT_EQ(platform::Listen(listener_, 4), 0);
        platform::CIpv4SocketAddress address;
        ASSERT_TRUE(platform::ResolveIpv4("127.0.0.1", platform::LocalPort(listener_), &address));
        client_ = platform::CreateTcpSocket();
        ASSERT_NE(client_, SOCKET_INVALID);
        ASSERT_EQ(platform::Connect(client_, address), 0);
        connection_ = CreateConnection();
        ASSERT_TRUE(connection_);
        connection_->Peer = std::make_unique<platform::CIpv4SocketAddress>();
        connection_->Socket = platform::CSocket(platform::Accept(listener_, connection_->Peer.get()));
        ASSERT_TRUE(connection_->Socket);
        ASSERT_EQ(platform::SetNonBlocking(connection_->Socket.Get(), true), 0);
    }
    void TearDown() override {
        FreeConnection(connection_);
        platform::CloseSocket(client_);
        platform::CloseSocket(listener_);
    }
    void ClientSends(std::string_view bytes) {
        while (!bytes.empty()) {
            const long sent = platform::Send(client_, bytes.data(), bytes.size());
            ASSERT_GT(sent, 0) << platform::LastSocketError();
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
    }
    // What the client receives, up to count bytes; fewer when nothing more comes.
    std::string ClientReceives(std::size_t count) {
        std::string received;
        while (received.size() < count && platform::WaitReadable(client_, 5000)) {
            char bytes[256];
            const long n = platform::Receive(client_, bytes, std::min(sizeof bytes, count - received.size()));
            if (n <= 0)
                break;
            received.append(bytes, static_cast<std::size_t>(n));
        }
        return received;
    }
    void CloseClient() {
        platform::CloseSocket(client_);
        client_ = SOCKET_INVALID;
    }
    std::string Held() const {
        return std::string(connection_->Buffer.get(), static_cast<std::size_t>(connection_->Length));
    }
    LpdConnection* Connection() { return connection_.get(); }
    SocketHandle listener_ = SOCKET_INVALID;
    SocketHandle client_ = SOCKET_INVALID;
    std::unique_ptr<LpdConnection> connection_;
};

// Whole sessions (lpd_session_test) cover commands and their tokens; here the edges of the buffer.
TEST_F(LpdConnectionTest, LineReceptionEndsAtTheLineFeedAndItsTokensAtTheirDelimiters) {
    ClientSends("AB\nCD");
    ASSERT_EQ(ReceiveBytes(Connection(), -1), 0);
    EXPECT_EQ(Held(), "AB\nCD");
    EXPECT_EQ(connection_->Buffer[5], 0);
    for (char expected : std::string("AB\nCD")) {
        EXPECT_TRUE(HasMoreBytes(Connection()));
        EXPECT_EQ(NextByte(Connection()), expected);
    }
    EXPECT_FALSE(HasMoreBytes(Connection()));
    EXPECT_EQ(NextByte(Connection()), 0);
    EXPECT_EQ(connection_->Position, 5);
    // Trailing spaces go, leading ones stay.
    for (const auto& [line, token] : {std::pair{"abc  \n", "abc"}, {"  lead \n", "  lead"}, {"   \n", ""}}) {
        ClientSends(line);
        ASSERT_EQ(ReceiveBytes(Connection(), -1), 0);
        EXPECT_EQ(ReadToken(Connection(), '\n'), token);
        EXPECT_EQ(connection_->Position, connection_->Length);
    }
    // Without its delimiter a token runs to the end of the bytes held.
    ClientSends("a b");
    ASSERT_EQ(ReceiveBytes(Connection(), 3), 0);
    EXPECT_EQ(ReadToken(Connection(), '\n'), "a b");
    EXPECT_EQ(connection_->Position, 3);
}

// A line in many segments grows the buffer; a count reception takes exactly its count.
TEST_F(LpdConnectionTest, LongLineFromManySegmentsAndACountReception) {
    std::string line(3000, 'x');
    for (std::size_t i = 0; i < line.size(); i += 7)
        line[i] = static_cast<char>('a' + i % 26);
    line += '\n';
    std::jthread sender([this, line] {
        for (std::size_t at = 0; at < line.size(); at += 700) {
            ClientSends(std::string_view(line).substr(at, 700));
            std::this_thread::sleep_for(1ms);
        }
    });
    ASSERT_EQ(ReceiveBytes(Connection(), -1), 0);
    EXPECT_EQ(Held(), line);
    sender.join();
    ClientSends("datatail");
    ASSERT_EQ(ReceiveBytes(Connection(), 4), 0);
    EXPECT_EQ(Held(), "data");
}

TEST_F(LpdConnectionTest, AZeroCountLeavesTheSocketAlone) {
    ClientSends("X");
    ASSERT_TRUE(platform::WaitReadable(connection_->Socket.Get(), 5000));
    ASSERT_EQ(ReceiveBytes(Connection(), 0), 0);
    EXPECT_EQ(connection_->Length, 0);
    ASSERT_NE(connection_->Buffer, nullptr);
    EXPECT_EQ(connection_->Buffer[0], 0);
    EXPECT_FALSE(HasMoreBytes(Connection()));
    ASSERT_EQ(ReceiveBytes(Connection(), 1), 0);
    EXPECT_EQ(Held(), "X");
}

TEST_F(LpdConnectionTest, EndOfFileAcceptsAnyByteAndBytesReadSigned) {
    ClientSends("\xff");
    ASSERT_EQ(ReceiveEndOfFile(Connection()), 0);
    EXPECT_FALSE(HasMoreBytes(Connection()));
    ClientSends("\xff\x80\x7f");
    ASSERT_EQ(ReceiveBytes(Connection(), 3), 0);
    EXPECT_EQ(NextByte(Connection()), -1);
    EXPECT_EQ(NextByte(Connection()), -128);
    EXPECT_EQ(NextByte(Connection()), 127);
}

TEST_F(LpdConnectionTest, PeerClosingBeforeTheEndFailsAsConnectionClosed) {
    ClientSends("partial line");
    CloseClient();
    EXPECT_EQ(ReceiveBytes(Connection(), -1), -1);
    EXPECT_EQ(SocketErrorName(connection_->Error), u"CONNECTION_CLOSED");
    EXPECT_EQ(connection_->Buffer, nullptr);
    EXPECT_EQ(ReceiveEndOfFile(Connection()), -1);
}

TEST_F(LpdConnectionTest, EveryByteRestartsTheSilenceLimit) {
    // About one second of silence allowed; the whole reception lasts twice that.
    connection_->Timing = {20, 50};
    std::jthread sender([&] {
        for (char byte : std::string("slow!")) {
            std::this_thread::sleep_for(400ms);
            ClientSends(std::string_view(&byte, 1));
        }
    });
    ASSERT_EQ(ReceiveBytes(Connection(), 5), 0) << connection_->Error;
    EXPECT_EQ(Held(), "slow!");
}

TEST_F(LpdConnectionTest, SendsSingleBytesAndAcknowledgements) {
    ASSERT_EQ(SendAck(Connection(), false), 0);
    ASSERT_EQ(SendAck(Connection(), true), 0);
    ASSERT_EQ(SendByte(Connection(), 0xfe), 0);
    EXPECT_EQ(connection_->Error, 0);
    EXPECT_EQ(ClientReceives(3), std::string("\x00\x01\xfe", 3));
}

TEST_F(LpdConnectionTest, SendingToAVanishedPeerFailsWithoutEndingTheProcess) {
    CloseClient();
    ASSERT_TRUE(test::WaitUntil([&] { return SendByte(Connection(), 'x') == -1; }));
    EXPECT_TRUE(connection_->Error == platform::WSA_CONNECTION_RESET || connection_->Error == 10058)
        << connection_->Error;
}

TEST(SocketErrorNameTest, NamesTheKnownCodesAndNumbersTheRest) {
    for (const auto& [code, name] :
         {std::pair{10004, u"WSAEINTR"}, {10060, u"WSAETIMEDOUT"}, {10112, u"WSAEREFUSED"}})
        EXPECT_EQ(SocketErrorName(code), name) << code;
    for (int code : {-1, 10003, 10072, 10113})
        EXPECT_EQ(SocketErrorName(code), test::U16(std::to_string(code)));
}

}  // namespace
}  // namespace velmora
