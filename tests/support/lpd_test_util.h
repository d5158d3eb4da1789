// Speaking LPD to the server under test, byte by byte, as a client would.
#pragma once

#include <cstdint>
#include <string>

namespace velmora::test {

class RawLpdClient {
  public:
    // Connects to 127.0.0.1:port, from a loopback address of its own when source (host byte order) is set.
    explicit RawLpdClient(uint16_t port, uint32_t source = 0);
    ~RawLpdClient();
    RawLpdClient(const RawLpdClient&) = delete;
    RawLpdClient& operator=(const RawLpdClient&) = delete;

    bool Connected() const { return fd_ >= 0; }
    bool Send(const std::string& bytes);
    // The next reply byte, or -1 when the server closed the connection, or -2 after the time limit.
    int Reply(int timeoutMilliseconds = 20000);
    // True when the server closes the connection (without sending anything more) within the time.
    bool WaitClosed(int timeoutMilliseconds = 20000);
    void Close();

    // Subcommand line, reply, bytes and end byte, reply; the second reply, or the first when not 0.
    int SendFile(char subcommand, const std::string& name, const std::string& content, char endByte = '\0');

  private:
    intptr_t fd_ = -1;  // a socket handle of the platform layer, -1 when none
};

// A loopback port nobody listens on now.
uint16_t FreeLoopbackPort();

// Queue line, control file, data file, close, as RFC 1179 clients send a job; true when every reply was 0.
bool SendLpdJob(uint16_t port, const std::string& queue, const std::string& controlFile,
                const std::string& data);

}  // namespace velmora::test
