#include "output/print_dispatch.h"

#include <algorithm>
#include <optional>

#include "output/lpd_client.h"
#include "output/raw_printer.h"
#include "platform/ansi.h"
#include "text/format.h"

namespace velmora {

namespace {

constexpr std::size_t LPD_ERROR_TEXT_SIZE = 4096;

}  // namespace

CDispatchOutcome CPrintDispatch::PrintRaw(const CSpoolFile& job, const CPrinterSetting& printer) const {
    std::optional<CPclBinValues> bins;
    if (job.FileType == u"PCL")
        bins = CPclBinValues{printer.InputBin, printer.OutputBin};
    if (RawPrintFile(printer.LocalPrinter, job.DocumentName, job.LocalFileName, bins, &Reporter))
        return {};
    return {1, u"Printer not found"};
}

CDispatchOutcome CPrintDispatch::ForwardByLpd(const CSpoolFile& job, const CPrinterSetting& printer,
                                              const std::atomic<bool>* cut) const {
    CLpdJobRequest request;
    request.Port = LpdForwardPort;
    request.Host = printer.IPAddress;
    request.Queue = printer.QueueName;
    request.JobClass = job.JobClass;
    request.JobName = job.JobName;
    request.FilePath = job.LocalFileName;
    request.DocumentName = job.DocumentName;
    request.Cut = cut;
    const CLpdSendResult result = SendJobByLpd(request);
    if (cut && *cut) {
        Reporter.WriteLog(Format(u"%d\tSpooler: Forwarding of %s cut by the stop; the job stays Ready",
                                 Reporter.ModeDigit(), job.LocalFileName));
        return {0, {}, true};
    }
    if (result.Code != 0) {
        // Up to a zero byte and at most LPD_ERROR_TEXT_SIZE - 1 bytes, as the job's error text always was.
        const std::string text = std::string(result.Text.c_str()).substr(0, LPD_ERROR_TEXT_SIZE - 1);
        return {1, platform::AnsiToUnicode(text)};
    }
    return {};
}

CDispatchOutcome CPrintDispatch::PrintSpoolFile(const CSpoolFile& job, const PrinterRecords& printers,
                                                const std::atomic<bool>* cut) const {
    const auto printer = std::find_if(printers.begin(), printers.end(), [&](const CPrinterSetting& record) {
        return record.Name == job.PrinterName;
    });
    // A job whose virtual printer no longer exists is sent nowhere and counts as sent.
    if (printer == printers.end())
        return {};
    switch (printer->OutputMode) {
        case OUTPUT_LOCAL_PRINTER:
            return PrintRaw(job, *printer);
        case OUTPUT_PROGRAM:
            return CProgramPrinter(Reporter, Settings, ProgramOperations).RunPrintProgram(job, *printer, cut);
        case OUTPUT_LPD:
            return ForwardByLpd(job, *printer, cut);
        default:
            return {1, u"Unknown case"};
    }
}

}  // namespace velmora
