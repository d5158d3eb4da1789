// The LPD forwarding client against cups-lpd, which hands each job to a private scheduler whose raw queue
// prints it on a stand-in printer: a job counts once printed and reported completed.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "output/lpd_client.h"
#include "support/cups_lpd_test_util.h"
#include "support/cups_server.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::U16;

constexpr const char* QUEUE = "ledger";
// Limits that only keep a broken set-up from hanging the tests.
constexpr int PRINT_MILLISECONDS = 60000;

class CupsLpdForwardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (test::CupsLpdProgram().empty())
            GTEST_SKIP() << "cups-lpd is not installed (scripts/setup.sh installs it)";
        ASSERT_TRUE(printer_.Listening());
        ASSERT_TRUE(cups_.Start()) << cups_.Failure();
        ASSERT_TRUE(cups_.AddRawQueue(QUEUE, printer_.DeviceUri())) << cups_.Failure();
        std::string failure;
        ASSERT_TRUE(test::ShareCupsQueue(QUEUE, true, &failure)) << failure;
        lpd_ = std::make_unique<test::CupsLpd>(cups_.SocketPath());
        ASSERT_TRUE(lpd_->Start(&failure)) << failure;
    }
    void TearDown() override {
        // cups-lpd goes before the scheduler it talks to.
        lpd_.reset();
    }
    test::TempFolder folder_;
    test::FakePrinter printer_;
    test::CupsServer cups_;
    std::unique_ptr<test::CupsLpd> lpd_;
};

// Printed, not only received: the scheduler completes the job, named by the J line and owned by the P
// line's user.
TEST_F(CupsLpdForwardTest, AJobIsPrintedUnchangedWithItsNameAndUser) {
    // Every byte value, over many of the client's 4096-byte pieces and not a multiple of them.
    std::string binary;
    for (int value = 0; value < 256; ++value)
        binary += static_cast<char>(value);
    std::mt19937 random(7);
    while (binary.size() < 1024 * 1024 + 17)
        binary += static_cast<char>(random());
    const std::string file = folder_.File("scan.bin");
    test::WriteFile(file, binary);
    const CLpdSendResult outcome =
        SendJobByLpd(CLpdJobRequest{lpd_->Port(), u"127.0.0.1", U16(QUEUE), u"Ledger", u"Scan", u"printhost",
                                    u"bob", U16(file), u"scan.bin", CLpdClientTimeouts()});
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    std::string printed;
    ASSERT_TRUE(printer_.NextDocument(&printed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    EXPECT_TRUE(printed == binary) << "the printed document differs: " << printed.size() << " bytes";
    cups_job_t* jobs = nullptr;
    int count = 0;
    const auto completed = [&] {
        cupsFreeJobs(count, jobs);
        count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
        return count == 1 && jobs[0].state == IPP_JSTATE_COMPLETED;
    };
    EXPECT_TRUE(test::WaitUntil(completed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    if (count == 1) {
        EXPECT_STREQ(jobs[0].title, "Scan");
        EXPECT_STREQ(jobs[0].user, "bob");
    }
    cupsFreeJobs(count, jobs);
}

}  // namespace
}  // namespace velmora
