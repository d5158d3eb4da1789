// What the fuzz targets share: a temporary folder per process, files, the application object, checks.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "app/app.h"
#include "text/text_util.h"

namespace velmora::fuzz {

// A failed invariant aborts, so that libFuzzer saves the input.
#define VELMORA_FUZZ_CHECK(condition)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A fresh folder under TMPDIR (or /tmp), removed when the process exits normally.
inline const std::string& ProcessFolder() {
    static const std::string* const path = [] {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/velmora-fuzz-XXXXXX";
        VELMORA_FUZZ_CHECK(mkdtemp(pattern.data()) != nullptr);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(ProcessFolder(), ignored);
        });
        return new std::string(pattern);
    }();
    return *path;
}

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

// The process's application object, its base folder in ProcessFolder(), without a user interface (every
// message goes to the log). Never destroyed: connection threads and exit handlers may still reach it.
inline CVelmoraVirtualPrinterApp& FuzzApp() {
    static CVelmoraVirtualPrinterApp* const app = [] {
        setenv("VELMORA_BASE_FOLDER", (ProcessFolder() + "/base").c_str(), 1);
        setenv("VELMORA_REGISTRY", (ProcessFolder() + "/registry").c_str(), 1);  // no machine's language
        auto* made = new CVelmoraVirtualPrinterApp();
        made->Settings.AccessFile_MaxAttempts = 1;  // nothing else holds our files
        VELMORA_FUZZ_CHECK(made->SetUpWorkingFolders());
        return made;
    }();
    return *app;
}

}  // namespace velmora::fuzz
