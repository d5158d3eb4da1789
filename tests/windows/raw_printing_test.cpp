// Raw printing through the Windows print spooler to a printer whose port is a file.
#include <gtest/gtest.h>

#include "windows/wine_printer.h"
// The platform layer's functions of the same names, not the spooler's wide-character macros.
#undef OpenPrinter
#undef StartDocPrinter

#include <algorithm>

#include "platform/print_spooler.h"
#include "support/app_fixture.h"
#include "support/raw_route.h"
#include "support/test_util.h"

namespace velmora {
namespace {

using test::U16;

constexpr const char* PRINTER = test::WinePrinter::NAME;

class RawPrintingTest : public test::AppFixture {
  protected:
    void SetUp() override {
        test::AppFixture::SetUp();
        printer_ = std::make_unique<test::WinePrinter>(folder_.File("port.prn"));
        ASSERT_TRUE(printer_->Failure().empty()) << printer_->Failure();
    }
    void TearDown() override {
        printer_.reset();
        test::AppFixture::TearDown();
    }

    std::unique_ptr<test::WinePrinter> printer_;
};

TEST_F(RawPrintingTest, OneHandlePrintsOneDocumentAfterTheOtherInWritesOfAnySize) {
    platform::PrinterHandle printer = nullptr;
    ASSERT_TRUE(platform::OpenPrinter(U16(PRINTER), &printer));
    for (const std::string document : {"first\n", "second\n"}) {
        EXPECT_TRUE(platform::StartDocPrinter(printer, U16(document)));
        EXPECT_TRUE(platform::StartPagePrinter(printer));
        std::size_t written = 0;
        EXPECT_TRUE(platform::WritePrinter(printer, document.data(), 2, &written));
        EXPECT_TRUE(platform::WritePrinter(printer, document.data() + 2, document.size() - 2, &written));
        EXPECT_EQ(written, document.size() - 2);
        EXPECT_TRUE(platform::EndPagePrinter(printer));
        EXPECT_TRUE(platform::EndDocPrinter(printer));
        EXPECT_EQ(printer_->NextDocument(), document);
    }
    EXPECT_TRUE(platform::ClosePrinter(printer));
}

TEST_F(RawPrintingTest, ThePrinterIsListedWithItsDriverAndPortAndCanBeTheDefaultAMissingOneFailsToOpen) {
    const std::vector<std::u16string> names = platform::EnumeratePrinters();
    EXPECT_NE(std::find(names.begin(), names.end(), U16(PRINTER)), names.end());
    std::u16string driver;
    std::u16string port;
    ASSERT_TRUE(platform::PrinterDriverAndPort(U16(PRINTER), &driver, &port));
    EXPECT_EQ(driver, u"Wine PostScript Driver");
    EXPECT_EQ(port, U16(printer_->PortFile()));
    EXPECT_FALSE(platform::PrinterDriverAndPort(u"No Such Printer", &driver, &port));
    platform::PrinterHandle printer = nullptr;
    EXPECT_FALSE(platform::OpenPrinter(u"No Such Printer", &printer));

    const std::u16string previous = platform::DefaultPrinter();
    const std::wstring name = test::Widen(PRINTER);
    ASSERT_TRUE(SetDefaultPrinterW(name.c_str()));
    EXPECT_EQ(platform::DefaultPrinter(), U16(PRINTER));
    if (!previous.empty())
        SetDefaultPrinterW(std::wstring(previous.begin(), previous.end()).c_str());
}

TEST_F(RawPrintingTest, JobsReceivedOverWindowsSocketsArePrintedByTheSpooler) {
    test::ExpectJobsPrintedRawThroughTheSpooler(*app_, U16(PRINTER), folder_,
                                                [this] { return printer_->NextDocument(); });
}

}  // namespace
}  // namespace velmora
