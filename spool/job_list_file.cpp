// spool.list: the job list as it survives restarts.
#include "core/my_file.h"
#include "resources/string_table.h"
#include "spool/job_archive.h"
#include "spool/job_store.h"
#include "text/format.h"

namespace velmora {

namespace {

std::u16string Cut(std::u16string text, std::size_t length) {
    if (text.size() > length)
        text.resize(length);
    return text;
}

}  // namespace

bool CJobStore::WriteJobListFile(platform::CFileError* error) {
    std::lock_guard<std::mutex> writing(JobListFileLock);
    std::string bytes;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        bytes = WriteJobArchive(JobList);
    }
    return ReplaceFileContent(SpoolListPath, bytes, Settings.AccessFile_MaxAttempts,
                              Settings.AccessFile_WaitingTimeMsec, error);
}

void CJobStore::SaveJobList() {
    platform::CFileError error;
    if (!WriteJobListFile(&error))
        Reporter.ShowMessage(Cut(error.Description(), 1024));
}

void CJobStore::LoadJobList() {
    CMyFile file(Settings.AccessFile_MaxAttempts, Settings.AccessFile_WaitingTimeMsec);
    platform::CFileError error;
    if (!file.OpenWithRetry(SpoolListPath, platform::OPEN_READ | platform::SHARE_EXCLUSIVE, &error)) {
        Reporter.ShowMessage(Cut(error.Description(), 1024));
        return;
    }
    std::string bytes;
    const int64_t length = file.Length();
    if (length > 0)
        bytes.resize(static_cast<std::size_t>(length));
    const long read = bytes.empty() ? 0 : file.Read(bytes.data(), bytes.size());
    bytes.resize(read > 0 ? static_cast<std::size_t>(read) : 0);
    file.Close();

    CJobArchiveContent content = ReadJobArchive(bytes);
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        for (SpoolFilePtr& job : content.Jobs)
            JobList.push_back(std::move(job));
    }
    if (content.Damaged) {
        const std::u16string text = LoadString(IDS_SPOOL_LIST_CORRUPTED);
        Reporter.WriteLog(Format(u"%d\t%s", Reporter.ModeDigit(), text));
        Reporter.UserInterface().ShowInformation(text);
    }
}

void CJobStore::StartPromptSaves() {
    JobListSaver.Start([this] {
        platform::CFileError error;
        if (!WriteJobListFile(&error)) {
            Reporter.WriteLog(
                Format(u"%d\tUnable to save the job list : %s", Reporter.ModeDigit(), error.Description()));
        }
    });
}

void CJobStore::StopPromptSaves() {
    JobListSaver.Stop();
}

}  // namespace velmora
