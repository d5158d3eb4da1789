#include "platform/identity.h"

#include <grp.h>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
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

bool IsPrinterAdministrator() {
    if (geteuid() == 0)
        return true;
    const group* administrators = getgrnam("lpadmin");
    if (!administrators)
        return false;
    if (getegid() == administrators->gr_gid)
        return true;
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(count, 0)));
    if (count <= 0 || getgroups(count, groups.data()) != count)
        return false;
    return std::find(groups.begin(), groups.end(), administrators->gr_gid) != groups.end();
}

}  // namespace velmora::platform
