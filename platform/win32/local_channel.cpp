#include "platform/local_channel.h"

namespace velmora::platform {

// Windows has no channel yet: the tool works on the files, and refuses changes while a server runs.
struct CLocalConnection::CNative {};
struct CLocalChannelListener::CNative {};

CLocalConnection::CLocalConnection() : Native(std::make_unique<CNative>()) {}
CLocalConnection::~CLocalConnection() = default;
CLocalConnection::CLocalConnection(CLocalConnection&& other) noexcept = default;
CLocalConnection& CLocalConnection::operator=(CLocalConnection&& other) noexcept = default;

bool CLocalConnection::IsOpen() const {
    return false;
}

bool CLocalConnection::SendMessage(const std::string&) {
    return false;
}

bool CLocalConnection::ReceiveMessage(std::string*, int) {
    return false;
}

bool CLocalConnection::PeerIsPrinterAdministrator() const {
    return false;
}

CLocalChannelListener::CLocalChannelListener() : Native(std::make_unique<CNative>()) {}
CLocalChannelListener::~CLocalChannelListener() = default;

bool CLocalChannelListener::Listen(const std::u16string&) {
    return false;
}

CLocalConnection CLocalChannelListener::Accept(int) {
    return CLocalConnection();
}

void CLocalChannelListener::Close() {}

bool ConnectLocalChannel(const std::u16string&, CLocalConnection*) {
    return false;
}

}  // namespace velmora::platform
