// The print spooler on CUPS. Every handle and every query has its own connection to the server that
// CUPS_SERVER or the client configuration selects, so that threads never share one.
#include "platform/print_spooler.h"

#include <cups/cups.h>
#include <sys/socket.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "platform/ansi.h"

namespace velmora::platform {

namespace {

// Long enough for a server under load; a server that cannot be reached at all fails at once.
constexpr int CONNECT_MILLISECONDS = 30000;
constexpr std::size_t WRITE_CHUNK_SIZE = 64 * 1024;

struct CHttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using HttpPointer = std::unique_ptr<http_t, CHttpCloser>;

struct CIppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, CIppDeleter>;

HttpPointer Connect() {
    return HttpPointer(httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                    CONNECT_MILLISECONDS, nullptr));
}

bool Succeeded(ipp_status_t status) {
    return status <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

std::string PrinterUri(const std::string& name) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(),
                     "/printers/%s", name.c_str());
    return uri;
}

// Sends a request and keeps the response only when the server carried it out.
Ipp Ask(http_t* http, ipp_t* request, std::initializer_list<const char*> attributes) {
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    const std::vector<const char*> names(attributes);
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(names.size()), nullptr, names.data());
    Ipp response(cupsDoRequest(http, request, "/"));
    if (response && !Succeeded(ippGetStatusCode(response.get())))
        response.reset();
    return response;
}

Ipp PrinterAttributes(http_t* http, const std::string& name, std::initializer_list<const char*> attributes) {
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(name).c_str());
    return Ask(http, request, attributes);
}

std::u16string StringAttribute(ipp_t* response, const char* name) {
    ipp_attribute_t* attribute = ippFindAttribute(response, name, IPP_TAG_ZERO);
    const char* value = attribute ? ippGetString(attribute, 0, nullptr) : nullptr;
    return value ? AnsiToUnicode(value) : std::u16string();
}

std::string DefaultPrinterName(http_t* http) {
    const char* name = cupsGetDefault2(http);
    return name ? name : "";
}

}  // namespace

struct CPrinterConnection {
    HttpPointer Http;
    // Data not yet handed to the connection: the server takes a few large chunks far faster than many
    // small ones (each write of the document is a chunk of its own, in three system calls).
    std::string Pending;
    std::string Name;
    std::string DocumentName;
    int JobId = 0;
    // The document's data is on its way (the server was told of it at the first byte).
    bool Sending = false;
    // A request of the document failed; the connection may be in the middle of it.
    bool Failed = false;
};

namespace {

// Leaves nothing pending for a document that will never be complete: a job without its document waits
// on the server until it times out. A connection left in the middle of a request is replaced.
void CancelJob(CPrinterConnection& printer) {
    if (printer.Failed || !printer.Http) {
        printer.Http.reset();
        printer.Http = Connect();
    }
    if (printer.Http)
        cupsCancelJob2(printer.Http.get(), printer.Name.c_str(), printer.JobId, 0);
}

void EndJob(CPrinterConnection& printer) {
    printer.JobId = 0;
    printer.Sending = false;
    printer.Failed = false;
}

}  // namespace

bool OpenPrinter(const std::u16string& printerName, PrinterHandle* printer) {
    *printer = nullptr;
    HttpPointer http = Connect();
    if (!http)
        return false;
    const std::string name = UnicodeToAnsi(printerName);
    if (name.empty() || !PrinterAttributes(http.get(), name, {"printer-name"}))
        return false;
    *printer = new CPrinterConnection;
    (*printer)->Http = std::move(http);
    (*printer)->Name = name;
    return true;
}

bool StartDocPrinter(PrinterHandle printer, const std::u16string& documentName) {
    if (!printer || !printer->Http || printer->JobId != 0)
        return false;
    printer->DocumentName = UnicodeToAnsi(documentName);
    const char* title = printer->DocumentName.empty() ? nullptr : printer->DocumentName.c_str();
    printer->JobId = cupsCreateJob(printer->Http.get(), printer->Name.c_str(), title, 0, nullptr);
    return printer->JobId > 0;
}

bool StartPagePrinter(PrinterHandle printer) {
    return printer && printer->JobId != 0;
}

bool EndPagePrinter(PrinterHandle printer) {
    return printer && printer->JobId != 0;
}

namespace {

bool FlushPending(CPrinterConnection& printer) {
    if (printer.Pending.empty())
        return true;
    const bool sent = cupsWriteRequestData(printer.Http.get(), printer.Pending.data(),
                                           printer.Pending.size()) == HTTP_STATUS_CONTINUE;
    printer.Pending.clear();
    if (!sent)
        printer.Failed = true;
    return sent;
}

}  // namespace

bool WritePrinter(PrinterHandle printer, const void* data, std::size_t size, std::size_t* written) {
    *written = 0;
    if (!printer || printer->JobId == 0 || printer->Failed)
        return false;
    if (size == 0)
        return true;
    // The document starts with its first byte: the server refuses a document without data.
    if (!printer->Sending) {
        const char* title = printer->DocumentName.empty() ? nullptr : printer->DocumentName.c_str();
        if (cupsStartDocument(printer->Http.get(), printer->Name.c_str(), printer->JobId, title,
                              CUPS_FORMAT_RAW, 1) != HTTP_STATUS_CONTINUE) {
            printer->Failed = true;
            return false;
        }
        printer->Sending = true;
    }
    printer->Pending.append(static_cast<const char*>(data), size);
    if (printer->Pending.size() >= WRITE_CHUNK_SIZE && !FlushPending(*printer))
        return false;
    *written = size;
    return true;
}

bool EndDocPrinter(PrinterHandle printer) {
    if (!printer || printer->JobId == 0)
        return false;
    if (printer->Sending && !printer->Failed)
        FlushPending(*printer);
    bool printed = !printer->Failed;
    if (printer->Sending && !printer->Failed) {
        printed = Succeeded(cupsFinishDocument(printer->Http.get(), printer->Name.c_str()));
        printer->Failed = !printed;
    }
    if (!printer->Sending || !printed)
        CancelJob(*printer);
    EndJob(*printer);
    return printed;
}

bool ClosePrinter(PrinterHandle printer) {
    if (!printer)
        return false;
    if (printer->JobId != 0) {
        // A document's request still open is ended by dropping its connection.
        if (printer->Sending)
            printer->Http.reset();
        CancelJob(*printer);
    }
    delete printer;
    return true;
}

std::vector<std::u16string> EnumeratePrinters() {
    std::vector<std::u16string> names;
    const HttpPointer http = Connect();
    if (!http)
        return names;
    const Ipp response = Ask(http.get(), ippNewRequest(IPP_OP_CUPS_GET_PRINTERS), {"printer-name"});
    if (!response)
        return names;
    for (ipp_attribute_t* attribute = ippFindAttribute(response.get(), "printer-name", IPP_TAG_NAME);
         attribute; attribute = ippFindNextAttribute(response.get(), "printer-name", IPP_TAG_NAME)) {
        if (const char* name = ippGetString(attribute, 0, nullptr))
            names.push_back(AnsiToUnicode(name));
    }
    return names;
}

std::u16string DefaultPrinter() {
    const HttpPointer http = Connect();
    return http ? AnsiToUnicode(DefaultPrinterName(http.get())) : std::u16string();
}

bool PrinterDriverAndPort(const std::u16string& printerName, std::u16string* driver, std::u16string* port) {
    const HttpPointer http = Connect();
    if (!http)
        return false;
    const Ipp response =
        PrinterAttributes(http.get(), UnicodeToAnsi(printerName), {"printer-make-and-model", "device-uri"});
    if (!response)
        return false;
    *driver = StringAttribute(response.get(), "printer-make-and-model");
    *port = StringAttribute(response.get(), "device-uri");
    return true;
}

bool ShellPrint(const std::u16string& path) {
    const HttpPointer http = Connect();
    if (!http)
        return false;
    const std::string printer = DefaultPrinterName(http.get());
    if (printer.empty())
        return false;
    const std::string file = UnicodeToAnsi(path);
    const std::size_t slash = file.rfind('/');
    const std::string title = slash == std::string::npos ? file : file.substr(slash + 1);
    // The server finds the file's type and converts it for the printer.
    return cupsPrintFile2(http.get(), printer.c_str(), file.c_str(), title.c_str(), 0, nullptr) > 0;
}

}  // namespace velmora::platform
