// The administration channel's caller check, with callers of other identities as child processes.
#ifndef _WIN32
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "platform/ansi.h"
#include "platform/local_channel.h"
#include "support/test_util.h"

namespace velmora {
namespace {

// Connects as the identity and stays until the listener closes the connection.
pid_t ConnectAs(const std::string& path, uid_t uid, gid_t gid, bool administratorsGroup,
                gid_t administrators) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    const pid_t child = fork();
    if (child != 0)
        return child;
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    char byte = 0;
    if (setgroups(administratorsGroup ? 1 : 0, &administrators) != 0 || setresgid(gid, gid, gid) != 0 ||
        setresuid(uid, uid, uid) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        _exit(1);
    _exit(read(fd, &byte, 1) == 0 ? 0 : 2);
}

TEST(LocalChannelTest, OnlyRootTheServersUserAndTheGroupLpadminPass) {
    const group* lpadmin = getgrnam("lpadmin");
    if (geteuid() != 0 || !lpadmin)
        GTEST_SKIP() << "needs root and the group lpadmin";
    const gid_t administrators = lpadmin->gr_gid;
    test::TempFolder folder;
    const std::string path = folder.File("admin.socket");
    platform::CLocalChannelListener listener;
    ASSERT_TRUE(listener.Listen(platform::AnsiToUnicode(path)));
    chmod(folder.Path().c_str(), 0755);
    chmod(path.c_str(), 0666);
    const struct {
        uid_t Uid;
        gid_t Gid;
        bool SupplementaryLpadmin;
        bool Passes;
    } CALLERS[] = {
        {0, 0, false, true},
        {65534, 65534, false, false},
        {65534, administrators, false, true},
        {65534, 65534, true, true},
    };
    for (const auto& caller : CALLERS) {
        const pid_t child =
            ConnectAs(path, caller.Uid, caller.Gid, caller.SupplementaryLpadmin, administrators);
        {
            const platform::CLocalConnection connection = listener.Accept(10000);
            ASSERT_TRUE(connection.IsOpen()) << caller.Uid << "/" << caller.Gid;
            EXPECT_EQ(connection.PeerIsPrinterAdministrator(), caller.Passes)
                << caller.Uid << "/" << caller.Gid;
        }
        int status = -1;
        waitpid(child, &status, 0);
        EXPECT_EQ(status, 0);
    }
}

}  // namespace
}  // namespace velmora
#endif
