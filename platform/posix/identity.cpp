#include "platform/identity.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <vector>

#include "platform/ansi.h"

namespace velmora::platform {

std::u16string ComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return std::u16string();
    return AnsiToUnicode(name);
}

std::u16string UserName() {
    // getpwuid_r: callers may ask on several threads at once.
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384);
    passwd entry = {};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_name)
        return std::u16string();
    return AnsiToUnicode(found->pw_name);
}

}  // namespace velmora::platform
