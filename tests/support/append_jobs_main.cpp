// Plays a server that keeps receiving jobs, to be killed in the middle: append_jobs MODE.
// The base folder comes from VELMORA_BASE_FOLDER.
//   append: appends a job every few milliseconds with prompt saves on, printing "appended N" after each.
//   save:   appends jobs and writes spool.list in a tight loop, printing "saved N" after each write.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

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
    if (std::strcmp(argv[1], "append") == 0) {
        app.Jobs.StartPromptSaves();
        for (int i = 0;; ++i) {
            Append(app, i);
            std::printf("appended %d\n", i);
            std::fflush(stdout);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
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
