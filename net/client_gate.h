// The listener's check of each accepted connection against AllowedClients: a client outside the list is
// closed before anything is read. Refusals are logged at most once a minute per address, with their count,
// so that a flood of them cannot flood the log. Belongs to the listener's thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <unordered_map>

#include "core/allowed_clients.h"
#include "core/reporter.h"
#include "core/settings.h"
#include "platform/socket.h"

namespace velmora {

class CClientGate {
  public:
    CClientGate(CReporter& reporter, const CSettings& settings);
    // Writes the counts of refusals not logged yet.
    ~CClientGate();
    CClientGate(const CClientGate&) = delete;
    CClientGate& operator=(const CClientGate&) = delete;

    // Whether the client may print. The list is read again when the settings change, and its unreadable
    // entries logged once.
    bool Admits(const platform::CIpv4SocketAddress& peer);
    // Logs the refusals counted for a minute since an address's last line; called every turn.
    void WritePendingLines();

    // How long the refusals of one address are counted before the next line.
    static constexpr std::chrono::seconds REFUSAL_LOG_PERIOD{60};

  private:
    using Clock = std::chrono::steady_clock;
    struct CRefusals {
        Clock::time_point LineAt;
        long Pending = 0;
    };

    void ReadList();
    void WriteLine(uint32_t address, long count);

    CReporter& Reporter;
    const CSettings& Settings;
    uint32_t Version = 0;
    CAllowedClients List;
    std::unordered_map<uint32_t, CRefusals> Refused;
    Clock::time_point LastScan;
};

}  // namespace velmora
