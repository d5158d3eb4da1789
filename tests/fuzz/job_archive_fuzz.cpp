// Reading spool.list, whatever is left in it; every record read survives being written and read again.
#include <algorithm>

#include "fuzz_util.h"
#include "spool/job_archive.h"

namespace {

using velmora::CSpoolFile;

constexpr std::u16string CSpoolFile::*STRING_FIELDS[] = {
    &CSpoolFile::DocumentName, &CSpoolFile::StateText,     &CSpoolFile::Owner,
    &CSpoolFile::DateInserted, &CSpoolFile::FileSize,      &CSpoolFile::FileType,
    &CSpoolFile::PrinterName,  &CSpoolFile::LocalFileName, &CSpoolFile::ReceivedFileName,
    &CSpoolFile::ControlFile,  &CSpoolFile::SourceHost,    &CSpoolFile::JobName,
    &CSpoolFile::JobClass,     &CSpoolFile::ErrorText,
};

bool SameRecord(const CSpoolFile& a, const CSpoolFile& b) {
    return a.State == b.State && std::all_of(std::begin(STRING_FIELDS), std::end(STRING_FIELDS),
                                             [&](auto field) { return a.*field == b.*field; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace velmora;
    const CJobArchiveContent content = ReadJobArchive(fuzz::AsBytes(data, size));

    const std::string written = WriteJobArchive(content.Jobs);
    const CJobArchiveContent again = ReadJobArchive(written);
    VELMORA_FUZZ_CHECK(!again.Damaged);
    VELMORA_FUZZ_CHECK(again.Jobs.size() == content.Jobs.size());
    for (std::size_t i = 0; i < content.Jobs.size(); ++i)
        VELMORA_FUZZ_CHECK(SameRecord(*content.Jobs[i], *again.Jobs[i]));
    VELMORA_FUZZ_CHECK(WriteJobArchive(again.Jobs) == written);
    return 0;
}
