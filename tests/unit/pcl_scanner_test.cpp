#include "spool/pcl_scanner.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "spool/payload.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using namespace std::string_literals;

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
        // Raster rows, font headers, character, pattern, symbol set and palette data: exactly the announced
        // count is skipped; a leading blank and a plus sign belong to the count.
        {"\033*b3W\f\f\f\f", 1}, {"\033*b3V\f\f\f", 0}, {"\033*r1A\033*b2m4W\f\f\f\f\f\033*rB\f", 2},
        {"\033(s5W\f\f\f\f\f\f", 1}, {"\033)s2W\f\f", 0}, {"\033*c2W\f\f\033*s1W\f\033*v1W\f", 0},
        {"\033*b +2W\f\f\f", 1},
        // Other commands ending in W, a count ended by a lower-case w or without digits skip nothing.
        {"\033&p2W\f\f", 2}, {"\033*b2w0W\f\f", 2}, {"\033*bW\f", 1},
        // HP-GL/2 (a lower-case letter ends its parameter without leaving it); the universal exit does not
        // enter it.
        {"one\f\033%1BIN;PU\f;PD100,100\f;\033%0Atwo\f", 2}, {"\033%1B\033%1a\f\033%0A\f", 1},
        {"\033%-12345X@PJL ENTER LANGUAGE=PCL\n\033Epage\f", 1},
        // Two-character sequences end at their capital (ESC 9 is not one: the form feed is its group
        // character), three-character ones at a capital group character, others at their capital terminator.
        {"\033E\f", 1}, {"\0339\f", 0}, {"\033=\f", 0}, {"\033(B\f", 1}, {"\033&l0o\f\f2A\f", 1},
        // Only the first 254 characters form a count; one beyond 32 bits passes over everything after it.
        {"\033*b" + std::string(300, '0') + "5W\f", 1}, {"\033*b99999999999999W\f\f", 0},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(Pages(c.Data), c.Pages) << c.Data.substr(0, 40);
}

TEST(PclScannerTest, NegativeCountPassesOverTheRestOfTheStream) {
    PclScanner scanner;
    for (const char c : "first\f\033*b-1W"s)
        scanner.Feed(static_cast<uint8_t>(c));
    for (int i = 0; i < 200000; ++i)
        scanner.Feed(i % 2 ? '\f' : '\033');
    EXPECT_EQ(scanner.Pages(), 1);
}

TEST(PclScannerTest, ReportsTrayValuesRightAtTheirTerminators) {
    PclScanner scanner;
    const std::string data = "\033&l1h25G\033&l7H\033&l0O\033&a3G\033&l4g\033&l-3.0H";
    std::string reports;
    for (const char c : data) {
        scanner.Feed(static_cast<uint8_t>(c));
        if (scanner.PaperSourceLength >= 0)
            reports += c + std::to_string(scanner.PaperSourceLength) + " ";
        if (scanner.OutputBinLength >= 0)
            reports += c + std::to_string(scanner.OutputBinLength) + " ";
        scanner.PaperSourceLength = scanner.OutputBinLength = -1;
    }
    EXPECT_EQ(reports, "h1 G2 H1 g1 H4 ");
}

TEST(PclScannerTest, OverlongValuesAreCutWithoutHarm) {
    PclScanner scanner;
    for (const char c : "\033&l" + std::string(1000, '5') + "H")
        scanner.Feed(static_cast<uint8_t>(c));
    EXPECT_EQ(scanner.PaperSourceLength, PclScanner::MAX_VALUE_LENGTH);
}

TEST(PclScannerTest, CountPclPagesReadsTheWholeFileAcrossBlocks) {
    test::TempFolder folder;
    // Raster data that crosses the 64 KiB block boundary, full of form feeds.
    const std::string raster(70000, '\f');
    test::WriteFile(folder.File("job.pcl"),
                    "\033Eone\f\033*b70000W" + raster + "two\f" + std::string(70000, 'x') + "three\f");
    EXPECT_EQ(CountPclPages(test::U16(folder.File("job.pcl"))), 3);
    EXPECT_EQ(CountPclPages(test::U16(folder.File("missing.pcl"))), 0);
    EXPECT_EQ(CountPclPages(u""), -1);
}

}  // namespace
}  // namespace velmora
