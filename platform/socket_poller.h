// Waits on many sockets at once for something to read: the listener's way of holding connections that
// have no thread of their own. Each socket is added with a key of the caller's, which the wait gives back
// when that socket is ready. Belongs to one thread.
#pragma once

#include <memory>
#include <vector>

#include "platform/socket.h"

namespace velmora::platform {

class CSocketPoller {
  public:
    CSocketPoller();
    ~CSocketPoller();
    CSocketPoller(const CSocketPoller&) = delete;
    CSocketPoller& operator=(const CSocketPoller&) = delete;

    // False when the system gave no poller (the code is left for LastSocketError).
    bool Valid() const;
    // Watches the socket until it is removed; false when it cannot be watched.
    bool Add(SocketHandle socket, void* key);
    // Before the socket is closed.
    void Remove(SocketHandle socket);
    // Waits up to the time for watched sockets with data, a connection or a close (a closed, reset or
    // failed socket counts as ready: the next receive reports it). Their keys replace ready's content.
    void Wait(int timeoutMilliseconds, std::vector<void*>* ready);

  private:
    struct CNative;
    std::unique_ptr<CNative> Native;
};

}  // namespace velmora::platform
