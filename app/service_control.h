// The program's own service, Velmora_VirtualPrinter: its installation, start, pause, continue and removal
// through the service control manager.
#pragma once

#include <string>

#include "core/reporter.h"
#include "platform/service_manager.h"

namespace velmora {

inline constexpr char16_t SERVICE_NAME[] = u"Velmora_VirtualPrinter";

// The state of a service that is not installed or does not answer.
inline constexpr int SERVICE_STATE_UNKNOWN = -1;

// The operations run on the main thread during start-up and shutdown only, one at a time.
class CServiceControl {
  public:
    explicit CServiceControl(CReporter& reporter) : Reporter(reporter) {}

    // Opens the service, or installs it when it is missing and create is set (automatic start, the
    // program with "-WINSERV"); empty when it neither exists nor could be installed.
    platform::CServiceHandle OpenOrCreateService(bool create);
    // The service's state (SERVICE_STOPPED ... SERVICE_PAUSED), or SERVICE_STATE_UNKNOWN; the first form
    // opens the service, without installing it, for this query only.
    int QueryServiceState();
    int QueryServiceState(platform::ScHandle service);
    // Waits while the service is in the pending state and makes progress (its check point grows within
    // its wait hint); true when it has then reached the target state.
    bool WaitForServiceState(platform::ScHandle service, int pendingState, int targetState);

    // Pauses the service when it is installed and running; true also when there is nothing to pause.
    bool HoldService();
    // Continues the service when it is installed and paused; true also when there is nothing to continue.
    bool ResumeService();
    // Removes the service when it is stopped; true also when it is not installed. A service in any other
    // state is left as it is.
    bool UninstallService();
    // Installs the service when needed and starts it unless it runs, then reports the outcome.
    void InstallAndStartService(bool silent);

    // The outcome of a service run: a message box, or with silent a log line (a log line in the service
    // and wherever no window can show it).
    void ReportServiceOutcome(const std::u16string& text, MessageIcon icon, bool silent);

  private:
    void LogFailure(const char16_t* call);
    bool ControlAndWait(platform::ScHandle service, uint32_t control, int pendingState, int targetState);
    void LogRefusedRemoval(int state);

    CReporter& Reporter;
    platform::CServiceStatus Status;
};

}  // namespace velmora
