// append_jobs save: in VELMORA_BASE_FOLDER, appends jobs and writes spool.list in a tight loop, printing
// "saved N" after each write, to be killed in the middle.
#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "text/format.h"

using namespace velmora;

namespace {

void Append(CVelmoraVirtualPrinterApp& app, int index) {
    auto job = std::make_shared<CSpoolFile>();
    job->DocumentName = Format(u"job %d", index);
    job->LocalFileName = Format(u"%sSpool/PASS/20261206120000%d.tmp", app.BaseFolder, index);
    job->ControlFile = std::u16string(200, u'c');
    job->SetReady();
    std::lock_guard<CRecursiveTimedMutex> lock(app.Jobs.JobListLock);
    app.Jobs.AppendJob(job);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 2;
    CVelmoraVirtualPrinterApp app;
    if (!app.SetUpWorkingFolders())
        return 1;
    if (std::strcmp(argv[1], "save") != 0)
        return 2;
    for (int i = 0;; ++i) {
        for (int k = 0; k < 100; ++k)
            Append(app, i * 100 + k);
        platform::CFileError error;
        if (!app.Jobs.WriteJobListFile(&error))
            return 1;
        std::printf("saved %d\n", i);
        std::fflush(stdout);
    }
}
