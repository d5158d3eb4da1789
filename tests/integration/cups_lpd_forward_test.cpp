// The LPD forwarding client against cups-lpd, which hands each job to a private scheduler whose raw queue
// prints it on a stand-in printer: a job counts once printed and reported completed.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

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

struct SchedulerJob {
    int Id;
    ipp_jstate_t State;
    std::string Name, User;
};

// The scheduler's jobs in the order of their ids, once there are that many and all are completed (or the
// time is over).
std::vector<SchedulerJob> CompletedJobs(std::size_t count) {
    std::vector<SchedulerJob> jobs;
    test::WaitUntil(
        [&] {
            cups_job_t* list = nullptr;
            const int found = cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, nullptr, 0, CUPS_WHICHJOBS_ALL);
            jobs.clear();
            for (int i = 0; i < found; ++i)
                jobs.push_back({list[i].id, list[i].state, list[i].title ? list[i].title : "",
                                list[i].user ? list[i].user : ""});
            cupsFreeJobs(found, list);
            std::sort(jobs.begin(), jobs.end(), [](const auto& a, const auto& b) { return a.Id < b.Id; });
            return jobs.size() >= count && std::all_of(jobs.begin(), jobs.end(), [](const SchedulerJob& job) {
                       return job.State == IPP_JSTATE_COMPLETED;
                   });
        },
        PRINT_MILLISECONDS);
    return jobs;
}

struct Request {
    std::u16string Queue = U16(QUEUE);
    std::u16string JobClass;
    std::u16string JobName;
    std::u16string HostName = u"printhost";
    std::u16string UserName = u"alice";
    std::string File;
    std::u16string Document;
};

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
    std::string Write(const std::string& name, const std::string& content) {
        const std::string path = folder_.File(name);
        test::WriteFile(path, content);
        return path;
    }
    CLpdSendResult Forward(const Request& job) {
        return SendJobByLpd(CLpdJobRequest{lpd_->Port(), u"127.0.0.1", job.Queue, job.JobClass, job.JobName,
                                           job.HostName, job.UserName, U16(job.File), job.Document,
                                           CLpdClientTimeouts()});
    }
    test::TempFolder folder_;
    test::FakePrinter printer_;
    test::CupsServer cups_;
    std::unique_ptr<test::CupsLpd> lpd_;
};

TEST_F(CupsLpdForwardTest, JobsArePrintedUnchangedWithTheirNamesAndRefusedQueuesLeaveNoJob) {
    const std::string text = "Quarterly report\r\nline two\n\f";
    Request report;
    report.File = Write("report.txt", text);
    report.JobClass = u"Ledger";
    report.JobName = u"Quarterly figures";
    report.Document = u"report.txt";
    CLpdSendResult outcome = Forward(report);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    EXPECT_EQ(outcome.Text, "The file is printed");
    std::string printed;
    ASSERT_TRUE(printer_.NextDocument(&printed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    EXPECT_EQ(printed, text);
    // Unknown queues and queues not shared refuse the request.
    std::string failure;
    for (const bool shared : {true, false}) {
        Request refused = report;
        refused.Queue = shared ? u"nope" : U16(QUEUE);
        ASSERT_TRUE(test::ShareCupsQueue(QUEUE, shared, &failure)) << failure;
        outcome = Forward(refused);
        EXPECT_EQ(outcome.Code, -1);
        EXPECT_EQ(outcome.Text, "The print request is rejected");
    }
    ASSERT_TRUE(test::ShareCupsQueue(QUEUE, true, &failure)) << failure;
    // Every byte value, over many of the client's 4096-byte pieces and not a multiple of them.
    std::string binary;
    for (int value = 0; value < 256; ++value)
        binary += static_cast<char>(value);
    std::mt19937 random(7);
    while (binary.size() < 1024 * 1024 + 17)
        binary += static_cast<char>(random());
    Request scan;
    scan.File = Write("scan.bin", binary);
    scan.UserName = u"bob";
    scan.JobName = u"Scan";
    scan.Document = u"scan.bin";
    outcome = Forward(scan);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    ASSERT_TRUE(printer_.NextDocument(&printed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    EXPECT_TRUE(printed == binary) << "the printed document differs: " << printed.size() << " bytes";
    // Printed, not only received: the scheduler completed both jobs, named by the J line and owned by the
    // P line's user; the refused requests left none.
    const std::vector<SchedulerJob> jobs = CompletedJobs(2);
    ASSERT_EQ(jobs.size(), 2u) << cups_.ErrorLog();
    for (const auto& [job, name, user] :
         {std::tuple{jobs[0], "Quarterly figures", "alice"}, std::tuple{jobs[1], "Scan", "bob"}}) {
        EXPECT_EQ(job.State, IPP_JSTATE_COMPLETED);
        EXPECT_EQ(job.Name, name);
        EXPECT_EQ(job.User, user);
    }
}

}  // namespace
}  // namespace velmora
