#include "spool/control_file.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "platform/ansi.h"
#include "text/code_page.h"

namespace velmora {

namespace {

constexpr std::string_view COMPRESS_MARKER = ":compressFlux";

}  // namespace

bool ApplyControlFile(CSpoolFile& job) {
    // The control file was kept one received byte per unit; its bytes come back the same way.
    std::string bytes = ToBytes1252(job.ControlFile);
    bytes.resize(std::min(bytes.find('\0'), bytes.size()));
    const std::string_view text = bytes;

    std::u16string title;
    bool compressed = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty())
            continue;

        const std::string_view value = line.substr(1);
        switch (line.front()) {
            case 'C':
                job.JobClass = platform::AnsiToUnicode(value);
                break;
            case 'H':
                job.SourceHost = platform::AnsiToUnicode(value);
                break;
            case 'J':
                job.JobName = platform::AnsiToUnicode(value);
                break;
            case 'N':
                job.DocumentName = platform::AnsiToUnicode(value);
                break;
            case 'P':
                job.Owner = platform::AnsiToUnicode(value);
                break;
            case 'T':
                title = platform::AnsiToUnicode(value);
                break;
            case 'Z':
                // Clients append their own details after the marker.
                if (value.substr(0, COMPRESS_MARKER.size()) == COMPRESS_MARKER)
                    compressed = true;
                break;
            default:
                // The payload type comes from the data itself, never from the print-format lines.
                break;
        }
    }
    if (!title.empty())
        job.DocumentName = title;
    return compressed;
}

}  // namespace velmora
