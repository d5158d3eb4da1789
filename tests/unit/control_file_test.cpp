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
    // Host, owner, job name, class and document name, joined with '|'.
    std::u16string Fields() {
        Apply();
        return Record.SourceHost + u"|" + Record.Owner + u"|" + Record.JobName + u"|" + Record.JobClass +
               u"|" + Record.DocumentName;
    }
    CSpoolFile Record;
};

// Lines as lpd_session_test sends them are read there with a real client; here the edges.
TEST(ControlFileTest, DescriptiveLinesFillTheFieldsAndTheTitleNamesTheDocument) {
    for (const std::string end : {"\n", "\r\n", "\r"}) {
        SCOPED_TRACE(end.size() == 2 ? "CR LF" : end == "\n" ? "LF" : "CR");
        EXPECT_EQ(Job("Hclient" + end + "Pjohn" + end + "Jreport" + end + "Nreport.txt" + end +
                      "Tmonthly figures" + end + "Cbanner" + end + "ldfA001client" + end)
                      .Fields(),
                  u"client|john|report|banner|monthly figures");
        // The title wins wherever it stands, but an empty one leaves the file name.
        EXPECT_EQ(Job("Tmonthly figures" + end + "Nreport.txt" + end).Fields(),
                  u"192.0.2.7|N/A|N/A|N/A|monthly figures");
        EXPECT_EQ(Job("Hclient" + end + "Nreport.txt" + end + "T" + end).Fields(),
                  u"client|N/A|N/A|N/A|report.txt");
    }
}

TEST(ControlFileTest, ValuesAreKeptUntrimmedAndTheLastLineOfALetterWins) {
    // The last line needs no line end.
    EXPECT_EQ(Job("Nfirst.txt\nN  second.txt \nPjohn").Fields(), u"192.0.2.7|john|N/A|N/A|  second.txt ");
    // Two control files of one job arrive concatenated: the second one's values win.
    EXPECT_EQ(Job("Hfirsthost\nPann\nJone\nNa.txt\nldfA001firsthost\nHsecondhost\nPbob\nNb."
                  "txt\nldfA002secondhost\n")
                  .Fields(),
              u"secondhost|bob|one|N/A|b.txt");
}

TEST(ControlFileTest, LinesOutsideTheTableChangeNothing) {
    const std::string lines = "ldfA001host\nUdfA001host\nIhost\nM\nSabc\nW80\n1font\nfdfA001host\n\n\r\n";
    EXPECT_FALSE(Job(lines).Apply());
    EXPECT_EQ(Job(lines).Fields(), u"192.0.2.7|N/A|N/A|N/A|N/A");
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
    const std::string zero = "Pjohn\nNa.txt\n\0Pmallory\nNb.txt\nZ:compressFlux\n"s;
    EXPECT_FALSE(Job(zero).Apply());
    EXPECT_EQ(Job(zero).Fields(), u"192.0.2.7|john|N/A|N/A|a.txt");
    // A unit that has no byte in code page 1252 converts to zero and ends the text the same way.
    Job unmapped("Pjohn\n");
    unmapped.Record.ControlFile += u"\u4E2DNa.txt\nJlate\n";
    EXPECT_EQ(unmapped.Fields(), u"192.0.2.7|john|N/A|N/A|N/A");
}

TEST(ControlFileTest, ValuesAreDecodedWithTheAnsiConversion) {
    // The client sent UTF-8 bytes, including ones that are undefined in code page 1252 (0x81, 0x8D).
    Job job("Nr\xC3\xA9sum\xC3\xA9.txt\nP\xC3\x81lvaro\nT\xE4\xB8\xAD\xE6\x96\x87\xF0\x9F\x96\xA8\n");
    job.Apply();
    switch (test::CurrentAnsiCodePage()) {
        case test::AnsiCodePage::Utf8:
            EXPECT_EQ(job.Record.Owner, u"\u00C1lvaro");
            EXPECT_EQ(job.Record.DocumentName, u"\u4E2D\u6587\U0001F5A8");
            break;
        case test::AnsiCodePage::Windows1252:
            // Byte by byte, the undefined ones to the control characters of the same value.
            EXPECT_EQ(job.Record.Owner, u"\u00C3\u0081lvaro");
            EXPECT_EQ(job.Record.DocumentName,
                      u"\u00E4\u00B8\u00AD\u00E6\u2013\u2021\u00F0\u0178\u2013\u00A8");
            break;
        case test::AnsiCodePage::Other:
            GTEST_SKIP() << "the expected values are known for UTF-8 and code page 1252";
    }
}

}  // namespace
}  // namespace velmora
