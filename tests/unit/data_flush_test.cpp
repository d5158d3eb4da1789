// What reaches the disk before an acknowledgement and before a save of the job list. The flushes are seen
// through this program's own fsync and syncfs, which stand in front of the system's for the whole test
// program: a flush of a chosen file fails, and each syncfs notes what spool.list held at that moment.
#ifndef _WIN32
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <unistd.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/app_fixture.h"

namespace {

std::mutex g_flushLock;
std::string g_failingFile;
std::string g_listFile;
std::vector<std::string> g_listsAtSync;

std::string PathOf(int descriptor) {
    char path[PATH_MAX];
    const ssize_t length =
        readlink(("/proc/self/fd/" + std::to_string(descriptor)).c_str(), path, sizeof(path));
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

extern "C" int fsync(int descriptor) {
    static const auto system = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    {
        std::lock_guard<std::mutex> lock(g_flushLock);
        if (!g_failingFile.empty() && PathOf(descriptor) == g_failingFile) {
            errno = EIO;
            return -1;
        }
    }
    return system(descriptor);
}

extern "C" int syncfs(int descriptor) {
    static const auto system = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "syncfs"));
    {
        std::lock_guard<std::mutex> lock(g_flushLock);
        if (!g_listFile.empty())
            g_listsAtSync.push_back(velmora::test::ReadFile(g_listFile));
    }
    return system(descriptor);
}

namespace velmora {
namespace {

class DataFlushTest : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        app_->Jobs.LoadJobList();  // opens the journal
    }
    void TearDown() override {
        {
            std::lock_guard<std::mutex> lock(g_flushLock);
            g_failingFile.clear();
            g_listFile.clear();
            g_listsAtSync.clear();
        }
        AppFixture::TearDown();  // the journal's flushes come through fsync again
    }
    // A received job's data file, still open as its session holds it.
    SpoolFilePtr Received(const std::string& name, std::size_t size, platform::CNativeFile* data) {
        auto job = std::make_shared<CSpoolFile>();
        job->LocalFileName = test::U16(folder_.File(name));
        job->DocumentName = test::U16(name);
        job->PrinterName = u"HOLD";
        EXPECT_FALSE(data->Open(job->LocalFileName, platform::OPEN_READ_WRITE | platform::OPEN_CREATE));
        const std::string bytes(size, 'x');
        EXPECT_FALSE(data->Write(bytes.data(), bytes.size()));
        return job;
    }
};

// A large job's data that cannot be flushed is not recorded, and so never acknowledged.
TEST_F(DataFlushTest, ALargeJobWhoseDataCannotBeFlushedIsNotRecorded) {
    platform::CNativeFile data;
    const SpoolFilePtr job = Received("large.tmp", 200 * 1024, &data);
    {
        std::lock_guard<std::mutex> lock(g_flushLock);
        g_failingFile = folder_.File("large.tmp");
    }
    EXPECT_FALSE(app_->Jobs.RecordReceivedJob(*job, 200 * 1024, data));
    {
        std::lock_guard<std::mutex> lock(g_flushLock);
        g_failingFile.clear();
    }
    EXPECT_TRUE(app_->Jobs.RecordReceivedJob(*job, 200 * 1024, data));
}

// A small job's data (in the journal until a save folds it) reach the disk before the list.
TEST_F(DataFlushTest, ASmallJobsDataReachTheDiskBeforeTheListThatNamesIt) {
    const std::string before = test::ReadFile(platform::UnicodeToAnsi(app_->Jobs.ListPath()));
    platform::CNativeFile data;
    const SpoolFilePtr job = Received("small.tmp", 100, &data);
    ASSERT_TRUE(app_->Jobs.RecordReceivedJob(*job, 100, data));
    data.Close();
    app_->Jobs.AddSpoolJob(job, 1);
    {
        std::lock_guard<std::mutex> lock(g_flushLock);
        g_listFile = platform::UnicodeToAnsi(app_->Jobs.ListPath());
    }
    app_->Jobs.SaveJobList();
    std::lock_guard<std::mutex> lock(g_flushLock);
    ASSERT_FALSE(g_listsAtSync.empty());
    EXPECT_EQ(g_listsAtSync.front(), before);
    EXPECT_NE(test::ReadFile(g_listFile), before);
}

}  // namespace
}  // namespace velmora
#endif
