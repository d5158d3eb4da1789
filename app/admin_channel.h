// The channel by which velmora-admin reaches a running server (a socket file beside the server's files,
// which the base folder's permissions restrict as they restrict the files; a named pipe for Administrators
// on Windows): its commands run here, on the server's own settings, virtual printers and jobs, one at a
// time, so that the files have one writer.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "admin/admin_command.h"
#include "core/reporter.h"
#include "platform/local_channel.h"

namespace velmora {

// The channel's name for the base folder.
std::u16string AdminChannelName(const std::u16string& baseFolder);

class CAdminChannel {
  public:
    CAdminChannel(CReporter& reporter, CAdminParts parts) : Reporter(reporter), Parts(parts) {}
    ~CAdminChannel() { Stop(); }
    CAdminChannel(const CAdminChannel&) = delete;
    CAdminChannel& operator=(const CAdminChannel&) = delete;

    // Listens on the base folder's channel and answers on a thread of its own; without a channel (the
    // failure is logged) the tool finds the server running and refuses changes.
    void Start(const std::u16string& baseFolder);
    void Stop();

  private:
    void Serve();
    void Answer(platform::CLocalConnection& connection);

    CReporter& Reporter;
    CAdminParts Parts;
    platform::CLocalChannelListener Listener;
    std::atomic<bool> Stopping{false};
    std::thread Thread;
};

}  // namespace velmora
