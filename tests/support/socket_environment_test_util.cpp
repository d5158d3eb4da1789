// Windows Sockets are started once for a whole test program (nothing to start on Linux).
#include <gtest/gtest.h>

#include "platform/socket.h"

namespace velmora::test {

namespace {

class SocketEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { platform::SocketStartup(); }
    void TearDown() override { platform::SocketCleanup(); }
};

[[maybe_unused]] ::testing::Environment* const SOCKETS =
    ::testing::AddGlobalTestEnvironment(new SocketEnvironment);

}  // namespace

}  // namespace velmora::test
