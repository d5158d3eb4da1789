#include "support/cups_lpd_test_util.h"

#include <unistd.h>

#include "support/cups_server.h"
#include "support/lpd_test_util.h"
#include "support/lprng_test_util.h"

namespace velmora::test {

std::string CupsLpdProgram() {
    // Debian's place first, then that of the distributions that keep helper programs in libexec.
    for (const char* place : {"/usr/lib/cups/daemon/cups-lpd", "/usr/libexec/cups/daemon/cups-lpd"}) {
        if (access(place, X_OK) == 0)
            return place;
    }
    return {};
}

bool ShareCupsQueue(const std::string& queue, bool shared, std::string* failure) {
    return RunLpadmin({"-p", queue, "-o", std::string("printer-is-shared=") + (shared ? "true" : "false")},
                      failure);
}

bool CupsLpd::Start(std::string* reason) {
    const std::string cupsLpd = CupsLpdProgram();
    if (cupsLpd.empty() || access("/usr/bin/socat", X_OK) != 0) {
        *reason = "cups-lpd or socat is not installed (scripts/setup.sh installs them)";
        return false;
    }
    // A free port can be taken by someone else before socat binds it: then another one is tried.
    for (int attempt = 0; attempt < 5; ++attempt) {
        port_ = FreeLoopbackPort();
        // nofork: the connection's own socket becomes cups-lpd's standard input and output.
        pid_ = StartDaemon(
            {"/usr/bin/socat", "TCP-LISTEN:" + std::to_string(port_) + ",bind=127.0.0.1,reuseaddr,fork",
             "EXEC:" + cupsLpd + " -n,nofork"},
            folder_.File("socat.log"), {"CUPS_SERVER=" + schedulerSocket_});
        // The probe's connection runs a cups-lpd that finds no command and ends.
        int status = 0;
        if (WaitListening(
                &pid_, [this] { return Accepts(port_); }, 10000, &status))
            return true;
        Stop();
    }
    *reason = "socat did not listen: " + ReadFile(folder_.File("socat.log"));
    return false;
}

void CupsLpd::Stop() {
    EndProcessTree(&pid_, 3000);
}

}  // namespace velmora::test
