// The control file a client sent, read into a job's fields: any bytes at all may arrive.
#include "fuzz_util.h"
#include "spool/control_file.h"
#include "spool/spool_file.h"
#include "text/code_page.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace velmora;
    const std::string_view bytes = fuzz::AsBytes(data, size);
    CSpoolFile job;
    job.ControlFile = FromBytes1252(bytes);
    const std::u16string before = job.ControlFile;
    const bool compressed = ApplyControlFile(job);

    VELMORA_FUZZ_CHECK(job.ControlFile == before);
    // Only a Z line can mark the payload as compressed.
    if (bytes.find('Z') == std::string_view::npos)
        VELMORA_FUZZ_CHECK(!compressed);
    return 0;
}
