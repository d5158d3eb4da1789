#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "config/printer_setting.h"
#include "support/test_user_interface.h"
#include "support/test_util.h"
#include "text/code_page.h"

namespace velmora {
namespace {

using test::ChildProcess;
using test::ReadFile;
using test::TempFolder;
using test::ToolPath;
using test::U16;
using test::WriteFile;

CPrinterSetting Named(const std::u16string& name) {
    CPrinterSetting record;
    record.Name = name;
    return record;
}

void ExpectSameRecord(const CPrinterSetting& actual, const CPrinterSetting& expected) {
    EXPECT_EQ(actual.Name, expected.Name);
    EXPECT_EQ(actual.OutputMode, expected.OutputMode);
    EXPECT_EQ(actual.ProgramCommand, expected.ProgramCommand);
    EXPECT_EQ(actual.ProgramPrinter, expected.ProgramPrinter);
    EXPECT_EQ(actual.HoldJobs, expected.HoldJobs);
    EXPECT_EQ(actual.StatusPort, expected.StatusPort);
    EXPECT_EQ(actual.LocalPrinter, expected.LocalPrinter);
    EXPECT_EQ(actual.IPAddress, expected.IPAddress);
    EXPECT_EQ(actual.QueueName, expected.QueueName);
    EXPECT_EQ(actual.InputBin, expected.InputBin);
    EXPECT_EQ(actual.OutputBin, expected.OutputBin);
}

class PrinterConfigTest : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = folder_.File("Printer.cfg");
        app_.PrinterConfig.SetPath(U16(path_));
        ui_.OnShowMessage = [this](const std::u16string& text, MessageIcon) { messages_.push_back(text); };
        app_.InstallUserInterface(&ui_);
    }

    PrinterRecords Records() const { return *app_.PrinterList.Snapshot(); }

    PrinterRecords LoadFrom(const std::string& content) {
        WriteFile(path_, content);
        app_.PrinterList.Clear();
        app_.LoadPrinterConfig();
        return Records();
    }

    PrinterRecords SaveAndReload(PrinterRecords records) {
        app_.PrinterList.Replace(std::move(records));
        app_.SavePrinterConfig();
        app_.PrinterList.Clear();
        app_.LoadPrinterConfig();
        return Records();
    }

    TempFolder folder_;
    std::string path_;
    test::CTestUserInterface ui_;
    CVelmoraVirtualPrinterApp app_;
    std::vector<std::u16string> messages_;
};

TEST_F(PrinterConfigTest, NewRecordHasTheDefaultsAndIsWrittenWithSpacesForEmptyFields) {
    const CPrinterSetting defaults;
    EXPECT_EQ(defaults.Name, u"");
    EXPECT_EQ(defaults.OutputMode, OUTPUT_LOCAL_PRINTER);
    EXPECT_EQ(defaults.ProgramCommand, DEFAULT_PROGRAM_COMMAND);
    EXPECT_EQ(defaults.HoldJobs, 0);
    EXPECT_EQ(defaults.IPAddress, u"192.168.1.250");
    EXPECT_EQ(defaults.QueueName, u"PASS");
    EXPECT_TRUE(defaults.ProgramPrinter.empty() && defaults.StatusPort.empty() &&
                defaults.LocalPrinter.empty() && defaults.InputBin.empty() && defaults.OutputBin.empty());

    app_.PrinterList.Replace({Named(u"raw"), Named(u"second")});
    app_.SavePrinterConfig();
    const std::string command = ToBytes1252(DEFAULT_PROGRAM_COMMAND);
    EXPECT_EQ(ReadFile(path_), "raw;0;" + command + "; ;0; ; ;192.168.1.250;PASS; ; \r\n" + "second;0;" +
                                   command + "; ;0; ; ;192.168.1.250;PASS; ; \r\n");
    EXPECT_TRUE(messages_.empty());

    app_.PrinterList.Clear();
    app_.SavePrinterConfig();
    EXPECT_EQ(ReadFile(path_), "");
}

TEST_F(PrinterConfigTest, EveryFieldSurvivesASaveAndLoadAndEmptyFieldsComeBackEmpty) {
    CPrinterSetting full = Named(u"full");
    full.OutputMode = OUTPUT_LPD;
    full.ProgramCommand = u"\"/opt/print\" %1 %2";
    full.ProgramPrinter = u"Office";
    full.HoldJobs = 1;
    full.StatusPort = u"9100";
    full.LocalPrinter = u"Laser";
    full.IPAddress = u"10.0.0.7";
    full.QueueName = u"lp";
    full.InputBin = u"4";
    full.OutputBin = u"2";

    CPrinterSetting empty = Named(u"empty");
    empty.OutputMode = 7;  // not a route, but kept as it is
    empty.HoldJobs = -3;
    empty.ProgramCommand.clear();
    empty.IPAddress.clear();
    empty.QueueName.clear();

    const PrinterRecords loaded = SaveAndReload({full, empty});
    ASSERT_EQ(loaded.size(), 2u);
    ExpectSameRecord(loaded[0], full);
    ExpectSameRecord(loaded[1], empty);
    EXPECT_NE(ReadFile(path_).find("empty;7; ; ;-3; ; ; ; ; ; \r\n"), std::string::npos);

    // A value of exactly one space reads as empty too, except for the name, which is taken as it is.
    const PrinterRecords spaces = LoadFrom(" ;0; ;x;0;y; ;z; ; ; \r\n");
    ASSERT_EQ(spaces.size(), 1u);
    EXPECT_EQ(spaces[0].Name, u" ");
    EXPECT_EQ(spaces[0].ProgramCommand, u"");
    EXPECT_EQ(spaces[0].ProgramPrinter, u"x");
    EXPECT_EQ(spaces[0].StatusPort, u"y");
    EXPECT_EQ(spaces[0].LocalPrinter, u"");
    EXPECT_EQ(spaces[0].IPAddress, u"z");
    EXPECT_EQ(spaces[0].QueueName, u"");
    // Other white space is kept.
    EXPECT_EQ(LoadFrom("n;0;  ;\t\r\n")[0].ProgramCommand, u"  ");
}

TEST_F(PrinterConfigTest, MalformedLinesAreReadWithDefaultsForWhatIsMissingAndSurplusIgnored) {
    const PrinterRecords records = LoadFrom(
        "short;1;cmd\r\n"
        "onlyname\r\n"
        "long;2;c;p;1;s;l;1.2.3.4;q;in;out;extra;more\r\n"
        ";;runs;;1;;;c\r\n");
    ASSERT_EQ(records.size(), 4u);

    CPrinterSetting expected = Named(u"short");
    expected.OutputMode = OUTPUT_PROGRAM;
    expected.ProgramCommand = u"cmd";
    ExpectSameRecord(records[0], expected);
    EXPECT_EQ(records[0].QueueName, u"PASS");

    ExpectSameRecord(records[1], Named(u"onlyname"));

    EXPECT_EQ(records[2].InputBin, u"in");
    EXPECT_EQ(records[2].OutputBin, u"out");

    // Leading separators and runs of them count as one: the fields do not shift.
    expected = Named(u"runs");
    expected.OutputMode = OUTPUT_PROGRAM;
    expected.ProgramCommand = u"c";
    ExpectSameRecord(records[3], expected);
}

TEST_F(PrinterConfigTest, NumbersAreReadLikeTheRuntimesDecimalConversion) {
    const PrinterRecords records = LoadFrom(
        "a;abc;c;p;xyz\r\n"
        "b; 12x;c;p; +1z\r\n"
        "c;-1;c;p;-1\r\n");
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].OutputMode, 0);
    EXPECT_EQ(records[0].HoldJobs, 0);
    EXPECT_EQ(records[1].OutputMode, 12);
    EXPECT_EQ(records[1].HoldJobs, 1);
    EXPECT_EQ(records[2].OutputMode, -1);
    EXPECT_EQ(records[2].HoldJobs, -1);
}

TEST_F(PrinterConfigTest, EmptyLinesBareLineFeedsAndALastLineWithoutEndAreRead) {
    const PrinterRecords records = LoadFrom("\r\nA;1\n\n\r\nB;2\r\n;;;\n\nC;0;c\nD");
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].Name, u"A");
    EXPECT_EQ(records[0].OutputMode, 1);
    EXPECT_EQ(records[0].ProgramCommand, DEFAULT_PROGRAM_COMMAND);
    EXPECT_EQ(records[1].Name, u"B");
    EXPECT_EQ(records[1].OutputMode, 2);
    EXPECT_EQ(records[2].Name, u"C");
    EXPECT_EQ(records[2].ProgramCommand, u"c");
    EXPECT_EQ(records[3].Name, u"D");

    // Written back, every line ends with CR LF and no nameless record appears.
    app_.SavePrinterConfig();
    const std::string saved = ReadFile(path_);
    EXPECT_EQ(saved.rfind("A;1;", 0), 0u);
    EXPECT_EQ(saved.find("\n\n"), std::string::npos);
    EXPECT_EQ(SaveAndReload(records).size(), 4u);
}

TEST_F(PrinterConfigTest, ALineLongerThanTheLimitIsCutWithoutItsRestBecomingARecord) {
    const std::string longName(6000, 'x');
    const PrinterRecords records = LoadFrom(longName + ";1\r\nnext;2\r\n" + std::string(4096, 'y'));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Name, std::u16string(4096, u'x'));
    EXPECT_EQ(records[1].Name, u"next");
    EXPECT_EQ(records[1].OutputMode, 2);
    EXPECT_EQ(records[2].Name, std::u16string(4096, u'y'));
}

TEST_F(PrinterConfigTest, LoadingAppendsToTheList) {
    WriteFile(path_, "file;1\r\n");
    app_.PrinterList.Replace({Named(u"kept")});
    app_.LoadPrinterConfig();
    app_.LoadPrinterConfig();
    const PrinterRecords records = Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].Name, u"kept");
    EXPECT_EQ(records[1].Name, u"file");
    EXPECT_EQ(records[2].Name, u"file");
}

TEST_F(PrinterConfigTest, LookupFindsTheFirstExactNameAndHoldsOnlyForOne) {
    LoadFrom(
        "PASS;0;c;p;1\r\n"
        "PASS;0;c;p;0\r\n"
        "two;0;c;p;2\r\n"
        "zero;0;c;p;0\r\n");
    bool hold = true;
    EXPECT_TRUE(app_.PrinterList.FindVirtualPrinter(u"PASS", &hold));
    EXPECT_TRUE(hold);  // the first of the two

    hold = true;
    EXPECT_FALSE(app_.PrinterList.FindVirtualPrinter(u"pass", &hold));
    EXPECT_FALSE(hold);  // cleared even without a match
    EXPECT_FALSE(app_.PrinterList.FindVirtualPrinter(u" PASS", &hold));
    EXPECT_FALSE(app_.PrinterList.FindVirtualPrinter(u"PAS", &hold));
    EXPECT_FALSE(app_.PrinterList.FindVirtualPrinter(u"", &hold));

    hold = true;
    EXPECT_TRUE(app_.PrinterList.FindVirtualPrinter(u"two", &hold));
    EXPECT_FALSE(hold);
    hold = true;
    EXPECT_TRUE(app_.PrinterList.FindVirtualPrinter(u"zero", &hold));
    EXPECT_FALSE(hold);
}

TEST_F(PrinterConfigTest, TextIsStoredInCodePage1252AndOtherCharactersDoNotSpoilTheRest) {
    CPrinterSetting latin = Named(u"caf\u00e9");
    latin.InputBin = u"\u20ac";
    CPrinterSetting japanese = Named(u"\u65e5\u672c");
    japanese.InputBin = u"\u30c8\u30ec\u30a4";
    japanese.OutputBin = u"bin2";
    japanese.IPAddress = u"10.1.1.1";

    const PrinterRecords loaded = SaveAndReload({latin, japanese, Named(u"after")});
    const std::string saved = ReadFile(path_);
    EXPECT_EQ(saved.rfind("caf\xE9;0;", 0), 0u);
    EXPECT_NE(saved.find(";PASS;\x80; \r\n"), std::string::npos);
    EXPECT_EQ(saved.find('\0'), std::string::npos);

    ASSERT_EQ(loaded.size(), 3u);
    ExpectSameRecord(loaded[0], latin);
    EXPECT_NE(loaded[1].Name, japanese.Name);
    EXPECT_EQ(loaded[1].Name.size(), 2u);
    EXPECT_NE(loaded[1].InputBin, japanese.InputBin);
    EXPECT_EQ(loaded[1].OutputBin, u"bin2");
    EXPECT_EQ(loaded[1].IPAddress, u"10.1.1.1");
    ExpectSameRecord(loaded[2], Named(u"after"));

    // Bytes are read back one character each, whatever they were.
    EXPECT_EQ(LoadFrom("\x80\xE9\x81;0\r\n")[0].Name, u"\u20ac\u00e9\u0081");
}

TEST_F(PrinterConfigTest, MissingFileGivesNoPrintersAndAMessageOnlyOnTheDesktop) {
    app_.PrinterList.Replace({Named(u"kept")});
    app_.LoadPrinterConfig();
    EXPECT_EQ(Records().size(), 1u);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_FALSE(messages_[0].empty());

    messages_.clear();
    app_.SetServiceMode(true);
    app_.Log.SetFilePath(U16(folder_.File("log.txt")));
    app_.LoadPrinterConfig();
    EXPECT_EQ(Records().size(), 1u);
    EXPECT_TRUE(messages_.empty());
    EXPECT_NE(ReadFile(folder_.File("log.txt")).find("1\tPrinter.cfg: "), std::string::npos);
}

TEST_F(PrinterConfigTest, AFileHeldByAnotherProcessIsWaitedForAndLeftAsItWasWhenItStaysHeld) {
    const std::string original = "old;1\r\n";
    WriteFile(path_, original);
    app_.Settings.AccessFile_MaxAttempts = 3;
    app_.Settings.AccessFile_WaitingTimeMsec = 10;
    {
        ChildProcess holder(ToolPath("hold_file"), {path_, "60000"});
        ASSERT_TRUE(holder.WaitForLine("held"));

        app_.LoadPrinterConfig();
        EXPECT_TRUE(Records().empty());
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_NE(messages_[0].find(test::SharingViolationText()), std::u16string::npos);

        app_.PrinterList.Replace({Named(u"new")});
        app_.SavePrinterConfig();
        EXPECT_EQ(messages_.size(), 2u);
    }
    EXPECT_EQ(ReadFile(path_), original);  // read once the holder has let go: Windows' lock is mandatory
    {
        ChildProcess holder(ToolPath("hold_file"), {path_, "300"});
        ASSERT_TRUE(holder.WaitForLine("held"));
        app_.Settings.AccessFile_MaxAttempts =
            500;  // up to ten seconds: far more than the holder keeps the file
        app_.Settings.AccessFile_WaitingTimeMsec = 20;
        app_.PrinterList.Clear();
        app_.LoadPrinterConfig();
        ASSERT_EQ(Records().size(), 1u);
        EXPECT_EQ(Records()[0].Name, u"old");
        EXPECT_EQ(messages_.size(), 2u);
    }
}

TEST_F(PrinterConfigTest, FailedSavesLeaveTheOldFileAndTheListAsTheyWere) {
    const std::string original = "first;0\r\nsecond;1\r\n";
    WriteFile(path_, original);
    PrinterRecords edited;
    for (int i = 0; i < 20; ++i)
        edited.push_back(Named(u"edited" + std::u16string(1, static_cast<char16_t>(u'a' + i))));
    app_.PrinterList.Replace(edited);

    {
#ifdef _WIN32
        GTEST_SKIP()
            << "Windows has no limit on the size of the files a process writes to fill the disk with";
#else
        // The disk fills up in the middle of the new content.
        struct rlimit saved {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit limited = saved;
        limited.rlim_cur = 100;
        const sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        app_.SavePrinterConfig();
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previous);
#endif
    }
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(ReadFile(path_), original);

    const auto before = app_.PrinterList.Snapshot();
    app_.PrinterConfig.SetPath(U16(folder_.File("gone/Printer.cfg")));
    EXPECT_FALSE(app_.PrinterConfig.SavePrinterConfig(app_.PrinterList));
    EXPECT_EQ(messages_.size(), 2u);
    EXPECT_EQ(app_.PrinterList.Snapshot(), before);
    ASSERT_EQ(Records().size(), edited.size());
    EXPECT_EQ(Records()[19].Name, u"editedt");
}

TEST_F(PrinterConfigTest, LookupsRunCleanlyWhileTheListIsReplacedAndReloaded) {
    WriteFile(path_, "loaded;0\r\n");
    CPrinterSetting held = Named(u"queue");
    held.HoldJobs = 1;
    const PrinterRecords holding{held, Named(u"other")};
    const PrinterRecords releasing{Named(u"other"), Named(u"queue")};
    app_.PrinterList.Replace(holding);

    // The readers do a fixed amount of work and the writer keeps publishing until they are done, so the two
    // overlap however the threads are scheduled.
    std::atomic<int> finished{0};
    std::atomic<int> misses{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            for (int lookup = 0; lookup < 20000; ++lookup) {
                bool hold = false;
                if (!app_.PrinterList.FindVirtualPrinter(u"queue", &hold) ||
                    app_.PrinterList.FindVirtualPrinter(u"absent", &hold))
                    ++misses;
            }
            ++finished;
        });
    }
    for (int round = 0; finished.load() < 4; ++round) {
        app_.PrinterList.Replace(round % 2 ? holding : releasing);
        if (round % 10 == 0)
            app_.LoadPrinterConfig();
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(misses.load(), 0);
}

}  // namespace
}  // namespace velmora
