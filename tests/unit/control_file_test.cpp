#include "spool/control_file.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "support/test_util.h"
#include "text/code_page.h"

namespace velmora {
namespace {

using namespace std::string_literals;

// A job as intake creates it, with the control file kept one received byte per unit.
struct Job {
    explicit Job(std::string_view controlFile) {
        Record.DocumentName = Record.Owner = Record.JobName = Record.JobClass = u"N/A";
        Record.SourceHost = u"192.0.2.7";
        Record.ControlFile = FromBytes1252(controlFile);
    }
    bool Apply() { return ApplyControlFile(Record); }
    CSpoolFile Record;
};

TEST(ControlFileTest, DescriptiveLinesFillTheFieldsAndTheTitleNamesTheDocument) {
    for (const char* ending : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(ending == std::string("\n") ? "LF" : ending == std::string("\r") ? "CR" : "CR LF");
        const std::string end = ending;
        Job withTitle("Hclient" + end + "Pjohn" + end + "Jreport" + end + "Nreport.txt" + end +
                      "Tmonthly figures" + end + "Cbanner" + end + "ldfA001client" + end);
        EXPECT_FALSE(withTitle.Apply());
        EXPECT_EQ(withTitle.Record.SourceHost, u"client");
        EXPECT_EQ(withTitle.Record.Owner, u"john");
        EXPECT_EQ(withTitle.Record.JobName, u"report");
        EXPECT_EQ(withTitle.Record.JobClass, u"banner");
        EXPECT_EQ(withTitle.Record.DocumentName, u"monthly figures");
        // The title wins wherever it stands, but an empty one leaves the file name.
        Job titleFirst("Tmonthly figures" + end + "Nreport.txt" + end);
        titleFirst.Apply();
        EXPECT_EQ(titleFirst.Record.DocumentName, u"monthly figures");
        Job emptyTitle("Hclient" + end + "Nreport.txt" + end + "T" + end);
        emptyTitle.Apply();
        EXPECT_EQ(emptyTitle.Record.DocumentName, u"report.txt");
    }
}

TEST(ControlFileTest, ValuesAreKeptUntrimmedAndTheLastLineOfALetterWins) {
    Job job("Nfirst.txt\nN  second.txt \nPjohn");  // the last line needs no line end
    job.Apply();
    EXPECT_EQ(job.Record.DocumentName, u"  second.txt ");
    EXPECT_EQ(job.Record.Owner, u"john");
    // Two control files of one job arrive concatenated: the second one's values win.
    Job two(
        "Hfirsthost\nPann\nJone\nNa.txt\nldfA001firsthost\nHsecondhost\nPbob\nNb.txt\nldfA002secondhost\n");
    two.Apply();
    EXPECT_EQ(two.Record.Owner, u"bob");
    EXPECT_EQ(two.Record.JobName, u"one");
}

TEST(ControlFileTest, LinesOutsideTheTableChangeNothing) {
    Job job("ldfA001host\nUdfA001host\nIhost\nM\nSabc\nW80\n1font\nfdfA001host\n\n\r\n");
    EXPECT_FALSE(job.Apply());
    for (const std::u16string* field :
         {&job.Record.DocumentName, &job.Record.Owner, &job.Record.JobName, &job.Record.JobClass})
        EXPECT_EQ(*field, u"N/A");
    EXPECT_EQ(job.Record.SourceHost, u"192.0.2.7");
    EXPECT_FALSE(Job("").Apply());
}

TEST(ControlFileTest, OnlyTheExactMarkerAtTheStartOfAZLineMeansCompressed) {
    // Whatever follows the 13 characters is ignored, and another Z line does not take the mark back.
    for (const char* compressed : {"Hhost\nZ:compressFlux\nNa.pdf\n", "Z:compressFlux level=9 v2\n",
                                   "Z:compressFluxion\n", "Z:compressFlux\nZother\n"})
        EXPECT_TRUE(Job(compressed).Apply()) << compressed;
    for (const char* plain : {"Z:compress\n", "ZcompressFlux\n", "Zcompress\n", "Z:CompressFlux\n",
                              "Z :compressFlux\n", "N:compressFlux\n"})
        EXPECT_FALSE(Job(plain).Apply()) << plain;
}

TEST(ControlFileTest, AZeroUnitEndsTheControlFile) {
    Job job("Pjohn\nNa.txt\n\0Pmallory\nNb.txt\nZ:compressFlux\n"s);
    EXPECT_FALSE(job.Apply());
    EXPECT_EQ(job.Record.Owner, u"john");
    EXPECT_EQ(job.Record.DocumentName, u"a.txt");
    // A unit that has no byte in code page 1252 converts to zero and ends the text the same way.
    Job unmapped("Pjohn\n");
    unmapped.Record.ControlFile += u"\u4E2DNa.txt\nJlate\n";
    unmapped.Apply();
    EXPECT_EQ(unmapped.Record.Owner, u"john");
    EXPECT_EQ(unmapped.Record.DocumentName, u"N/A");
    EXPECT_EQ(unmapped.Record.JobName, u"N/A");
}

TEST(ControlFileTest, ValuesAreDecodedWithTheAnsiConversion) {
    // The client sent UTF-8 bytes, including ones that are undefined in code page 1252 (0x81, 0x8D).
    Job job("Nr\xC3\xA9sum\xC3\xA9.txt\nP\xC3\x81lvaro\nT\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x96\xA8\n");
    job.Apply();
    Job noTitle("Nr\xC3\xA9sum\xC3\xA9.txt\nJ\xE7\x8D\x8D\n");
    noTitle.Apply();
    switch (test::CurrentAnsiCodePage()) {
        case test::AnsiCodePage::Utf8:
            EXPECT_EQ(job.Record.Owner, u"\u00C1lvaro");
            EXPECT_EQ(job.Record.DocumentName, u"\u4E2D\u6587\U0001F5A8");
            EXPECT_EQ(noTitle.Record.DocumentName, u"r\u00E9sum\u00E9.txt");
            EXPECT_EQ(noTitle.Record.JobName, u"\u734D");
            break;
        case test::AnsiCodePage::Windows1252:
            // Byte by byte, the undefined ones to the control characters of the same value.
            EXPECT_EQ(job.Record.Owner, u"\u00C3\u0081lvaro");
            EXPECT_EQ(job.Record.DocumentName,
                      u"\u00E4\u00B8\u00AD\u00E6\u2013\u2021\u00F0\u0178\u2013\u00A8");
            EXPECT_EQ(noTitle.Record.DocumentName, u"r\u00C3\u00A9sum\u00C3\u00A9.txt");
            EXPECT_EQ(noTitle.Record.JobName, u"\u00E7\u008D\u008D");
            break;
        case test::AnsiCodePage::Other:
            GTEST_SKIP() << "the expected values are known for UTF-8 and code page 1252";
    }
}

}  // namespace
}  // namespace velmora
