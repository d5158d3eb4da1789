#include "platform/print_spooler.h"

// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>
// clang-format on

#include <algorithm>
#include <vector>

#include "platform/win32/wide.h"

// The spooler's A/W macros would rename this layer's functions of the same names.
#undef OpenPrinter
#undef StartDocPrinter

namespace velmora::platform {

struct CPrinterConnection {
    HANDLE Printer = nullptr;
    bool DocumentStarted = false;
    // The spooler's job is made at the first byte, so that a document without one leaves no job.
    std::u16string DocumentName;
    bool JobStarted = false;
    bool PageStarted = false;
};

namespace {

// The spooler's two-call pattern: ask for the size, then fill a buffer of that size.
template <typename Call>
bool FillBuffer(std::vector<BYTE>* buffer, Call call) {
    DWORD needed = 0;
    buffer->assign(1, 0);
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (call(buffer->data(), static_cast<DWORD>(buffer->size()), &needed))
            return true;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed <= buffer->size())
            return false;
        buffer->assign(needed, 0);
    }
    return false;
}

}  // namespace

bool OpenPrinter(const std::u16string& printerName, PrinterHandle* printer) {
    std::u16string name = printerName;
    // Use only: no data type and no device mode of our own.
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ACCESS_USE};
    HANDLE handle = nullptr;
    if (!OpenPrinterW(Wide(name), &handle, &defaults))
        return false;
    *printer = new CPrinterConnection;
    (*printer)->Printer = handle;
    return true;
}

bool StartDocPrinter(PrinterHandle printer, const std::u16string& documentName) {
    if (!printer || printer->DocumentStarted)
        return false;
    printer->DocumentStarted = true;
    printer->DocumentName = documentName;
    printer->JobStarted = false;
    printer->PageStarted = false;
    return true;
}

bool StartPagePrinter(PrinterHandle printer) {
    if (!printer || !printer->DocumentStarted)
        return false;
    printer->PageStarted = true;
    return !printer->JobStarted || ::StartPagePrinter(printer->Printer);
}

namespace {

// The spooler's job of the document, with its page when one was started.
bool StartJob(PrinterHandle printer) {
    // No data type: the printer's default one, which hands the bytes on unchanged.
    DOC_INFO_1W document = {Wide(printer->DocumentName), nullptr, nullptr};
    if (StartDocPrinterW(printer->Printer, 1, reinterpret_cast<BYTE*>(&document)) == 0)
        return false;
    printer->JobStarted = true;
    return !printer->PageStarted || ::StartPagePrinter(printer->Printer);
}

}  // namespace

bool WritePrinter(PrinterHandle printer, const void* data, std::size_t size, std::size_t* written) {
    *written = 0;
    if (!printer || !printer->DocumentStarted)
        return false;
    if (size > 0 && !printer->JobStarted && !StartJob(printer))
        return false;
    // WritePrinter takes a DWORD count: larger buffers go in parts.
    while (*written < size) {
        const auto part = static_cast<DWORD>(std::min<std::size_t>(size - *written, 1u << 30));
        DWORD accepted = 0;
        if (!::WritePrinter(printer->Printer, const_cast<char*>(static_cast<const char*>(data)) + *written,
                            part, &accepted)) {
            return false;
        }
        *written += accepted;
        if (accepted == 0)
            return false;
    }
    return true;
}

bool EndPagePrinter(PrinterHandle printer) {
    if (!printer || !printer->PageStarted)
        return false;
    printer->PageStarted = false;
    return !printer->JobStarted || ::EndPagePrinter(printer->Printer);
}

bool EndDocPrinter(PrinterHandle printer) {
    if (!printer || !printer->DocumentStarted)
        return false;
    printer->DocumentStarted = false;
    printer->PageStarted = false;
    // A document without a byte has no job: nothing reaches the port, not even an empty file.
    if (!printer->JobStarted)
        return true;
    printer->JobStarted = false;
    return ::EndDocPrinter(printer->Printer);
}

bool ClosePrinter(PrinterHandle printer) {
    if (!printer)
        return false;
    // A document that was started and not ended is deleted, not printed.
    if (printer->JobStarted)
        AbortPrinter(printer->Printer);
    const bool closed = ::ClosePrinter(printer->Printer);
    delete printer;
    return closed;
}

std::vector<std::u16string> EnumeratePrinters() {
    std::vector<std::u16string> names;
    std::vector<BYTE> buffer;
    DWORD count = 0;
    // The local printers and connections by their short records; where that fails, the local printers
    // by their full ones.
    const bool short4 = FillBuffer(&buffer, [&count](BYTE* data, DWORD size, DWORD* needed) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 4, data, size, needed,
                             &count) != 0;
    });
    if (short4) {
        const auto* printers = reinterpret_cast<const PRINTER_INFO_4W*>(buffer.data());
        for (DWORD i = 0; i < count && printers[i].pPrinterName; ++i)
            names.push_back(FromWide(printers[i].pPrinterName));
        return names;
    }
    const bool full = FillBuffer(&buffer, [&count](BYTE* data, DWORD size, DWORD* needed) {
        return EnumPrintersW(PRINTER_ENUM_NAME | PRINTER_ENUM_LOCAL, nullptr, 2, data, size, needed,
                             &count) != 0;
    });
    if (full) {
        const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        for (DWORD i = 0; i < count && printers[i].pPrinterName; ++i)
            names.push_back(FromWide(printers[i].pPrinterName));
    }
    return names;
}

std::u16string DefaultPrinter() {
    DWORD size = 0;
    GetDefaultPrinterW(nullptr, &size);
    if (size == 0)
        return {};
    std::u16string name(size, u'\0');
    if (!GetDefaultPrinterW(Wide(name), &size))
        return {};
    name.resize(size > 0 ? size - 1 : 0);
    return name;
}

bool PrinterDriverAndPort(const std::u16string& printerName, std::u16string* driver, std::u16string* port) {
    std::u16string name = printerName;
    HANDLE printer = nullptr;
    if (!OpenPrinterW(Wide(name), &printer, nullptr))
        return false;
    std::vector<BYTE> buffer;
    const bool read = FillBuffer(&buffer, [printer](BYTE* data, DWORD size, DWORD* needed) {
        return GetPrinterW(printer, 2, data, size, needed) != 0;
    });
    ::ClosePrinter(printer);
    if (!read)
        return false;
    const auto* information = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    *driver = FromWide(information->pDriverName);
    *port = FromWide(information->pPortName);
    return true;
}

bool ShellPrint(const std::u16string& path) {
    const HINSTANCE result = ShellExecuteW(nullptr, L"print", Wide(path), nullptr, nullptr, SW_HIDE);
    // Values above 32 mean success.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

}  // namespace velmora::platform
