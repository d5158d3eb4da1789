// What the fuzz targets share: a private temporary folder per process, whole-file reads and writes, and
// a check that stops the run with a message when an invariant breaks.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "text/text_util.h"

namespace velmora::fuzz {

// A failed invariant is a finding like a sanitizer report: abort, so that libFuzzer saves the input.
#define VELMORA_FUZZ_CHECK(condition)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A fresh folder under TMPDIR (or /tmp), made on first use and removed when the process exits normally.
// A crashing run leaves it for scripts/fuzz.sh, which runs every target inside a folder of its own.
inline const std::string& ProcessFolder() {
    // Never destroyed: the exit handler below still needs it after static destructors may have run.
    static const std::string* const path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        auto* made = new std::string(pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ProcessFolder(), ignored);
        });
        return made;
    }();
    return *path;
}

// A path inside ProcessFolder(), in the UTF-16 form the system's file functions take.
inline std::u16string FolderPath(const std::string& name) {
    return AsciiToUtf16(ProcessFolder() + "/" + name);
}

inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    VELMORA_FUZZ_CHECK(out.good());
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string_view AsBytes(const uint8_t* data, std::size_t size) {
    return std::string_view(reinterpret_cast<const char*>(data), size);
}

}  // namespace velmora::fuzz
