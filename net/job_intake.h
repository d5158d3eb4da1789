// Job intake: a received job becomes a spooled job.
#pragma once

#include <cstdint>
#include <string>

#include "spool/spool_file.h"

namespace velmora {

// A new job for the queue with its default fields, and the path of its spool file in the queue's folder
// under spoolFolder, which is reserved on disk (created empty) so that no other reception can ever write
// into it.
SpoolFilePtr CreateSpoolJob(const std::u16string& spoolFolder, const std::u16string& queueName,
                            uint32_t threadNumber);

// Creates "<folder>/<stamp><thread number>.tmp", or with "_<counter>" before ".tmp" when that name is
// taken, and returns its path. A name is taken while it exists or any other name its data may take
// (DataFileNames) does. On any failure but a clash the path is returned uncreated, for the reception to
// report.
std::u16string ReserveSpoolFile(const std::u16string& folder, const std::u16string& stamp,
                                uint32_t threadNumber);

}  // namespace velmora
