// Printer.cfg as a user's editor or a damaged disk may leave it: loading must cope, saving must keep one
// line per record, and what was saved must load back as the same virtual printers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_app.h"
#include "fuzz_util.h"
#include "platform/ansi.h"
#include "text/code_page.h"

namespace {

using velmora::CPrinterSetting;

constexpr std::u16string CPrinterSetting::*STRING_FIELDS[] = {
    &CPrinterSetting::Name,       &CPrinterSetting::ProgramCommand, &CPrinterSetting::ProgramPrinter,
    &CPrinterSetting::StatusPort, &CPrinterSetting::LocalPrinter,   &CPrinterSetting::IPAddress,
    &CPrinterSetting::QueueName,  &CPrinterSetting::InputBin,       &CPrinterSetting::OutputBin,
};

// The file keeps a value as it is unless it holds a separator, a line end, or a character the code page
// cannot represent.
bool IsKeptAsIs(const std::u16string& value) {
    if (value.find_first_of(u";\r\n") != std::u16string::npos)
        return false;
    const std::string bytes = velmora::ToBytes1252(value);
    return bytes.find('\0') == std::string::npos && velmora::FromBytes1252(bytes) == value;
}

bool IsKeptAsIs(const CPrinterSetting& record) {
    for (auto field : STRING_FIELDS) {
        if (!IsKeptAsIs(record.*field))
            return false;
    }
    return true;
}

bool SameRecord(const CPrinterSetting& a, const CPrinterSetting& b) {
    if (a.OutputMode != b.OutputMode || a.HoldJobs != b.HoldJobs)
        return false;
    for (auto field : STRING_FIELDS) {
        if (a.*field != b.*field)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace velmora;
    static CVelmoraVirtualPrinterApp& app = []() -> CVelmoraVirtualPrinterApp& {
        CVelmoraVirtualPrinterApp& made = fuzz::FuzzApp();
        // A cut line is logged: without a log file the disk stays as it is over millions of inputs.
        made.Log.SetFilePath(u"");
        return made;
    }();
    const std::string path = platform::UnicodeToAnsi(app.PrinterConfig.Path());
    fuzz::WriteFile(path, fuzz::AsBytes(data, size));

    // Loading adds to the list in memory: start each input from an empty one.
    app.PrinterList.Clear();
    app.LoadPrinterConfig();
    const auto loaded = app.PrinterList.Snapshot();

    app.SavePrinterConfig();
    const std::string saved = fuzz::ReadFile(path);
    // One CR LF ended line per record, never a zero byte that would end a line early.
    VELMORA_FUZZ_CHECK(saved.find('\0') == std::string::npos);
    std::size_t lines = 0;
    std::size_t longestLine = 0;
    for (std::size_t start = 0; start < saved.size(); ++lines) {
        const std::size_t end = saved.find('\n', start);
        VELMORA_FUZZ_CHECK(end != std::string::npos && end > start && saved[end - 1] == '\r');
        longestLine = std::max(longestLine, end + 1 - start);
        start = end + 1;
    }
    VELMORA_FUZZ_CHECK(lines == loaded->size());

    app.PrinterList.Clear();
    app.LoadPrinterConfig();
    const auto reloaded = app.PrinterList.Snapshot();

    // Lines past the format's 4096 bytes are cut on reading.
    constexpr std::size_t LINE_CAPACITY = 4096;
    if (longestLine > LINE_CAPACITY)
        return 0;
    for (const CPrinterSetting& record : *loaded) {
        if (!IsKeptAsIs(record))
            return 0;
    }
    VELMORA_FUZZ_CHECK(reloaded->size() == loaded->size());
    for (std::size_t i = 0; i < loaded->size(); ++i)
        VELMORA_FUZZ_CHECK(SameRecord((*loaded)[i], (*reloaded)[i]));
    return 0;
}
