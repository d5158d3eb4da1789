// Raw printing against a private CUPS server whose queues print to a stand-in printer on 127.0.0.1.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "output/raw_printer.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/print_spooler.h"
#include "platform/system_error.h"
#include "support/app_fixture.h"
#include "support/cups_server.h"
#include "support/raw_route.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::U16;
using test::WriteFile;

constexpr char QUEUE[] = "Velmora_Raw";
const std::string ESC = "\x1b";

struct JobSummary {
    std::string Title;
    std::string Format;
    ipp_jstate_t State;
};

// The server's jobs of every user with that title.
std::vector<JobSummary> JobsTitled(const std::string& title, int which = CUPS_WHICHJOBS_ALL) {
    cups_job_t* jobs = nullptr;
    const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, which);
    std::vector<JobSummary> summaries;
    for (int i = 0; i < count; ++i) {
        if (jobs[i].title && jobs[i].title == title)
            summaries.push_back({jobs[i].title, jobs[i].format ? jobs[i].format : "", jobs[i].state});
    }
    cupsFreeJobs(count, jobs);
    return summaries;
}

class RawPrinterTest : public test::AppFixture {
  protected:
    static void SetUpTestSuite() {
        printer_ = std::make_unique<test::FakePrinter>();
        server_ = std::make_unique<test::CupsServer>();
        if (!printer_->Listening()) {
            failure_ = "the stand-in printer cannot listen";
        } else if (!server_->Start() || !server_->AddRawQueue(QUEUE, printer_->DeviceUri()) ||
                   !server_->SetDefaultQueue(QUEUE)) {
            failure_ = server_->Failure();
        }
    }
    static void TearDownTestSuite() {
        server_.reset();
        printer_.reset();
        failure_.clear();
    }
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_TRUE(failure_.empty()) << failure_;
    }
    std::string NextDocument() {
        std::string document;
        EXPECT_TRUE(printer_->NextDocument(&document)) << "nothing reached the printer\n"
                                                       << server_->ErrorLog();
        return document;
    }
    bool LogHas(const std::string& message) const {
        const std::vector<std::string> messages = LogMessages();
        return std::find(messages.begin(), messages.end(), message) != messages.end();
    }
    static inline std::unique_ptr<test::FakePrinter> printer_;
    static inline std::unique_ptr<test::CupsServer> server_;
    static inline std::string failure_;
};

TEST_F(RawPrinterTest, AFileReachesThePrinterByteForByteAsOneRawJobNamedAfterTheDocument) {
    // Several transfer blocks and a partial one, with every byte value.
    std::string data;
    for (int i = 0; i < 3 * 4096 + 123; ++i)
        data.push_back(static_cast<char>((i * 7 + i / 256) & 0xFF));
    const std::string path = folder_.File("job.prn");
    WriteFile(path, data);
    EXPECT_TRUE(RawPrintFile(U16(QUEUE), u"Quarterly report.txt", U16(path), std::nullopt));
    EXPECT_EQ(NextDocument(), data);
    EXPECT_FALSE(platform::FileExists(U16(path + ".bin")));
    const std::vector<JobSummary> jobs = JobsTitled("Quarterly report.txt");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].Format, CUPS_FORMAT_RAW);
}

TEST_F(RawPrinterTest, PclPaperSourceAndOutputBinValuesAreReplacedThroughATemporaryCopy) {
    std::string source = ESC + "E" + ESC + "&l1H" + "page one\f" +
                         // combined command: page size 26, paper source 4, output bin 250
                         ESC + "&l26a4h250G" + "page two\f" +
                         // raster data that looks like a paper-source command is data
                         ESC + "*b5W" + ESC + "&l1H";
    std::string expected = ESC + "E" + ESC + "&l12H" + "page one\f" + ESC + "&l26a12h3G" + "page two\f" +
                           ESC + "*b5W" + ESC + "&l1H";
    // A value split across two read blocks of the source (4,079 bytes each).
    const std::string padding(4075 - source.size(), 'x');
    source += padding + ESC + "&l17H" + "page three\f";
    expected += padding + ESC + "&l12H" + "page three\f";
    // A shorter value at the very end leaves nothing of the longer one behind.
    source += ESC + "&l250G";
    expected += ESC + "&l3G";
    const std::string path = folder_.File("job.pcl");
    WriteFile(path, source);
    EXPECT_TRUE(RawPrintFile(U16(QUEUE), u"job.pcl", U16(path), CPclBinValues{u"12", u"3"}));
    EXPECT_EQ(NextDocument(), expected);
    EXPECT_EQ(ReadFile(path), source);
    EXPECT_FALSE(platform::FileExists(U16(path + ".bin")));
    // Empty values leave the commands as they are; the copy is still made and removed.
    EXPECT_TRUE(RawPrintFile(U16(QUEUE), u"job.pcl", U16(path), CPclBinValues{}));
    EXPECT_EQ(NextDocument(), source);
    EXPECT_FALSE(platform::FileExists(U16(path + ".bin")));
    // The values are the virtual printer's text in code page 1252.
    WriteFile(path, ESC + "&l1H");
    EXPECT_TRUE(RawPrintFile(U16(QUEUE), u"job.pcl", U16(path), CPclBinValues{u"\u00E9", u""}));
    EXPECT_EQ(NextDocument(), ESC + "&l\xE9H");
    for (const std::string& line : LogMessages())
        EXPECT_EQ(line.find("Unable to delete"), std::string::npos) << line;
}

TEST_F(RawPrinterTest, DocumentsWithoutDataCountAsPrintedAndLeaveNoPendingJob) {
    const std::string empty = folder_.File("empty.prn");
    WriteFile(empty, "");
    EXPECT_TRUE(RawPrintFile(U16(QUEUE), u"empty.prn", U16(empty), std::nullopt));
    // A copy that cannot be made (its name is taken by a folder) gives an empty document too, and its
    // removal fails and is logged.
    const std::string pcl = folder_.File("held.pcl");
    WriteFile(pcl, ESC + "&l1H" + "text\f");
    ASSERT_EQ(mkdir((pcl + ".bin").c_str(), 0755), 0);
    WriteFile(pcl + ".bin/keep", "x");
    EXPECT_TRUE(RawPrintFile(U16(QUEUE), u"held.pcl", U16(pcl), CPclBinValues{u"4", u""}, &app_->Reporter));
    EXPECT_TRUE(LogHas("0\tUnable to delete the file : " + pcl + ".bin (" +
                       platform::UnicodeToAnsi(platform::SystemErrorText(EISDIR)) + ")"))
        << ::testing::PrintToString(LogMessages());
    // A document abandoned half way is not printed either.
    platform::PrinterHandle printer = nullptr;
    ASSERT_TRUE(platform::OpenPrinter(U16(QUEUE), &printer));
    EXPECT_TRUE(platform::StartDocPrinter(printer, u"abandoned"));
    std::size_t written = 0;
    EXPECT_TRUE(platform::WritePrinter(printer, "partial", 7, &written));
    EXPECT_EQ(written, 7u);
    EXPECT_TRUE(platform::ClosePrinter(printer));
    for (const char* title : {"empty.prn", "held.pcl", "abandoned"}) {
        const std::vector<JobSummary> jobs = JobsTitled(title);
        ASSERT_EQ(jobs.size(), 1u) << title;
        EXPECT_EQ(jobs[0].State, IPP_JSTATE_CANCELED) << title;
        EXPECT_TRUE(JobsTitled(title, CUPS_WHICHJOBS_ACTIVE).empty()) << title;
    }
    // Nothing of them reached the printer: the next document there is the next one printed.
    const std::string next = folder_.File("next.prn");
    WriteFile(next, "next\n");
    EXPECT_TRUE(RawPrintFile(U16(QUEUE), u"next.prn", U16(next), std::nullopt));
    EXPECT_EQ(NextDocument(), "next\n");
}

TEST_F(RawPrinterTest, DriverAndPortShellPrintAndAMissingQueue) {
    std::u16string driver;
    std::u16string port;
    ASSERT_TRUE(platform::PrinterDriverAndPort(U16(QUEUE), &driver, &port));
    EXPECT_EQ(driver, u"Local Raw Printer");
    EXPECT_EQ(port, U16(printer_->DeviceUri()));
    EXPECT_FALSE(platform::PrinterDriverAndPort(u"NoSuchQueue", &driver, &port));
    // The shell's print goes to the default queue.
    const std::string path = folder_.File("letter.txt");
    WriteFile(path, "Dear customer,\nyour order has shipped.\n");
    EXPECT_TRUE(platform::ShellPrint(U16(path)));
    EXPECT_EQ(NextDocument(), "Dear customer,\nyour order has shipped.\n");
    // A queue that does not exist fails at the open, with nothing sent or created.
    WriteFile(path, ESC + "&l1H" + "text\f");
    EXPECT_FALSE(RawPrintFile(u"NoSuchQueue", u"missing.pcl", U16(path), CPclBinValues{u"4", u"2"}));
    EXPECT_FALSE(platform::FileExists(U16(path + ".bin")));
    EXPECT_TRUE(JobsTitled("missing.pcl").empty());
}

// The whole way through the server: an LPD client sends, the spooler prints raw, the printer receives
// the bytes (with the trays of the virtual printer for PCL), and the jobs end Saved.
TEST_F(RawPrinterTest, JobsSentByLpdReachThePrinterThroughTheSpooler) {
    test::ExpectJobsPrintedRawThroughTheSpooler(*app_, U16(QUEUE), folder_,
                                                [this] { return NextDocument(); });
    EXPECT_EQ(JobsTitled(folder_.File("trays.pcl")).size(), 1u);
}

}  // namespace
}  // namespace velmora
