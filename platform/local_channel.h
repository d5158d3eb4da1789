// A local channel between programs of this machine: a socket file on Linux, whose folder's permissions
// say who may reach it, a named pipe on Windows. Messages go whole: a 4-byte length, then the bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace velmora::platform {

class CLocalConnection {
  public:
    CLocalConnection();
    ~CLocalConnection();
    CLocalConnection(CLocalConnection&& other) noexcept;
    CLocalConnection& operator=(CLocalConnection&& other) noexcept;

    bool IsOpen() const;
    bool SendWhole(const std::string& bytes);
    // Waits up to the time for a whole message; false when none came.
    bool ReceiveWhole(std::string* bytes, int timeoutMilliseconds);
    // Whether the program at the other end may administer the printers (see IsPrinterAdministrator).
    bool PeerIsPrinterAdministrator() const;

    struct CNative;
    std::unique_ptr<CNative> Native;
};

class CLocalChannelListener {
  public:
    CLocalChannelListener();
    ~CLocalChannelListener();
    CLocalChannelListener(const CLocalChannelListener&) = delete;
    CLocalChannelListener& operator=(const CLocalChannelListener&) = delete;

    // Listens on the name (a path on Linux, which an earlier listener may have left), only for the
    // administrators of the printers on Windows. False when it cannot.
    bool Listen(const std::u16string& name);
    // Waits up to the time for a caller: its connection, or one that is not open.
    CLocalConnection Accept(int timeoutMilliseconds);
    // Stops listening; the name goes.
    void Close();

  private:
    struct CNative;
    std::unique_ptr<CNative> Native;
};

// Connects to the listener of the name; false when none listens there.
bool ConnectLocalChannel(const std::u16string& name, CLocalConnection* connection);

}  // namespace velmora::platform
