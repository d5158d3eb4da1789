// velmora-admin against a server in this process: the commands travel through the channel and change what
// the server holds, at once.
#include <gtest/gtest.h>

#include "support/app_fixture.h"

namespace velmora {
namespace {

class AdminChannelTest : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        app_->ProfileFile.SetPath(app_->BaseFolder + u"QLSconf.ini");
        PrinterRecords printers(1);
        printers[0].Name = u"PASS";
        app_->PrinterList.Replace(printers);
        app_->AdminChannel.Start(app_->BaseFolder);
    }
    void TearDown() override {
        app_->AdminChannel.Stop();
        AppFixture::TearDown();
    }
    int Admin(const std::vector<std::string>& arguments, std::string* output) const {
        test::ChildProcess::Options options;
        options.Environment = {"VELMORA_BASE_FOLDER=" + folder_.Path()};
        options.CaptureErrors = true;
        return test::ChildProcess(VELMORA_ADMIN_PATH, arguments, options).RunToEnd(60000, output);
    }
};

TEST_F(AdminChannelTest, TheToolChangesWhatTheServerHolds) {
    std::string output;
    ASSERT_EQ(Admin({"add-printer", "NEW", "--route=lpd", "--host=10.0.0.9"}, &output), 0) << output;
    bool hold = true;
    EXPECT_TRUE(app_->PrinterList.FindVirtualPrinter(u"NEW", &hold));
    EXPECT_FALSE(hold);
    ASSERT_EQ(Admin({"set", "LogLevel=2"}, &output), 0) << output;
    EXPECT_EQ(app_->Settings.LogLevel, 2);
    auto job = std::make_shared<CSpoolFile>();
    job->LocalFileName = app_->SpoolFolder + u"PASS" + platform::PATH_SEPARATOR + u"20260101000000_7.tmp";
    job->PrinterName = u"PASS";
    job->SetError();  // released from Error as from Held
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        app_->Jobs.AppendJob(job);
    }
    ASSERT_EQ(Admin({"transfer", "20260101000000_7", "NEW"}, &output), 0) << output;
    ASSERT_EQ(Admin({"release", "20260101000000_7"}, &output), 0) << output;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        EXPECT_EQ(job->PrinterName, u"NEW");
        EXPECT_EQ(job->State, STATE_READY);
    }
    ASSERT_EQ(Admin({"jobs", "--machine"}, &output), 0);
    EXPECT_EQ(output.rfind("20260101000000_7\tready\tNEW\t", 0), 0u) << output;
    const std::vector<std::string> log = LogMessages();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "0\tAdministration: add-printer NEW --route=lpd --host=10.0.0.9 (exit status 0)"),
              log.end());
}

}  // namespace
}  // namespace velmora
