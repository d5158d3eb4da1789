// Raw printing: the bytes of a spooled data file copied unchanged into a print queue of this machine,
// as one document of one page. PCL jobs can have their paper-source and output-bin values replaced on
// the way, so that a job uses the trays chosen for its virtual printer whatever the client selected.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/reporter.h"

namespace velmora {

// The virtual printer's InputBin and OutputBin; an empty value leaves those commands as they are.
struct CPclBinValues {
    std::u16string InputBin;
    std::u16string OutputBin;
};

// False only when the printer cannot be opened; then nothing is read, sent or created. With bins, the
// printer receives a modified copy of the file (the file's path followed by ".bin"), which is deleted
// afterwards; a copy that cannot be deleted is logged through the reporter, when there is one.
bool RawPrintFile(const std::u16string& printerName, const std::u16string& documentName,
                  const std::u16string& filePath, const std::optional<CPclBinValues>& binSubstitution,
                  CReporter* reporter = nullptr);

// Writes the target from the source with the value of every PCL paper-source command (ESC & l <n> H)
// replaced by inputBin and that of every output-bin command (ESC & l <n> G) by outputBin, both 8-bit
// text; everything else is copied unchanged. Returns the form feeds counted on the way.
int32_t SubstitutePclBins(const std::u16string& sourcePath, const std::u16string& targetPath,
                          std::string_view inputBin, std::string_view outputBin);

}  // namespace velmora
