// Job intake: a received job becomes a spooled job.
#pragma once

#include <cstdint>
#include <string>

#include "spool/spool_file.h"

namespace velmora {

// A new job for the queue with its default fields, and the path of its spool file, which is reserved on
// disk (created empty) so that no other reception can ever write into it.
SpoolFilePtr CreateSpoolJob(const std::u16string& queueName, uint32_t threadNumber);
// Prepares the payload of a completely received job and appends it to the job list.
void AddSpoolJob(SpoolFilePtr job, uint32_t threadNumber);

}  // namespace velmora
