// A spooler printer for the tests: Wine's PostScript driver and a port that is a file, deleted at the end.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <filesystem>
#include <string>

#include "support/test_util.h"
#include "windows/windows_test_util.h"

namespace velmora::test {

class WinePrinter {
  public:
    static constexpr char NAME[] = "Velmora Raw Test";
    static constexpr wchar_t DRIVER[] = L"Wine PostScript Driver";

    explicit WinePrinter(std::string portFile) : portFile_(std::move(portFile)) {
        DRIVER_INFO_3W driver{};
        driver.cVersion = 3;
        driver.pName = const_cast<wchar_t*>(DRIVER);
        driver.pDriverPath = const_cast<wchar_t*>(L"wineps.drv");
        driver.pDataFile = const_cast<wchar_t*>(L"generic.ppd");
        driver.pConfigFile = const_cast<wchar_t*>(L"wineps.drv");
        driver.pDefaultDataType = const_cast<wchar_t*>(L"RAW");
        AddPrinterDriverW(nullptr, 3, reinterpret_cast<BYTE*>(&driver));  // harmless when it is there
        Delete();
        std::wstring name = Widen(NAME);
        std::wstring port = Widen(portFile_);
        PRINTER_INFO_2W info{};
        info.pPrinterName = name.data();
        info.pPortName = port.data();
        info.pDriverName = const_cast<wchar_t*>(DRIVER);
        info.pPrintProcessor = const_cast<wchar_t*>(L"WinPrint");
        info.pDatatype = const_cast<wchar_t*>(L"RAW");
        if (HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info)))
            ClosePrinter(printer);
        else
            failure_ = "AddPrinterW failed with " + std::to_string(GetLastError());
    }
    ~WinePrinter() { Delete(); }
    WinePrinter(const WinePrinter&) = delete;
    WinePrinter& operator=(const WinePrinter&) = delete;

    const std::string& Failure() const { return failure_; }
    const std::string& PortFile() const { return portFile_; }

    // The next document written to the port file, which is removed; empty after ten seconds.
    std::string NextDocument() const {
        WaitUntil([this] { return std::filesystem::exists(portFile_); });
        const std::string document = ReadFile(portFile_);
        std::filesystem::remove(portFile_);
        return document;
    }

  private:
    static void Delete() {
        PRINTER_DEFAULTSW access{nullptr, nullptr, PRINTER_ALL_ACCESS};
        HANDLE printer = nullptr;
        std::wstring name = Widen(NAME);
        if (OpenPrinterW(name.data(), &printer, &access)) {
            DeletePrinter(printer);
            ClosePrinter(printer);
        }
    }

    std::string portFile_;
    std::string failure_;
};

}  // namespace velmora::test
