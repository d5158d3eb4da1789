// spool.list: the job list as it survives restarts.
#include "core/app.h"
#include "resources/string_table.h"
#include "spool/job_archive.h"
#include "spool/my_file.h"
#include "text/format.h"

namespace velmora {

namespace {

std::u16string Cut(std::u16string text, std::size_t length) {
    if (text.size() > length)
        text.resize(length);
    return text;
}

}  // namespace

bool CVelmoraVirtualPrinterApp::WriteJobListFile(platform::FileError* error) {
    // One writer at a time, so that an older list never overwrites a newer one.
    std::lock_guard<std::mutex> writing(JobListFileLock);
    std::string bytes;
    {
        std::lock_guard<std::recursive_mutex> lock(JobListLock);
        bytes = WriteJobArchive(JobList);
    }
    return ReplaceFileContent(SpoolListPath, bytes, AccessFile_MaxAttempts, AccessFile_WaitingTimeMsec,
                              error);
}

void CVelmoraVirtualPrinterApp::SaveJobList() {
    platform::FileError error;
    if (!WriteJobListFile(&error))
        ShowMessage(Cut(error.Description(), 1024));
}

void CVelmoraVirtualPrinterApp::LoadJobList() {
    CMyFile file(AccessFile_MaxAttempts, AccessFile_WaitingTimeMsec);
    platform::FileError error;
    if (!file.OpenWithRetry(SpoolListPath, platform::kOpenRead | platform::kShareExclusive, &error)) {
        ShowMessage(Cut(error.Description(), 1024));
        return;
    }
    std::string bytes;
    const int64_t length = file.Length();
    if (length > 0)
        bytes.resize(static_cast<std::size_t>(length));
    const long read = bytes.empty() ? 0 : file.Read(bytes.data(), bytes.size());
    bytes.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
    file.Close();

    JobArchiveContent content = ReadJobArchive(bytes);
    {
        std::lock_guard<std::recursive_mutex> lock(JobListLock);
        for (SpoolFilePtr& job : content.jobs)
            JobList.push_back(std::move(job));
    }
    if (content.damaged) {
        const std::u16string text = LoadString(IDS_SPOOL_LIST_CORRUPTED);
        WriteLog(Format(u"%d\t%s", ModeDigit(), text));
        if (!ServiceMode && Ui.ShowInformation)
            Ui.ShowInformation(text);
    }
}

void CVelmoraVirtualPrinterApp::StartPromptSaves() {
    JobListSaver.Start([this] {
        platform::FileError error;
        if (!WriteJobListFile(&error)) {
            WriteLog(Format(u"%d\tUnable to save the job list : %s", ModeDigit(), error.Description()));
        }
    });
}

void CVelmoraVirtualPrinterApp::StopPromptSaves() {
    JobListSaver.Stop();
}

}  // namespace velmora
