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

}  // namespace velmora
