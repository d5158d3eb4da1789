// The LPD forwarding client against the print spooler's own LPD server: cups-lpd hands each job to a
// private scheduler, whose raw queue prints it on a stand-in printer. A job counts only once the printer
// has its bytes and the scheduler reports it completed, with the names the control file gave it.
#include <cups/cups.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "output/lpd_client.h"
#include "support/cups_lpd_test_util.h"
#include "support/cups_server.h"

namespace velmora {
namespace {

using test::U16;

constexpr const char* QUEUE = "ledger";
// Limits that only keep a broken set-up from hanging the tests.
constexpr int PRINT_MILLISECONDS = 60000;
constexpr auto COMPLETION_LIMIT = std::chrono::seconds(60);

// A job as the scheduler keeps it.
struct SchedulerJob {
    int Id = 0;
    int State = 0;
    std::string Name;
    std::string User;
    std::string Host;
    std::string Document;
};

// Every job of the scheduler that CUPS_SERVER names, completed or not, in the order of their ids.
std::vector<SchedulerJob> SchedulerJobs() {
    static const char* const ATTRIBUTES[] = {"job-id",
                                             "job-state",
                                             "job-name",
                                             "job-originating-user-name",
                                             "job-originating-host-name",
                                             "document-name-supplied"};
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, "ipp://localhost/");
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(ATTRIBUTES)), nullptr, ATTRIBUTES);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    std::vector<SchedulerJob> jobs;
    if (!response)
        return jobs;
    bool inJob = false;
    for (ipp_attribute_t* attribute = ippFirstAttribute(response); attribute;
         attribute = ippNextAttribute(response)) {
        const char* name = ippGetName(attribute);
        // Each job is a group of its own; an unnamed attribute separates the groups.
        if (!name || ippGetGroupTag(attribute) != IPP_TAG_JOB) {
            inJob = false;
            continue;
        }
        if (!inJob) {
            jobs.emplace_back();
            inJob = true;
        }
        SchedulerJob& job = jobs.back();
        const auto text = [attribute] {
            const char* value = ippGetString(attribute, 0, nullptr);
            return std::string(value ? value : "");
        };
        if (!std::strcmp(name, "job-id"))
            job.Id = ippGetInteger(attribute, 0);
        else if (!std::strcmp(name, "job-state"))
            job.State = ippGetInteger(attribute, 0);
        else if (!std::strcmp(name, "job-name"))
            job.Name = text();
        else if (!std::strcmp(name, "job-originating-user-name"))
            job.User = text();
        else if (!std::strcmp(name, "job-originating-host-name"))
            job.Host = text();
        else if (!std::strcmp(name, "document-name-supplied"))
            job.Document = text();
    }
    ippDelete(response);
    std::sort(jobs.begin(), jobs.end(), [](const auto& a, const auto& b) { return a.Id < b.Id; });
    return jobs;
}

// Waits until the scheduler has that many jobs, all of them completed; the jobs as they are then.
std::vector<SchedulerJob> WaitForCompletedJobs(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + COMPLETION_LIMIT;
    std::vector<SchedulerJob> jobs;
    for (;;) {
        jobs = SchedulerJobs();
        const bool done =
            jobs.size() >= count && std::all_of(jobs.begin(), jobs.end(), [](const SchedulerJob& job) {
                return job.State == IPP_JSTATE_COMPLETED;
            });
        if (done || std::chrono::steady_clock::now() >= deadline)
            return jobs;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
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

TEST_F(CupsLpdForwardTest, JobsArePrintedUnchangedWithTheirNames) {
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
    scan.Document = u"scan.bin";
    outcome = Forward(scan);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    ASSERT_TRUE(printer_.NextDocument(&printed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    EXPECT_TRUE(printed == binary) << "the printed document differs: " << printed.size() << " bytes";

    // Printed, not only received: the scheduler completed both jobs. The job name is the J line, the
    // document name the N line, the user the P line; the host is the connection's address, not the H line.
    const std::vector<SchedulerJob> jobs = WaitForCompletedJobs(2);
    ASSERT_EQ(jobs.size(), 2u) << cups_.ErrorLog();
    EXPECT_EQ(jobs[0].State, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(jobs[0].Name, "Quarterly figures");
    EXPECT_EQ(jobs[0].Document, "report.txt");
    EXPECT_EQ(jobs[0].User, "alice");
    EXPECT_EQ(jobs[0].Host, "127.0.0.1");
    EXPECT_EQ(jobs[1].State, IPP_JSTATE_COMPLETED);
    EXPECT_EQ(jobs[1].Document, "scan.bin");
    EXPECT_EQ(jobs[1].User, "bob");
    EXPECT_EQ(jobs[1].Host, "127.0.0.1");
}

TEST_F(CupsLpdForwardTest, QueuesThatAreUnknownOrNotSharedAreRefused) {
    Request job;
    job.File = Write("report.txt", "Quarterly report\n");
    job.Document = u"report.txt";

    job.Queue = u"nope";
    CLpdSendResult outcome = Forward(job);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_EQ(outcome.Text, "The print request is rejected");

    job.Queue = U16(QUEUE);
    std::string failure;
    ASSERT_TRUE(test::ShareCupsQueue(QUEUE, false, &failure)) << failure;
    outcome = Forward(job);
    EXPECT_EQ(outcome.Code, -1);
    EXPECT_EQ(outcome.Text, "The print request is rejected");

    ASSERT_TRUE(test::ShareCupsQueue(QUEUE, true, &failure)) << failure;
    outcome = Forward(job);
    ASSERT_EQ(outcome.Code, 0) << outcome.Text;
    std::string printed;
    ASSERT_TRUE(printer_.NextDocument(&printed, PRINT_MILLISECONDS)) << cups_.ErrorLog();
    EXPECT_EQ(printed, "Quarterly report\n");
    // The refused requests left no job behind.
    const std::vector<SchedulerJob> jobs = WaitForCompletedJobs(1);
    EXPECT_EQ(jobs.size(), 1u);
}

}  // namespace
}  // namespace velmora
