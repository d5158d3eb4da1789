// An LPD server in this process on an ephemeral loopback port, with printers PASS and HOLD (jobs held).
#pragma once

#include <chrono>
#include <thread>

#include "config/printer_setting.h"
#include "net/lpd_connection.h"
#include "support/app_fixture.h"
#include "support/lpd_test_util.h"

namespace velmora::test {

class LpdServerFixture : public AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        PrinterRecords printers(2);
        printers[0].Name = u"PASS";
        printers[1].Name = u"HOLD";
        printers[1].HoldJobs = 1;
        app_->PrinterList.Replace(printers);
        app_->LpdServer.LoopbackOnly = true;
        app_->Settings.PortLPD = 0;
        StartServer();
    }

    void StartServer() {
        app_->LpdServer.StartLpdServer();
        ASSERT_TRUE(WaitUntil([this] { return app_->LpdServer.ListeningPort != 0; }))
            << "the server did not start listening";
        port_ = app_->LpdServer.ListeningPort;
    }

    static void Sleep(int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    std::size_t JobCount() {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        return app_->Jobs.JobList.size();
    }
    // Waits for the jobs to be registered, then returns how many there are.
    std::size_t WaitForJobs(std::size_t count) {
        WaitUntil([&] { return JobCount() >= count; }, 20000);
        return JobCount();
    }
    void WaitForSessions() { app_->LpdServer.WaitForSessions(); }
    SpoolFilePtr Job(std::size_t index) {
        std::lock_guard<CRecursiveTimedMutex> lock(app_->Jobs.JobListLock);
        return app_->Jobs.JobList.at(index);
    }

    uint16_t port_ = 0;
};

}  // namespace velmora::test
