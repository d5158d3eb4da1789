// Printer.cfg as an editor or a damaged disk may leave it: saving keeps one line per record, and what was
// saved loads back as the same virtual printers.
#include <algorithm>

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

// Kept as it is unless a value holds a separator, a line end, or a character outside the code page.
bool IsKeptAsIs(const CPrinterSetting& record) {
    return std::all_of(std::begin(STRING_FIELDS), std::end(STRING_FIELDS), [&](auto field) {
        const std::u16string& value = record.*field;
        const std::string bytes = velmora::ToBytes1252(value);
        return value.find_first_of(u";\r\n") == std::u16string::npos &&
               bytes.find('\0') == std::string::npos && velmora::FromBytes1252(bytes) == value;
    });
}

bool SameRecord(const CPrinterSetting& a, const CPrinterSetting& b) {
    return a.OutputMode == b.OutputMode && a.HoldJobs == b.HoldJobs &&
           std::all_of(std::begin(STRING_FIELDS), std::end(STRING_FIELDS),
                       [&](auto field) { return a.*field == b.*field; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace velmora;
    static CVelmoraVirtualPrinterApp& app = []() -> CVelmoraVirtualPrinterApp& {
        CVelmoraVirtualPrinterApp& made = fuzz::FuzzApp();
        made.Log.SetFilePath(u"");  // cut lines are logged: the disk stays as it is
        return made;
    }();
    const std::string path = platform::UnicodeToAnsi(app.PrinterConfig.Path());
    fuzz::WriteFile(path, fuzz::AsBytes(data, size));

    app.PrinterList.Clear();  // loading adds to the list
    app.LoadPrinterConfig();
    const auto loaded = app.PrinterList.Snapshot();

    app.SavePrinterConfig();
    const std::string saved = fuzz::ReadFile(path);
    // One CR LF ended line per record, no zero byte.
    VELMORA_FUZZ_CHECK(saved.find('\0') == std::string::npos);
    std::size_t lines = 0;
    std::size_t longestLine = 0;
    for (std::size_t start = 0, end; start < saved.size(); ++lines, start = end + 1) {
        end = saved.find('\n', start);
        VELMORA_FUZZ_CHECK(end != std::string::npos && end > start && saved[end - 1] == '\r');
        longestLine = std::max(longestLine, end + 1 - start);
    }
    VELMORA_FUZZ_CHECK(lines == loaded->size());

    app.PrinterList.Clear();
    app.LoadPrinterConfig();
    const auto reloaded = app.PrinterList.Snapshot();
    // Lines past the format's 4096 bytes are cut on reading.
    if (longestLine > 4096 || !std::all_of(loaded->begin(), loaded->end(), IsKeptAsIs))
        return 0;
    VELMORA_FUZZ_CHECK(reloaded->size() == loaded->size());
    for (std::size_t i = 0; i < loaded->size(); ++i)
        VELMORA_FUZZ_CHECK(SameRecord((*loaded)[i], (*reloaded)[i]));
    return 0;
}
