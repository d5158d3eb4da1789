// Turns what a client sent into what the dispatch sends and the user sees: expands compressed payloads,
// recognises PDF and PCL data, and fills the job's type and size.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/reporter.h"
#include "core/settings.h"
#include "spool/spool_file.h"

namespace velmora {

// Reads the control file, expands a compressed data file, names PDF data files .pdf and sets FileType
// and FileSize. Failures are logged (and shown in the desktop program); the job is kept all the same.
// The caller holds JobListLock.
void PreparePayload(CSpoolFile& job, CReporter& reporter, const CSettings& settings);

// The names the data file received as path may take while its job lives, in the order it takes them:
// path itself, its PDF name (every ".tmp" of the path becomes ".pdf"), the file it is expanded into
// ("_unzip" appended) and that file's PDF name.
std::array<std::u16string, 4> DataFileNames(const std::u16string& path);

// Expands the raw DEFLATE stream (RFC 1951, no header) of the first inputLength bytes of inputPath into
// outputPath, which is replaced. Data after the final block is ignored; an invalid stream or input that
// ends before the final block is a failure, and then outputPath does not remain.
bool InflateFile(const std::u16string& inputPath, int64_t inputLength, const std::u16string& outputPath);

// The pages (form feeds) of a PCL file; -1 for an empty path, 0 when the file cannot be opened.
int32_t CountPclPages(const std::u16string& path);

}  // namespace velmora
