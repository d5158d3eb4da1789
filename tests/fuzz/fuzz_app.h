// The application object of a fuzz process: made once, with its base folder inside the process's own
// temporary folder and without a user interface, so that every message goes to the log.
#pragma once

#include <stdlib.h>

#include <string>

#include "app/app.h"
#include "fuzz_util.h"

namespace velmora::fuzz {

inline CVelmoraVirtualPrinterApp& FuzzApp() {
    // Never destroyed: connection threads and exit handlers may still reach it.
    static CVelmoraVirtualPrinterApp* const app = [] {
        const std::string base = ProcessFolder() + "/base";
        setenv("VELMORA_BASE_FOLDER", base.c_str(), 1);
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
