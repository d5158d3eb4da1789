// A received job's data: expanded, typed, renamed, and PCL pages counted.
#include "spool/payload.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "net/job_intake.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "spool/pcl_scanner.h"
#include "support/app_fixture.h"
#include "text/code_page.h"

namespace velmora {
namespace {

using namespace std::string_literals;
using test::ReadFile;
using test::U16;
using test::WriteFile;

// Letters that compress to a bit over half their size: small inputs give several blocks.
std::string Letters(std::size_t count, uint32_t seed = 1) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        seed = seed * 1103515245u + 12345u;
        text.push_back(static_cast<char>('a' + (seed >> 16) % 26));
    }
    return text;
}

// A raw DEFLATE stream; with Z_SYNC_FLUSH every block is complete but none is marked final.
std::string Deflate(const std::string& data, int flush = Z_FINISH) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, data.size()) + 64, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, flush), flush == Z_FINISH ? Z_STREAM_END : Z_OK);
    out.resize(out.size() - stream.avail_out);
    deflateEnd(&stream);
    return out;
}

std::string Ansi(const std::u16string& text) {
    return platform::UnicodeToAnsi(text);
}

class PayloadTest : public test::AppFixture {
  protected:
    void SetUp() override {
        AppFixture::SetUp();
        ASSERT_FALSE(platform::CreateFolder(U16(folder_.File("Spool/LP1"))));
    }
    std::string SpoolPath(const std::string& name) const { return folder_.File("Spool/LP1/" + name); }
    // A received job as intake hands it over: defaults, its data file and its control file.
    void Receive(const std::string& data, const std::string& controlFile,
                 const std::string& name = "2026120510484177.tmp") {
        WriteFile(SpoolPath(name), data);
        job_.DocumentName = job_.Owner = job_.JobName = job_.JobClass = u"N/A";
        job_.FileSize = job_.FileType = u"N/A";
        job_.LocalFileName = U16(SpoolPath(name));
        job_.ControlFile = FromBytes1252(controlFile);
    }
    // Runs the preparation and returns the log lines it wrote.
    std::vector<std::string> Prepare() {
        const std::size_t before = LogMessages().size();
        PreparePayload(job_, app_->Reporter, app_->Settings);
        const std::vector<std::string> all = LogMessages();
        return std::vector<std::string>(all.begin() + static_cast<long>(before), all.end());
    }
    CSpoolFile job_;
};

TEST_F(PayloadTest, CompressedJobIsExpandedInPlaceOfItsDataFile) {
    const struct {
        std::string Data;
        std::string Name;
        const char16_t* Type;
        const char16_t* Size;
    } cases[] = {
        {Letters(2000), "2026120510484177.tmp_unzip", u"N/A", u"2000 bytes"},
        {"%PDF-1.4\n" + Letters(3000), "2026120510484177.pdf_unzip", u"PDF", u"3009 bytes"},
        {"\033E\033&l2H" + Letters(70000) + "\f\033*b3W\f\f\f" + Letters(100) + "\f",
         "2026120510484177.tmp_unzip", u"PCL", u"2 page(s)"},
    };
    const std::string path = SpoolPath("2026120510484177.tmp");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Receive(Deflate(c.Data), "Hclient\nPjohn\nNreport.txt\nZ:compressFlux v1\nldfA077client\n");
        EXPECT_EQ(Prepare().back(), "0\tFile uncompressed -> " + path + "_unzip");
        EXPECT_EQ(job_.LocalFileName, U16(SpoolPath(c.Name)));
        EXPECT_TRUE(ReadFile(SpoolPath(c.Name)) == c.Data);
        EXPECT_FALSE(platform::FileExists(U16(path)));
        EXPECT_EQ(job_.FileType, c.Type);
        EXPECT_EQ(job_.FileSize, c.Size);
        EXPECT_TRUE(messages_.empty());
        platform::RemoveFile(job_.LocalFileName);
    }
}

// An invalid stream, a cut one and one without a final block: the file stays, typed COMPRESS.
TEST_F(PayloadTest, StreamThatCannotBeExpandedKeepsTheCompressedFile) {
    const std::string whole = Deflate(Letters(300000));
    const std::string path = SpoolPath("2026120510484177.tmp");
    const std::string failure = "Unable to uncompress file " + path;
    std::size_t shown = 0;
    // 0xFF starts a final block of the reserved type 3.
    for (const std::string& stream : {"\xFF" + Letters(1200), whole.substr(0, whole.size() / 2),
                                      Deflate(Letters(300000), Z_SYNC_FLUSH)}) {
        Receive(stream, "Z:compressFlux\n");
        const std::vector<std::string> expected = {
            "0\tCompressed file, try to uncompress",
            "0\tCompressed size: " + std::to_string(stream.size()) + " bytes",
            "0\t" + failure,
        };
        EXPECT_EQ(Prepare(), expected);
        EXPECT_EQ(job_.LocalFileName, U16(path));
        EXPECT_TRUE(ReadFile(path) == stream);
        EXPECT_FALSE(platform::FileExists(U16(path + "_unzip")));
        EXPECT_EQ(job_.FileType, u"COMPRESS");
        EXPECT_EQ(job_.FileSize, U16(std::to_string(stream.size()) + " bytes"));
        EXPECT_EQ(messages_, std::vector<std::u16string>(++shown, U16("0\t" + failure)));
    }
    // A data file that is already gone cannot be opened: reported, and nothing more is known of it.
    Receive("\xFF" + Letters(1200), "Z:compressFlux\n");
    ASSERT_FALSE(platform::RemoveFile(job_.LocalFileName));
    EXPECT_EQ(Prepare(),
              (std::vector<std::string>{"0\tCompressed file, try to uncompress", "0\t" + failure}));
    EXPECT_EQ(job_.FileSize, u"N/A");
}

TEST_F(PayloadTest, InflateFileStopsAtTheFinalBlockAndReadsOnlyTheGivenLength) {
    const std::string data = Letters(5000);
    const std::string stream = Deflate(data);
    const std::u16string input = U16(folder_.File("in"));
    const std::u16string output = U16(folder_.File("out"));
    // Whatever follows the final block is not looked at.
    WriteFile(folder_.File("in"), stream + "trailing bytes \033&l1H\xFF\xFF");
    WriteFile(folder_.File("out"), Letters(9000, 7));  // an older, longer file is replaced
    EXPECT_TRUE(InflateFile(input, static_cast<int64_t>(stream.size()) + 19, output));
    EXPECT_EQ(ReadFile(folder_.File("out")), data);
    // A length shorter than the stream leaves it unfinished.
    EXPECT_FALSE(InflateFile(input, static_cast<int64_t>(stream.size()) - 1, output));
    // An empty payload is a valid stream too.
    WriteFile(folder_.File("in"), Deflate(""));
    EXPECT_TRUE(InflateFile(input, 2, output));
    EXPECT_EQ(ReadFile(folder_.File("out")), "");
}

TEST_F(PayloadTest, CompressedFileThatCannotBeRemovedIsLeftBesideTheExpandedOne) {
    const std::string data = Letters(1500);
    Receive(Deflate(data), "Z:compressFlux\n");
    const std::string path = SpoolPath("2026120510484177.tmp");
    // Another reader still holds it: it can be read but not removed.
    platform::CNativeFile holder;
    ASSERT_FALSE(holder.Open(U16(path), platform::OPEN_READ | platform::SHARE_DENY_WRITE));
    const std::vector<std::string> log = Prepare();
    ASSERT_EQ(log.size(), 4u);
    const std::string failure =
        "0\tUnable to remove the compressed file " + path + " (" + Ansi(test::SharingViolationText()) + ")";
    EXPECT_EQ(log[2], failure);
    EXPECT_EQ(messages_, std::vector<std::u16string>{U16(failure)});
    EXPECT_EQ(job_.LocalFileName, U16(path + "_unzip"));
    EXPECT_EQ(ReadFile(path + "_unzip"), data);
    EXPECT_TRUE(platform::FileExists(U16(path)));
    EXPECT_EQ(job_.FileType, u"N/A");
}

TEST_F(PayloadTest, SizesBeyond32BitsAreShownWhole) {
    // Sparse files of zeros: no type, and a stream the expansion refuses at its first block.
    for (const char* controlFile : {"", "Z:compressFlux\n"}) {
        Receive("", controlFile);
        std::filesystem::resize_file(Ansi(job_.LocalFileName), (std::uintmax_t{1} << 32) + 1);
        const std::vector<std::string> log = Prepare();
        EXPECT_TRUE(*controlFile == '\0' || log.at(1) == "0\tCompressed size: 4294967297 bytes");
        EXPECT_EQ(job_.FileSize, u"4294967297 bytes");
        platform::RemoveFile(job_.LocalFileName);
    }
}

TEST_F(PayloadTest, PdfThatCannotBeRenamedKeepsItsName) {
    const std::string path = SpoolPath("2026120510484177.tmp");
    WriteFile(SpoolPath("2026120510484177.pdf"), "an earlier job");
    Receive("%PDF-1.4\n", "");
    const std::vector<std::string> log = Prepare();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(
        log[0].rfind("0\tUnable to rename the file " + path + " with pdf extension after 3 attempts (", 0),
        0u);
    EXPECT_EQ(messages_, std::vector<std::u16string>{U16(log[0])});
    EXPECT_EQ(job_.LocalFileName, U16(path));
    EXPECT_EQ(job_.FileType, u"PDF");
    EXPECT_EQ(ReadFile(SpoolPath("2026120510484177.pdf")), "an earlier job");
}

TEST_F(PayloadTest, AReceptionNeverTakesANameAnEarlierJobsDataTook) {
    // Two jobs of the same second and thread, renamed .pdf, expanded into "_unzip", or both.
    const struct {
        std::string Data;
        bool Compressed;
        uint32_t Thread;
    } cases[] = {{"%PDF-1.4\n", false, 77}, {"text", true, 78}, {"%PDF-1.4\n", true, 79}};
    const std::u16string folder = U16(folder_.File("Spool/LP1"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Thread);
        std::vector<std::u16string> files;
        for (const std::string suffix : {".tmp", "_2.tmp"}) {
            const std::u16string path = ReserveSpoolFile(folder, u"20261205104841", c.Thread);
            const std::string name = "20261205104841" + std::to_string(c.Thread) + suffix;
            ASSERT_EQ(path, folder + platform::PATH_SEPARATOR + U16(name));
            const std::string data = c.Data + suffix;
            Receive(c.Compressed ? Deflate(data) : data, c.Compressed ? "Z:compressFlux\n" : "", name);
            Prepare();
            files.push_back(job_.LocalFileName);
        }
        EXPECT_EQ(ReadFile(Ansi(files[0])), c.Data + ".tmp");
        EXPECT_EQ(ReadFile(Ansi(files[1])), c.Data + "_2.tmp");
    }
}

// Without the marker the data is only typed: PDF (renamed) in the sample, PCL by its commands.
TEST_F(PayloadTest, DataIsTypedAndPdfRenamed) {
    // clang-format off
    const struct {
        std::string Data;
        const char16_t* Type;
        const char16_t* Size;
    } cases[] = {
        {"plain text\n", u"N/A", u"11 bytes"},
        {"\r\njunk before it %PDF-1.7\n%\xE2\xE3\xCF\xD3\n", u"PDF", u"32 bytes"},
        {"abc\0%PDF-1.4\n"s, u"N/A", u"13 bytes"}, {"%PDF-2.0\n", u"N/A", u"9 bytes"},
        {std::string(4089, 'a') + "%PDF-1.4", u"PDF", u"4097 bytes"},  // ends at the sample's last byte
        {std::string(4090, 'a') + "%PDF-1.4", u"N/A", u"4098 bytes"},
        {"\033E\033&l1Hone\ftwo\f", u"PCL", u"2 page(s)"},
        // The escape character need not stand before the command.
        {"&l one\f\033", u"PCL", u"1 page(s)"}, {"&l1H one\f two\f", u"N/A", u"14 bytes"},
        {"\033E one\f", u"N/A", u"7 bytes"},
        {"%PDF-1.4 \033&l", u"PDF", u"12 bytes"},  // PDF is tested first
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Data.substr(0, 40));
        Receive(c.Data, "Pjohn\nZcompressFlux\n");
        EXPECT_TRUE(Prepare().empty());
        EXPECT_EQ(job_.FileType, c.Type);
        EXPECT_EQ(job_.FileSize, c.Size);
        const std::string name =
            c.Type == std::u16string(u"PDF") ? "2026120510484177.pdf" : "2026120510484177.tmp";
        EXPECT_EQ(job_.LocalFileName, U16(SpoolPath(name)));
        EXPECT_TRUE(ReadFile(SpoolPath(name)) == c.Data);
        platform::RemoveFile(job_.LocalFileName);
    }
}

int32_t Pages(std::string_view data) {
    PclScanner scanner;
    for (const char c : data)
        scanner.Feed(static_cast<uint8_t>(c));
    return scanner.Pages();
}

// Form feeds are pages, except inside binary data a command announces, HP-GL/2 and escape sequences.
TEST(PclScannerTest, PagesAreTheFormFeedsOfText) {
    // clang-format off
    const struct {
        std::string Data;
        int32_t Pages;
    } cases[] = {
        {"\033Epage one\fpage two\fpage three\f", 3},
        // Announced binary data is skipped exactly; a leading blank and a plus belong to the count.
        {"\033*b3W\f\f\f\f", 1}, {"\033*b3V\f\f\f", 0}, {"\033*r1A\033*b2m4W\f\f\f\f\f\033*rB\f", 2},
        {"\033(s5W\f\f\f\f\f\f", 1}, {"\033)s2W\f\f", 0}, {"\033*c2W\f\f\033*s1W\f\033*v1W\f", 0},
        {"\033*b +2W\f\f\f", 1},
        // Other commands ending in W, a count ended by a lower-case w or without digits skip nothing.
        {"\033&p2W\f\f", 2}, {"\033*b2w0W\f\f", 2}, {"\033*bW\f", 1},
        // HP-GL/2 (lower-case letters end parameters); the universal exit does not enter it.
        {"one\f\033%1BIN;PU\f;PD100,100\f;\033%0Atwo\f", 2}, {"\033%1B\033%1a\f\033%0A\f", 1},
        {"\033%-12345X@PJL ENTER LANGUAGE=PCL\n\033Epage\f", 1},
        // Sequences end at their capital terminator (ESC 9's group character is the form feed).
        {"\033E\f", 1}, {"\0339\f", 0}, {"\033=\f", 0}, {"\033(B\f", 1}, {"\033&l0o\f\f2A\f", 1},
        // Only the first 254 characters form a count; one beyond 32 bits passes over everything after it.
        {"\033*b" + std::string(300, '0') + "5W\f", 1}, {"\033*b99999999999999W\f\f", 0},
        {"one\f\033*b-1W\033E\f" + std::string(200000, '\f'), 1},  // a negative count too
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(Pages(c.Data), c.Pages) << c.Data.substr(0, 40);
}

TEST(PclScannerTest, ReportsTrayValuesRightAtTheirTerminators) {
    PclScanner scanner;
    // An overlong value is cut to the longest one kept.
    const std::string data =
        "\033&l1h25G\033&l7H\033&l0O\033&a3G\033&l4g\033&l-3.0H\033&l" + std::string(1000, '5') + "H";
    std::string reports;
    for (const char c : data) {
        scanner.Feed(static_cast<uint8_t>(c));
        if (scanner.PaperSourceLength >= 0)
            reports += c + std::to_string(scanner.PaperSourceLength) + " ";
        if (scanner.OutputBinLength >= 0)
            reports += c + std::to_string(scanner.OutputBinLength) + " ";
        scanner.PaperSourceLength = scanner.OutputBinLength = -1;
    }
    EXPECT_EQ(reports, "h1 G2 H1 g1 H4 H" + std::to_string(PclScanner::MAX_VALUE_LENGTH) + " ");
}

TEST(PclScannerTest, CountPclPagesReadsTheWholeFileAcrossBlocks) {
    test::TempFolder folder;
    // Raster data that crosses the 64 KiB block boundary, full of form feeds.
    const std::string raster(70000, '\f');
    test::WriteFile(folder.File("job.pcl"),
                    "\033Eone\f\033*b70000W" + raster + "two\f" + std::string(70000, 'x') + "three\f");
    EXPECT_EQ(CountPclPages(test::U16(folder.File("job.pcl"))), 3);
}

}  // namespace
}  // namespace velmora
