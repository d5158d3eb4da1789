// The global options of the "Settings" section of QLSconf.ini, named after their keys.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/profile_file.h"

namespace velmora {

// Worker threads read the settings while the user interface may change them, so each is an atomic value.
class CSettings {
  public:
    // Every key, with the desktop program's defaults.
    void Load(const CProfileFile& file);
    // The keys that the service reads again at every start of its server: printed jobs are then deleted at
    // each start unless the file says otherwise.
    void ReloadServerSettings(const CProfileFile& file);
    // Writes the whole section (as UTF-8); false when the file could not be written.
    bool Save(CProfileFile& file) const;

    std::atomic<int32_t> StartAsService{0};
    std::atomic<int32_t> AutoStart{1};
    std::atomic<int32_t> AutoDelete{0};
    std::atomic<bool> DeleteSpool{false};
    std::atomic<int32_t> DeleteSpoolTimeOut{30};
    std::atomic<int32_t> AutoHide{0};
    std::atomic<int32_t> Stress{0};
    std::atomic<int32_t> PortLPD{515};
    std::atomic<int32_t> AccessFile_MaxAttempts{10};
    std::atomic<int32_t> AccessFile_WaitingTimeMsec{10};
    std::atomic<int32_t> KillProcessIfNeed{0};
    std::atomic<int32_t> LogLevel{1};
    // Non-zero: a received job's data and record reach the disk before its last acknowledgement.
    std::atomic<int32_t> DurableIntake{1};

    // AllowedClients as written (see core/allowed_clients.h); empty: every client.
    std::u16string AllowedClients() const;
    void SetAllowedClients(std::u16string_view text);
    // Goes up at every change of AllowedClients, for readers that keep the list parsed.
    uint32_t AllowedClientsChanges() const { return AllowedClientsVersion; }

  private:
    mutable std::mutex AllowedClientsLock;
    std::u16string AllowedClientsText;
    std::atomic<uint32_t> AllowedClientsVersion{0};

    void ReadServerSettings(const CProfileFile& file, int32_t autoDeleteDefault);
};

}  // namespace velmora
