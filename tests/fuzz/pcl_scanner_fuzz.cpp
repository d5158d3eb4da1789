// The PCL recogniser on any byte stream: counts stay meaningful, and Reset starts afresh.

#include "fuzz_util.h"
#include "spool/pcl_scanner.h"

namespace {

// -1, or a kept value's length, within the bytes before its terminator.
bool IsValueLength(int32_t length, std::size_t terminator) {
    return length == -1 || (length >= 0 && length <= velmora::PclScanner::MAX_VALUE_LENGTH &&
                            static_cast<std::size_t>(length) < terminator);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    velmora::PclScanner scanner;
    int32_t pages = 0;
    for (std::size_t i = 0; i < size; ++i) {
        scanner.Feed(data[i]);
        VELMORA_FUZZ_CHECK(scanner.Pages() >= pages);
        VELMORA_FUZZ_CHECK(scanner.Pages() <= static_cast<int32_t>(i + 1));
        VELMORA_FUZZ_CHECK(IsValueLength(scanner.PaperSourceLength, i));
        VELMORA_FUZZ_CHECK(IsValueLength(scanner.OutputBinLength, i));
        pages = scanner.Pages();
        // A copying user acts on a reported value and then clears it.
        scanner.PaperSourceLength = -1;
        scanner.OutputBinLength = -1;
    }

    scanner.Reset();
    for (std::size_t i = 0; i < size; ++i)
        scanner.Feed(data[i]);
    VELMORA_FUZZ_CHECK(scanner.Pages() == pages);
    return 0;
}
