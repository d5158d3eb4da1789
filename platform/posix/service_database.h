// The Linux service manager's database (described in platform/service_manager.h): one folder per
// service with its configuration, the status it last reported and its control socket, and the lock that
// every change of an installation and every start takes.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "platform/posix/file_descriptor.h"
#include "platform/service_manager.h"

namespace velmora::platform {

struct CServiceManagerObject {
    bool IsService = false;
    std::string Database;  // the database folder
    std::string Name;      // the service's name (services only)
};

namespace posix {

constexpr char STARTED_SERVICE_VARIABLE[] = "VELMORA_STARTED_SERVICE";
constexpr char DATABASE_VARIABLE[] = "VELMORA_SERVICE_DATABASE";

// Leaves the code as the calling thread's last system error: false, or null.
inline bool Fail(int code) {
    errno = code;
    return false;
}

template <typename T>
T* FailWith(int code) {
    errno = code;
    return nullptr;
}

// The text in the system's 8-bit encoding, as names and command lines are kept on disk.
std::string Native(const std::u16string& text);

std::string DatabaseFolder();
std::string ServiceFolder(const std::string& database, const std::string& name);
bool PathExists(const std::string& path);
// Names become folder names: nothing that leaves the database folder or hides among its own files.
bool IsValidServiceName(const std::string& name);
bool MakeFolders(const std::string& path);
// Replaces the file whole by a rename, so that a reader never sees half of one.
bool WriteWholeFile(const std::string& path, const std::string& content, mode_t mode);

// What the database holds about a service's status: the status it reported and who reported it.
struct CStatusRecord {
    CServiceStatus Status;
    pid_t ProcessId = 0;
    uint64_t ProcessStartTime = 0;  // tells a process from a later one that got the same id
    bool Connected = false;         // its dispatcher receives controls
    bool Exists = false;            // a status was ever recorded
};

bool ReadStatus(const std::string& folder, CStatusRecord* record);
bool WriteStatus(const std::string& folder, const CStatusRecord& record);
bool ReadConfig(const std::string& folder, CServiceConfig* config);
bool WriteConfig(const std::string& folder, const CServiceConfig& config);
bool ServiceInstalled(const std::string& folder);
bool MarkedForDeletion(const std::string& folder);

// The start time of a process in clock ticks since boot (field 22 of /proc/<pid>/stat); 0 when the
// process does not exist or has ended (a zombie waiting for its parent counts as ended).
uint64_t ProcessStartTime(pid_t pid);
bool ProcessAlive(const CStatusRecord& record);
// The service's status as it stands: what it reported, or stopped once its process is gone.
CServiceStatus EffectiveStatus(const CServiceConfig& config, const CStatusRecord& record);
bool IsRunning(const CStatusRecord& record);

// The database's lock, taken by every change of an installation and by every start.
class CDatabaseLock {
  public:
    explicit CDatabaseLock(const std::string& database);
    bool Held() const { return LockFile.IsValid(); }

  private:
    CFileDescriptor LockFile;
};

// Removes a service's folder and unit; the caller holds the database lock.
bool RemoveService(const std::string& database, const std::string& name);

}  // namespace posix
}  // namespace velmora::platform
