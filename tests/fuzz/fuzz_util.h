// What the fuzz targets share: a private temporary folder per process, whole-file reads and writes, the
// application object, and a check that stops the run when an invariant breaks.
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

// A failed invariant is a finding like a sanitizer report: abort, so that libFuzzer saves the input.
#define VELMORA_FUZZ_CHECK(condition)                                                              \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)

// A fresh folder under TMPDIR (or /tmp), removed when the process exits normally (scripts/fuzz.sh runs
// each target in a folder of its own for what a crash leaves). Never destroyed: the exit handler uses it.
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

// The application object of the process, made once with its base folder in ProcessFolder() and without a
// user interface, so that every message goes to the log. Never destroyed: connection threads and exit
// handlers may still reach it.
inline CVelmoraVirtualPrinterApp& FuzzApp() {
    static CVelmoraVirtualPrinterApp* const app = [] {
        setenv("VELMORA_BASE_FOLDER", (ProcessFolder() + "/base").c_str(), 1);
        // No language setting of the machine leaks in.
        setenv("VELMORA_REGISTRY", (ProcessFolder() + "/registry").c_str(), 1);
        auto* made = new CVelmoraVirtualPrinterApp();
        // Nothing else holds our files: a second attempt would only wait.
        made->Settings.AccessFile_MaxAttempts = 1;
        VELMORA_FUZZ_CHECK(made->SetUpWorkingFolders());
        return made;
    }();
    return *app;
}

}  // namespace velmora::fuzz
