// The channel between the service manager's callers and a service's dispatcher: a local stream socket
// named "control" in the service's folder. A caller sends a control code; the dispatcher answers once
// the service's handler has returned.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/posix/file_descriptor.h"
#include "platform/service_manager.h"

namespace velmora::platform::posix {

// How long a caller waits for the handler to return.
constexpr int CONTROL_TIME_LIMIT_MILLISECONDS = 30000;
// How long the dispatcher waits for the control code of a caller that has connected.
constexpr int REQUEST_TIME_LIMIT_MILLISECONDS = 5000;

// A control's answer: 0 or an error number, then the status.
struct CControlReply {
    int32_t Result = 0;
    CServiceStatus Status;
};

// Listens on the folder's control socket, replacing an earlier one; nothing held, with errno set, on
// failure.
CFileDescriptor ListenForControls(const std::string& folder);
// Connects to the dispatcher listening in the folder. False with errno set: the socket's failure, or
// ERROR_SERVICE_NOT_ACTIVE when no dispatcher listens there.
bool ConnectToControls(const std::string& folder, CFileDescriptor* connection);
// Sends the control code and waits for the dispatcher's reply.
bool ExchangeControl(int connection, uint32_t control, CControlReply* reply);

}  // namespace velmora::platform::posix
