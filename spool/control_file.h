// Reads the LPD control file (RFC 1179) that came with a job into the job's descriptive fields.
#pragma once

#include "spool/spool_file.h"

namespace velmora {

// Fills JobClass, SourceHost, JobName, DocumentName and Owner from job.ControlFile; a later line with the
// same letter wins and a non-empty title (T) replaces the document name. Returns true when a Z line marks
// the payload as compressed.
bool ApplyControlFile(CSpoolFile& job);

}  // namespace velmora
