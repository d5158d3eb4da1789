#include "platform/socket_poller.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/socket_native.h"

namespace velmora::platform {

namespace {
// Readiness taken per wait; more simply wait for the next call.
constexpr int EVENTS_PER_WAIT = 256;
}  // namespace

struct CSocketPoller::CNative {
    int Epoll = -1;
    epoll_event Events[EVENTS_PER_WAIT];
};

CSocketPoller::CSocketPoller() : Native(std::make_unique<CNative>()) {
    Native->Epoll = epoll_create1(EPOLL_CLOEXEC);
    if (Native->Epoll < 0)
        FailSocketCall();
}

CSocketPoller::~CSocketPoller() {
    if (Native->Epoll >= 0)
        close(Native->Epoll);
}

bool CSocketPoller::Valid() const {
    return Native->Epoll >= 0;
}

bool CSocketPoller::Add(SocketHandle socket, void* key) {
    epoll_event event = {};
    event.events = EPOLLIN;
    event.data.ptr = key;
    if (epoll_ctl(Native->Epoll, EPOLL_CTL_ADD, ToNative(socket), &event) != 0)
        return FailSocketCall() == 0;
    return true;
}

void CSocketPoller::Remove(SocketHandle socket) {
    epoll_event unused = {};
    epoll_ctl(Native->Epoll, EPOLL_CTL_DEL, ToNative(socket), &unused);
}

void CSocketPoller::Wait(int timeoutMilliseconds, std::vector<void*>* ready) {
    ready->clear();
    const int count = epoll_wait(Native->Epoll, Native->Events, EVENTS_PER_WAIT, timeoutMilliseconds);
    if (count < 0) {
        FailSocketCall();
        return;
    }
    for (int i = 0; i < count; ++i)
        ready->push_back(Native->Events[i].data.ptr);
}

}  // namespace velmora::platform
