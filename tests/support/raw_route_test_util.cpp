#include "support/raw_route.h"

#include <gtest/gtest.h>

#include "config/printer_setting.h"
#include "platform/ansi.h"
#include "platform/file.h"

namespace velmora::test {

void ExpectJobsPrintedRawThroughTheSpooler(CVelmoraVirtualPrinterApp& app, const std::u16string& queue,
                                           const TempFolder& folder,
                                           const std::function<std::string()>& nextDocument) {
    const std::string ESC = "\x1b";
    PrinterRecords printers(2);
    printers[0].Name = u"PASS";
    printers[0].LocalPrinter = queue;
    printers[1].Name = u"TRAYS";
    printers[1].LocalPrinter = queue;
    printers[1].InputBin = u"7";
    printers[1].OutputBin = u"2";
    app.PrinterList.Replace(printers);
    app.LpdServer.LoopbackOnly = true;
    app.Settings.PortLPD = 0;
    app.LpdServer.StartLpdServer();
    ASSERT_TRUE(WaitUntil([&] { return app.LpdServer.ListeningPort != 0; }));
    app.Spooler.StartSpooler();

    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary.push_back(static_cast<char>((i * 31 + i / 251) & 0xFF));
    const std::string binaryPath = folder.File("binary.prn");
    WriteFile(binaryPath, binary);
    const std::string pclPath = folder.File("trays.pcl");
    WriteFile(pclPath, ESC + "E" + ESC + "&l1H" + ESC + "&l1G" + "page\f" + ESC + "E");
    const std::string port = std::to_string(app.LpdServer.ListeningPort);
    std::string output;
    test::ChildProcess first(VELMORA_LPR_PATH, {"-p", port, "127.0.0.1", "PASS", binaryPath});
    EXPECT_EQ(first.RunToEnd(60000, &output), 0) << output;
    EXPECT_EQ(nextDocument(), binary);
    test::ChildProcess second(VELMORA_LPR_PATH, {"-p", port, "127.0.0.1", "TRAYS", pclPath});
    EXPECT_EQ(second.RunToEnd(60000, &output), 0) << output;
    EXPECT_EQ(nextDocument(), ESC + "E" + ESC + "&l7H" + ESC + "&l2G" + "page\f" + ESC + "E");

    app.Spooler.StopSpooler();
    app.Spooler.JoinSpoolerThread();
    app.LpdServer.StopLpdServer();
    std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
    ASSERT_EQ(app.Jobs.JobList.size(), 2u);
    for (const SpoolFilePtr& job : app.Jobs.JobList) {
        EXPECT_EQ(job->State, STATE_SAVED) << platform::UnicodeToAnsi(job->ErrorText);
        EXPECT_FALSE(platform::FileExists(job->LocalFileName + u".bin"));
    }
    EXPECT_EQ(app.Jobs.JobList[1]->FileType, u"PCL");
}

}  // namespace velmora::test
