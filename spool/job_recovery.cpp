// Start-up after a crash: the jobs the journal kept since the last save of spool.list, and the spool files
// that no job names, which become held jobs so that a person can print or delete them.
#include <unordered_set>

#include "spool/job_store.h"
#include "spool/payload.h"
#include "text/format.h"

namespace velmora {

namespace {

// A data file as the queue folder and the name within it, so that a base folder that moved since the
// list was written still matches its jobs.
std::u16string SpoolFileKey(const std::u16string& path) {
    const std::size_t name = path.find_last_of(u"/\\");
    if (name == std::u16string::npos || name == 0)
        return path;
    const std::size_t folder = path.find_last_of(u"/\\", name - 1);
    return path.substr(folder == std::u16string::npos ? 0 : folder + 1);
}

std::unordered_set<std::u16string> NamedSpoolFiles(const std::vector<SpoolFilePtr>& jobs) {
    std::unordered_set<std::u16string> named;
    for (const SpoolFilePtr& job : jobs)
        named.insert(SpoolFileKey(job->LocalFileName));
    return named;
}

// A job for a data file that only the spool folder knows of.
SpoolFilePtr UnnamedFileJob(const std::u16string& queue, const std::u16string& name,
                            const std::u16string& path) {
    auto job = std::make_shared<CSpoolFile>();
    job->DocumentName = name;
    job->SetHeld();
    job->Owner = u"N/A";
    std::time_t modified = 0;
    if (platform::FileModificationTime(path, &modified))
        job->DateInserted = FormatLocalTime("%c", modified);
    job->FileSize = u"N/A";
    job->FileType = u"N/A";
    job->PrinterName = queue;
    job->LocalFileName = path;
    job->JobName = u"N/A";
    job->JobClass = u"N/A";
    return job;
}

// A reception cut short after its acknowledgement may have left bytes of a further data file behind the
// acknowledged ones.
void CutToAcknowledgedLength(const std::u16string& path, int64_t length) {
    platform::CNativeFile file;
    if (!file.Open(path, platform::OPEN_READ_WRITE | platform::OPEN_CREATE | platform::OPEN_NO_TRUNCATE) &&
        file.Length() > length) {
        file.SetLength(length);
    }
}

// A job recorded with its data gets them back into its data file, which a power cut may have left short,
// empty or missing.
void RestoreData(const CJournalEntry& entry) {
    platform::CNativeFile file;
    if (!file.Open(entry.DataFile, platform::OPEN_WRITE | platform::OPEN_CREATE))
        file.Write(entry.Data.data(), entry.Data.size());
}

}  // namespace

void CJobStore::AppendRecoveredJob(const SpoolFilePtr& job, std::u16string_view format) {
    std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
    JobList.push_back(job);
    Reporter.WriteLog(Format(format, Reporter.ModeDigit(), job->LocalFileName, job->PrinterName));
}

void CJobStore::RecoverJournalJobs(std::vector<CJournalEntry> entries) {
    std::unordered_set<std::u16string> named;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        named = NamedSpoolFiles(JobList);
    }
    for (CJournalEntry& entry : entries) {
        auto job = std::make_shared<CSpoolFile>(std::move(entry.Job));
        if (named.count(SpoolFileKey(job->LocalFileName)) != 0)
            continue;  // saved in the list before the crash
        bool received = entry.Kind != JOURNAL_PREPARED;
        if (!received && entry.HasData && !platform::FileExists(job->LocalFileName)) {
            // Its preparation never reached the disk: it is prepared again from the data.
            job->LocalFileName = entry.DataFile;
            received = true;
        }
        if (received && entry.HasData)
            RestoreData(entry);
        // Gone since (a file renamed by its preparation is found among the unnamed files).
        if (!platform::FileExists(job->LocalFileName))
            continue;
        if (received) {
            if (!entry.HasData)
                CutToAcknowledgedLength(job->LocalFileName, entry.Length);
            PreparePayload(*job, Reporter, Settings);
        }
        if (job->State == STATE_PRINTING)
            job->SetReady();
        AppendRecoveredJob(job, u"%d\tJob recovered from the journal: %s, Queue:%s");
    }
}

void CJobStore::RegisterUnnamedSpoolFiles() {
    if (SpoolFolder.empty())
        return;
    std::unordered_set<std::u16string> named;
    {
        std::lock_guard<CRecursiveTimedMutex> lock(JobListLock);
        named = NamedSpoolFiles(JobList);
    }
    for (const platform::CFolderEntry& queue : platform::ListFolder(SpoolFolder)) {
        if (!queue.IsFolder)
            continue;
        const std::u16string folder = SpoolFolder + queue.Name + platform::PATH_SEPARATOR;
        for (const platform::CFolderEntry& file : platform::ListFolder(folder)) {
            if (file.IsFolder || named.count(queue.Name + platform::PATH_SEPARATOR + file.Name) != 0)
                continue;
            const SpoolFilePtr job = UnnamedFileJob(queue.Name, file.Name, folder + file.Name);
            PreparePayload(*job, Reporter, Settings);
            AppendRecoveredJob(job, u"%d\tSpool file named by no job, held: %s, Queue:%s");
        }
    }
}

}  // namespace velmora
