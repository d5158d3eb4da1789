// The byte format of spool.list: the job list as an object archive (a record count, one class
// description "CSpoolFile" schema 1, then the records' bodies), so that the list survives restarts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "spool/spool_file.h"

namespace velmora {

// The bytes of spool.list for these jobs, in list order.
std::string WriteJobArchive(const std::vector<SpoolFilePtr>& jobs);

struct CJobArchiveContent {
    std::vector<SpoolFilePtr> Jobs;  // the records completely read, in file order
    bool Damaged = false;            // a format error or a premature end stopped the reading
};

// Reads what WriteJobArchive writes, and also 8-bit strings, empty entries and repeated class
// descriptions. Reading stops at the first damage and keeps the records before it.
CJobArchiveContent ReadJobArchive(std::string_view bytes);

}  // namespace velmora
