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
#include "support/app_fixture.h"
#include "text/code_page.h"

namespace velmora {
namespace {

using test::ReadFile;
using test::U16;
using test::WriteFile;

CPrinterSetting Named(const std::u16string& name) {
    CPrinterSetting record;
    record.Name = name;
    return record;
}

// A record's fields in file order, as code page 1252 bytes joined with '|'.
std::string Show(const CPrinterSetting& r) {
    std::string shown;
    for (const std::u16string& field : {r.Name, U16(std::to_string(r.OutputMode)), r.ProgramCommand,
                                        r.ProgramPrinter, U16(std::to_string(r.HoldJobs)), r.StatusPort,
                                        r.LocalPrinter, r.IPAddress, r.QueueName, r.InputBin, r.OutputBin})
        shown += (shown.empty() ? "" : "|") + ToBytes1252(field);
    return shown;
}

std::vector<std::string> Show(const PrinterRecords& records) {
    std::vector<std::string> shown;
    for (const CPrinterSetting& record : records)
        shown.push_back(Show(record));
    return shown;
}

class PrinterConfigTest : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        path_ = folder_.File("Printer.cfg");
        platform::RemoveFile(U16(path_));  // the start-up's empty one
        app_->PrinterConfig.SetPath(U16(path_));
    }
    PrinterRecords Records() const { return *app_->PrinterList.Snapshot(); }
    PrinterRecords LoadFrom(const std::string& content) {
        WriteFile(path_, content);
        app_->PrinterList.Clear();
        app_->LoadPrinterConfig();
        return Records();
    }
    PrinterRecords SaveAndReload(PrinterRecords records) {
        app_->PrinterList.Replace(std::move(records));
        app_->SavePrinterConfig();
        app_->PrinterList.Clear();
        app_->LoadPrinterConfig();
        return Records();
    }
    std::string path_;
};

TEST_F(PrinterConfigTest, EveryFieldIsSavedWithASpaceForAnEmptyOneAndLoadedBack) {
    const std::string full = "full;2;\"/opt/print\" %1 %2;Office;1;9100;Laser;10.0.0.7;lp;4;2\r\n";
    CPrinterSetting empty = Named(u"empty");
    empty.OutputMode = 7;  // not a route, but kept as it is
    empty.HoldJobs = -3;
    empty.ProgramCommand = empty.IPAddress = empty.QueueName = u"";
    const PrinterRecords records = {Named(u"new"), LoadFrom(full).at(0), empty};
    EXPECT_EQ(Show(SaveAndReload(records)), Show(records));
    EXPECT_EQ(ReadFile(path_), "new;0;" + ToBytes1252(DEFAULT_PROGRAM_COMMAND) +
                                   "; ;0; ; ;192.168.1.250;PASS; ; \r\n" + full +
                                   "empty;7; ; ;-3; ; ; ; ; ; \r\n");
    EXPECT_TRUE(messages_.empty());
    app_->PrinterList.Clear();
    app_->SavePrinterConfig();
    EXPECT_EQ(ReadFile(path_), "");
}

TEST_F(PrinterConfigTest, LinesAreReadWithDefaultsForWhatIsMissing) {
    const std::string command = ToBytes1252(DEFAULT_PROGRAM_COMMAND);
    const std::string rest = "|||192.168.1.250|PASS||",
                      tail = "||0" + rest;  // the defaults after the command
    const struct {
        std::string File;
        std::vector<std::string> Records;
    } cases[] = {
        {"short;1;cmd\r\nonlyname\r\n", {"short|1|cmd" + tail, "onlyname|0|" + command + tail}},
        // Surplus fields are ignored; leading separators and runs of them count as one.
        {"long;2;c;p;1;s;l;1.2.3.4;q;in;out;extra\r\n;;runs;;1;;;c\r\n",
         {"long|2|c|p|1|s|l|1.2.3.4|q|in|out", "runs|1|c" + tail}},
        // Numbers are read like the runtime's decimal conversion.
        {"a;abc;c;p;xyz\r\nb; 12x;c;p; +1z\r\nc;-1;c;p;-1\r\n",
         {"a|0|c|p|0" + rest, "b|12|c|p|1" + rest, "c|-1|c|p|-1" + rest}},
        // A value of exactly one space is empty, except for the name; other white space is kept.
        {" ;0; ;x;0;y; ;z; ; ; \r\nn;0;  ;\t\r\n", {" |0||x|0|y||z|||", "n|0|  |\t|0" + rest}},
        // Empty lines, bare line feeds and a last line without its end.
        {"\r\nA;1\n\n\r\nB;2\r\n;;;\n\nC;0;c\nD",
         {"A|1|" + command + tail, "B|2|" + command + tail, "C|0|c" + tail, "D|0|" + command + tail}},
        // A line longer than the limit is cut without its rest becoming a record.
        {std::string(6000, 'x') + ";1\r\nnext;2\r\n" + std::string(4096, 'y'),
         {std::string(4096, 'x') + "|0|" + command + tail, "next|2|" + command + tail,
          std::string(4096, 'y') + "|0|" + command + tail}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.File.substr(0, 60));
        const PrinterRecords records = LoadFrom(c.File);
        EXPECT_EQ(Show(records), c.Records);
        // Written back, every line ends with CR LF and reads the same.
        EXPECT_EQ(Show(SaveAndReload(records)), c.Records);
    }
}

TEST_F(PrinterConfigTest, LookupFindsTheFirstExactNameAndHoldsOnlyForOne) {
    LoadFrom("PASS;0;c;p;1\r\nPASS;0;c;p;0\r\ntwo;0;c;p;2\r\nzero;0;c;p;0\r\n");
    const struct {
        const char16_t* Queue;
        bool Found, Hold;
    } cases[] = {{u"PASS", true, true},   {u"two", true, false},    {u"zero", true, false},
                 {u"pass", false, false}, {u" PASS", false, false}, {u"PAS", false, false},
                 {u"", false, false}};
    for (const auto& c : cases) {
        bool hold = !c.Hold;  // a miss clears it too
        EXPECT_EQ(app_->PrinterList.FindVirtualPrinter(c.Queue, &hold), c.Found) << ToBytes1252(c.Queue);
        EXPECT_EQ(hold, c.Hold) << ToBytes1252(c.Queue);
    }
}

TEST_F(PrinterConfigTest, TextIsStoredInCodePage1252AndOtherCharactersDoNotSpoilTheRest) {
    CPrinterSetting latin = Named(u"caf\u00e9");
    latin.InputBin = u"\u20ac";
    CPrinterSetting japanese = Named(u"\u65e5\u672c");
    japanese.InputBin = u"\u30c8\u30ec\u30a4";
    japanese.OutputBin = u"bin2";
    japanese.IPAddress = u"10.1.1.1";
    const PrinterRecords loaded = SaveAndReload({latin, japanese, Named(u"after")});
    EXPECT_EQ(ReadFile(path_).rfind("caf\xE9;0;", 0), 0u);
    EXPECT_NE(ReadFile(path_).find(";PASS;\x80; \r\n"), std::string::npos);
    ASSERT_EQ(loaded.size(), 3u);
    EXPECT_EQ(Show(loaded[0]), Show(latin));
    EXPECT_EQ(loaded[1].Name.size(), 2u);
    EXPECT_EQ(loaded[1].OutputBin, u"bin2");  // the rest of the line is unspoilt
    EXPECT_EQ(loaded[1].IPAddress, u"10.1.1.1");
    EXPECT_EQ(Show(loaded[2]), Show(Named(u"after")));
}

TEST_F(PrinterConfigTest, LoadingAppendsToTheListAndAMissingFileIsShownOnlyOnTheDesktop) {
    app_->PrinterList.Replace({Named(u"kept")});
    app_->LoadPrinterConfig();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(LogMessages().back(), "0\tPrinter.cfg: " + platform::UnicodeToAnsi(messages_[0]));
    app_->SetServiceMode(true);
    app_->LoadPrinterConfig();
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(LogMessages().back().rfind("1\tPrinter.cfg: ", 0), 0u);
    WriteFile(path_, "file;1\r\n");
    app_->LoadPrinterConfig();
    app_->LoadPrinterConfig();
    std::u16string names;
    for (const CPrinterSetting& record : Records())
        names += record.Name + u" ";
    EXPECT_EQ(names, u"kept file file ");
}

TEST_F(PrinterConfigTest, FailedSavesLeaveTheOldFileAndTheListAsTheyWere) {
    const std::string original = "first;0\r\nsecond;1\r\n";
    WriteFile(path_, original);
    PrinterRecords edited;
    for (int i = 0; i < 20; ++i)
        edited.push_back(Named(u"edited" + std::u16string(1, static_cast<char16_t>(u'a' + i))));
    app_->PrinterList.Replace(edited);
    {
#ifdef _WIN32
        GTEST_SKIP() << "no limit on the size of a process's files to fill the disk with on Windows";
#else
        // The disk fills up in the middle of the new content.
        struct rlimit saved {};
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit limited = saved;
        limited.rlim_cur = 100;
        const sighandler_t previous = signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        app_->SavePrinterConfig();
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previous);
#endif
    }
    EXPECT_EQ(messages_.size(), 1u);
    EXPECT_EQ(ReadFile(path_), original);
    const auto before = app_->PrinterList.Snapshot();
    app_->PrinterConfig.SetPath(U16(folder_.File("gone/Printer.cfg")));
    EXPECT_FALSE(app_->PrinterConfig.SavePrinterConfig(app_->PrinterList));
    EXPECT_EQ(messages_.size(), 2u);
    EXPECT_EQ(app_->PrinterList.Snapshot(), before);
}

TEST_F(PrinterConfigTest, LookupsRunCleanlyWhileTheListIsReplacedAndReloaded) {
    WriteFile(path_, "loaded;0\r\n");
    CPrinterSetting held = Named(u"queue");
    held.HoldJobs = 1;
    const PrinterRecords holding{held, Named(u"other")};
    const PrinterRecords releasing{Named(u"other"), Named(u"queue")};
    app_->PrinterList.Replace(holding);
    // Fixed work for the readers; the writer publishes until they are done, so the two overlap.
    std::atomic<int> finished{0};
    std::atomic<int> misses{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            for (int lookup = 0; lookup < 20000; ++lookup) {
                bool hold = false;
                if (!app_->PrinterList.FindVirtualPrinter(u"queue", &hold) ||
                    app_->PrinterList.FindVirtualPrinter(u"absent", &hold))
                    ++misses;
            }
            ++finished;
        });
    }
    for (int round = 0; finished.load() < 4; ++round) {
        app_->PrinterList.Replace(round % 2 ? holding : releasing);
        if (round % 10 == 0)
            app_->LoadPrinterConfig();
    }
    for (std::thread& reader : readers)
        reader.join();
    EXPECT_EQ(misses.load(), 0);
}

}  // namespace
}  // namespace velmora
