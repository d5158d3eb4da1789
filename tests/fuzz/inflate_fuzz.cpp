// Expanding a payload file to file succeeds exactly when zlib's expansion in memory does, with its bytes.
#include <zlib.h>

#include "fuzz_util.h"
#include "spool/payload.h"

namespace {

// False when the raw DEFLATE stream is invalid or ends before its final block.
bool InflateInMemory(std::string_view input, std::string* output) {
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    int status = Z_OK;
    while (status == Z_OK) {
        char block[16384];
        stream.next_out = reinterpret_cast<Bytef*>(block);
        stream.avail_out = sizeof block;
        status = inflate(&stream, Z_NO_FLUSH);
        output->append(block, sizeof block - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace velmora;
    const std::string_view input = fuzz::AsBytes(data, size);
    const std::string inputPath = fuzz::ProcessFolder() + "/payload";
    const std::string outputPath = fuzz::ProcessFolder() + "/payload_unzip";
    fuzz::WriteFile(inputPath, input);

    const bool inflated = InflateFile(fuzz::FolderPath("payload"), static_cast<int64_t>(size),
                                      fuzz::FolderPath("payload_unzip"));

    std::string expected;
    const bool valid = InflateInMemory(input, &expected);
    VELMORA_FUZZ_CHECK(inflated == valid);
    if (inflated) {
        VELMORA_FUZZ_CHECK(fuzz::ReadFile(outputPath) == expected);
    } else {
        VELMORA_FUZZ_CHECK(!std::filesystem::exists(outputPath));  // nothing taken for a result
    }
    std::error_code ignored;
    std::filesystem::remove(outputPath, ignored);
    return 0;
}
