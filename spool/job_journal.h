// spool.journal: the jobs acknowledged since spool.list was last saved. A session records its job here
// before the acknowledgement that completes it, so a crash between two saves of the list forgets nothing
// a client was told had arrived. Every save of the list folds the journal: the jobs that list holds leave it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "spool/spool_file.h"

namespace velmora {

enum JournalEntryKind : uint8_t {
    // The job as it was received, before its payload was prepared; its data file held Length bytes.
    JOURNAL_RECEIVED = 'R',
    // The job as it entered the job list.
    JOURNAL_PREPARED = 'P',
    // The reception was given up after all: an earlier entry of the job no longer counts.
    JOURNAL_FORGOTTEN = 'F',
    // As JOURNAL_RECEIVED, with the Length bytes of the data file in the entry: a small job is durable with
    // the journal's one flush, and its data file is flushed later, before a saved list names it.
    JOURNAL_RECEIVED_DATA = 'D',
};

// Received jobs whose data file holds at most this much are recorded with their data.
inline constexpr int64_t JOURNAL_DATA_LIMIT = 64 * 1024;

struct CJournalEntry {
    JournalEntryKind Kind = JOURNAL_RECEIVED;
    int64_t Length = 0;
    CSpoolFile Job;
    // The data of the job's latest JOURNAL_RECEIVED_DATA entry, even when a later entry superseded it,
    // and the data file they belong in.
    bool HasData = false;
    std::string Data;
    std::u16string DataFile;
};

// The bytes of one entry; data only with JOURNAL_RECEIVED_DATA (their size is the length).
std::string WriteJournalEntry(JournalEntryKind kind, const CSpoolFile& job, int64_t length,
                              std::string_view data = {});
// The latest entry of every job that a file holds, in the order of the jobs' first entries; forgotten jobs
// are left out. Reading stops at the first damaged entry (the tail a crash cut short).
std::vector<CJournalEntry> ReadJournal(std::string_view bytes);

class CJobJournal {
  public:
    CJobJournal() = default;
    ~CJobJournal() { Close(); }
    CJobJournal(const CJobJournal&) = delete;
    CJobJournal& operator=(const CJobJournal&) = delete;

    // Reads what an earlier run left in the journal at path and opens it for appending.
    std::vector<CJournalEntry> Open(const std::u16string& path, platform::CFileError* error);
    void Close();

    // Appends an entry and returns once it is written; with durable, once it is on the disk together with
    // the job's data file (when given: the caller's open file, which the caller's thread flushes first,
    // beside the other sessions' flushes) and the folder that holds it. One write and one flush of the
    // journal and of the folders serve every session waiting at that moment. False when the data or the
    // journal could not be written. A journal that is not open records nothing (the data are still
    // flushed).
    bool Record(JournalEntryKind kind, const CSpoolFile& job, int64_t length, bool durable,
                platform::CNativeFile* dataFile = nullptr);
    // The prepared form of a job that entered the list, unless a save of the list has already folded it.
    void RecordPrepared(const CSpoolFile& job);
    // The job reached the job list; the caller holds JobListLock.
    void MarkListed(JobId job);
    // The jobs the job list has received, for the save that takes the list's bytes under JobListLock.
    std::vector<JobId> ListedJobs() const;
    // Before a list holding the listed jobs is written: the data files of those recorded with their data
    // reach the disk (the journal no longer holds them once it is folded).
    void MakeDataDurable(const std::vector<JobId>& listed);
    // A list holding the listed jobs is on the disk: they leave the journal, which keeps only the others.
    bool Fold(const std::vector<JobId>& listed, platform::CFileError* error);

  private:
    struct CHeldJob {
        // The latest entry, and the entry with the data when the job was recorded with them.
        std::string Bytes;
        std::string DataEntry;
        // The data file as the latest entry names it.
        std::u16string File;
        bool Listed = false;
    };

    // Entries written together, with the folders whose new files the flush makes durable.
    struct CBatch {
        std::string Bytes;
        std::set<std::u16string> Folders;
        bool Durable = false;
        bool Done = false;
        bool Written = false;
    };

    bool Append(std::unique_lock<std::mutex>& lock, const std::string& bytes, const std::u16string& folder,
                bool durable);
    void WriteBatch(std::unique_lock<std::mutex>& lock);
    bool Rewrite(const std::string& content, platform::CFileError* error);

    mutable std::mutex Mutex;
    std::condition_variable BatchDone;
    std::u16string Path;
    platform::CNativeFile File;
    // Every job the journal holds, with its latest entry.
    std::map<JobId, CHeldJob> Held;
    // The entries waiting for the next write; one writer at a time.
    std::shared_ptr<CBatch> Next = std::make_shared<CBatch>();
    bool Writing = false;
    // The journal's length up to its last complete write: a failed write is cut back to it.
    int64_t GoodLength = 0;
};

}  // namespace velmora
