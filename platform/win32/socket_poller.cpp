#include "platform/socket_poller.h"

#include <algorithm>

#include "platform/socket_native.h"

namespace velmora::platform {

// WSAPoll over every watched socket; removal swaps the last entry into the freed place.
struct CSocketPoller::CNative {
    std::vector<WSAPOLLFD> Entries;
    std::vector<void*> Keys;
};

CSocketPoller::CSocketPoller() : Native(std::make_unique<CNative>()) {}

CSocketPoller::~CSocketPoller() = default;

bool CSocketPoller::Valid() const {
    return true;
}

bool CSocketPoller::Add(SocketHandle socket, void* key) {
    WSAPOLLFD entry = {};
    entry.fd = ToNative(socket);
    entry.events = POLLRDNORM;
    Native->Entries.push_back(entry);
    Native->Keys.push_back(key);
    return true;
}

void CSocketPoller::Remove(SocketHandle socket) {
    auto& entries = Native->Entries;
    const auto found = std::find_if(entries.begin(), entries.end(), [socket](const WSAPOLLFD& entry) {
        return entry.fd == ToNative(socket);
    });
    if (found == entries.end())
        return;
    const auto index = static_cast<std::size_t>(found - entries.begin());
    entries[index] = entries.back();
    entries.pop_back();
    Native->Keys[index] = Native->Keys.back();
    Native->Keys.pop_back();
}

void CSocketPoller::Wait(int timeoutMilliseconds, std::vector<void*>* ready) {
    ready->clear();
    auto& entries = Native->Entries;
    if (entries.empty()) {
        Sleep(static_cast<DWORD>(timeoutMilliseconds));
        return;
    }
    const int count = WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), timeoutMilliseconds);
    if (count == SOCKET_ERROR) {
        FailSocketCall();
        return;
    }
    for (std::size_t i = 0; i < entries.size() && static_cast<int>(ready->size()) < count; ++i) {
        if (entries[i].revents != 0)
            ready->push_back(Native->Keys[i]);
    }
}

}  // namespace velmora::platform
