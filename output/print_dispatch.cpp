#include "output/print_dispatch.h"

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>

#include "core/app.h"
#include "output/lpd_client.h"
#include "output/program_printer.h"
#include "output/raw_printer.h"
#include "platform/ansi.h"

namespace velmora {

namespace {

constexpr std::size_t kLpdErrorTextSize = 4096;

int32_t PrintRaw(const CSpoolFile& job, const CPrinterSetting& printer) {
    std::optional<PclBinValues> bins;
    if (job.FileType == u"PCL")
        bins = PclBinValues{printer.InputBin, printer.OutputBin};
    return RawPrintFile(printer.LocalPrinter, job.DocumentName, job.LocalFileName, bins) ? 0 : 1;
}

int32_t ForwardByLpd(CSpoolFile& job, const CPrinterSetting& printer) {
    CLpdJobRequest request;
    // Neither the listener's port nor the record's status port: the LPD port itself.
    request.Port = App().LpdForwardPort;
    request.Host = printer.IPAddress;
    request.Queue = printer.QueueName;
    request.JobClass = job.JobClass;
    request.JobName = job.JobName;
    request.FilePath = job.LocalFileName;
    request.DocumentName = job.DocumentName;
    const CLpdSendResult result = SendJobByLpd(request);
    if (result.Code != 0) {
        // Up to a zero byte and at most kLpdErrorTextSize - 1 bytes, as the job's error text always was.
        const std::string text = std::string(result.Text.c_str()).substr(0, kLpdErrorTextSize - 1);
        job.ErrorText = platform::AnsiToUnicode(text);
        return 1;
    }
    return 0;
}

}  // namespace

int32_t PrintSpoolFile(CSpoolFile& job, const PrinterRecords& printers) {
    CVelmoraVirtualPrinterApp& app = App();
    // The back-ends work on a copy: the user interface reads the record (and may rename its virtual
    // printer) while the job prints, and the record only changes under JobListLock.
    CSpoolFile work;
    {
        std::lock_guard<std::recursive_mutex> lock(app.JobListLock);
        job.ErrorText.clear();
        work.CopyFieldsFrom(job);
    }

    int32_t result = 0;
    const auto printer = std::find_if(printers.begin(), printers.end(), [&](const CPrinterSetting& record) {
        return record.Name == work.PrinterName;
    });
    if (printer != printers.end()) {
        switch (printer->OutputMode) {
            case OUTPUT_LOCAL_PRINTER:
                result = PrintRaw(work, *printer);
                if (result != 0)
                    work.ErrorText = u"Printer not found";
                break;
            case OUTPUT_PROGRAM:
                result = RunPrintProgram(work, *printer);
                break;
            case OUTPUT_LPD:
                result = ForwardByLpd(work, *printer);
                break;
            default:
                work.ErrorText = u"Unknown case";
                result = 1;
                break;
        }
    }
    if (!work.ErrorText.empty()) {
        std::lock_guard<std::recursive_mutex> lock(app.JobListLock);
        job.ErrorText = work.ErrorText;
    }

    if (app.DeleteSpool)
        app.StartDelayedDelete(job.Id());
    return result;
}

}  // namespace velmora
