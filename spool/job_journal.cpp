#include "spool/job_journal.h"

#include <zlib.h>

#include <algorithm>
#include <utility>

#include "core/my_file.h"
#include "spool/job_archive.h"

namespace velmora {

namespace {

// An entry: kind (1 byte), job (8), data length (8), record size (4), the record as a one-job spool.list,
// for JOURNAL_RECEIVED_DATA the data (data length bytes), then a CRC-32 of all that, every integer
// little-endian.
constexpr std::size_t ENTRY_HEAD = 1 + 8 + 8 + 4;
constexpr std::size_t ENTRY_CHECK = 4;

void AppendInteger(std::string& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

uint64_t ReadInteger(std::string_view bytes, std::size_t at, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

uint32_t Checksum(std::string_view bytes) {
    return static_cast<uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

}  // namespace

std::string WriteJournalEntry(JournalEntryKind kind, const CSpoolFile& job, int64_t length,
                              std::string_view data) {
    const std::string record = WriteJobArchive({std::make_shared<CSpoolFile>(job)});
    if (kind == JOURNAL_RECEIVED_DATA)
        length = static_cast<int64_t>(data.size());
    else
        data = {};
    std::string bytes;
    bytes.reserve(ENTRY_HEAD + record.size() + data.size() + ENTRY_CHECK);
    bytes.push_back(static_cast<char>(kind));
    AppendInteger(bytes, job.Id(), 8);
    AppendInteger(bytes, static_cast<uint64_t>(length), 8);
    AppendInteger(bytes, record.size(), 4);
    bytes += record;
    bytes += data;
    AppendInteger(bytes, Checksum(bytes), 4);
    return bytes;
}

namespace {

bool IsEntryKind(uint8_t kind) {
    return kind == JOURNAL_RECEIVED || kind == JOURNAL_PREPARED || kind == JOURNAL_FORGOTTEN ||
           kind == JOURNAL_RECEIVED_DATA;
}

}  // namespace

std::vector<CJournalEntry> ReadJournal(std::string_view bytes) {
    std::vector<CJournalEntry> entries;
    std::map<uint64_t, std::size_t> indexOfJob;
    std::size_t at = 0;
    while (bytes.size() - at >= ENTRY_HEAD + ENTRY_CHECK) {
        const auto kind = static_cast<JournalEntryKind>(bytes[at]);
        const uint64_t length = ReadInteger(bytes, at + 9, 8);
        const std::size_t recordSize = ReadInteger(bytes, at + 17, 4);
        const uint64_t dataSize = kind == JOURNAL_RECEIVED_DATA ? length : 0;
        const std::size_t room = bytes.size() - at - ENTRY_HEAD - ENTRY_CHECK;
        if (!IsEntryKind(kind) || room < recordSize || room - recordSize < dataSize)
            break;
        const std::size_t checked = ENTRY_HEAD + recordSize + static_cast<std::size_t>(dataSize);
        if (ReadInteger(bytes, at + checked, 4) != Checksum(bytes.substr(at, checked)))
            break;
        CJobArchiveContent content = ReadJobArchive(bytes.substr(at + ENTRY_HEAD, recordSize));
        if (content.Damaged || content.Jobs.size() != 1)
            break;
        const uint64_t job = ReadInteger(bytes, at + 1, 8);
        const auto [found, added] = indexOfJob.emplace(job, entries.size());
        if (added)
            entries.emplace_back();
        CJournalEntry& entry = entries[found->second];
        entry.Kind = kind;
        entry.Length = static_cast<int64_t>(length);
        entry.Job = *content.Jobs.front();
        if (kind == JOURNAL_RECEIVED_DATA) {
            entry.HasData = true;
            entry.Data = bytes.substr(at + ENTRY_HEAD + recordSize, static_cast<std::size_t>(dataSize));
            entry.DataFile = entry.Job.LocalFileName;
        } else if (kind != JOURNAL_PREPARED) {
            entry.HasData = false;
            entry.Data.clear();
            entry.DataFile.clear();
        }
        at += checked + ENTRY_CHECK;
    }
    std::erase_if(entries, [](const CJournalEntry& entry) { return entry.Kind == JOURNAL_FORGOTTEN; });
    return entries;
}

std::vector<CJournalEntry> CJobJournal::Open(const std::u16string& path, platform::CFileError* error) {
    std::lock_guard<std::mutex> lock(Mutex);
    File.Close();
    Held.clear();
    Path = path;
    *error = File.Open(path, platform::OPEN_READ_WRITE | platform::OPEN_CREATE | platform::OPEN_NO_TRUNCATE);
    if (*error)
        return {};
    std::string bytes(static_cast<std::size_t>(std::max<int64_t>(File.Length(), 0)), '\0');
    std::size_t read = 0;
    while (read < bytes.size()) {
        const long count = File.Read(bytes.data() + read, bytes.size() - read);
        if (count <= 0)
            break;
        read += static_cast<std::size_t>(count);
    }
    bytes.resize(read);
    GoodLength = File.Length();
    File.SeekToEnd();
    return ReadJournal(bytes);
}

void CJobJournal::Close() {
    std::unique_lock<std::mutex> lock(Mutex);
    BatchDone.wait(lock, [this] { return !Writing; });
    File.Close();
    Held.clear();
}

namespace {

// The first length bytes of the session's open data file, read back from the system's cache; the file's
// position stays at its end.
bool ReadBack(platform::CNativeFile& file, int64_t length, std::string* data) {
    data->assign(static_cast<std::size_t>(length), '\0');
    std::size_t read = 0;
    if (file.Seek(0)) {
        for (long count = 1; read < data->size() && count > 0; read += static_cast<std::size_t>(count))
            count = std::max(file.Read(data->data() + read, data->size() - read), 0L);
    }
    file.SeekToEnd();
    return read == data->size();
}

}  // namespace

bool CJobJournal::Record(JournalEntryKind kind, const CSpoolFile& job, int64_t length, bool durable,
                         platform::CNativeFile* dataFile) {
    // A small job goes into the entry with its data, and the journal's flush covers both. A larger one
    // is flushed by each session, side by side with the others: the batch's writer then flushes only the
    // journal and the folders.
    std::string data;
    const bool embedded = kind == JOURNAL_RECEIVED && durable && dataFile && length <= JOURNAL_DATA_LIMIT &&
                          ReadBack(*dataFile, length, &data);
    if (durable && dataFile && !embedded && dataFile->Flush())
        return false;
    std::unique_lock<std::mutex> lock(Mutex);
    if (!File.IsOpen())
        return true;
    const std::string bytes = WriteJournalEntry(embedded ? JOURNAL_RECEIVED_DATA : kind, job, length, data);
    if (kind == JOURNAL_FORGOTTEN) {
        Held.erase(job.Id());
    } else {
        CHeldJob& held = Held[job.Id()];
        held.Bytes = bytes;
        held.DataEntry = embedded ? bytes : std::string();
        held.File = job.LocalFileName;
    }
    // An embedded job's data file is rewritten from the journal if it is lost: its folder needs no flush.
    return Append(lock, bytes, embedded ? std::u16string() : FolderOfFile(job.LocalFileName), durable);
}

void CJobJournal::RecordPrepared(const CSpoolFile& job) {
    std::unique_lock<std::mutex> lock(Mutex);
    const auto held = Held.find(job.Id());
    if (!File.IsOpen() || held == Held.end())
        return;
    held->second.Bytes = WriteJournalEntry(JOURNAL_PREPARED, job, 0);
    held->second.File = job.LocalFileName;
    Append(lock, held->second.Bytes, {}, false);
}

void CJobJournal::MakeDataDurable(const std::vector<JobId>& listed) {
    std::vector<std::u16string> files;
    {
        std::lock_guard<std::mutex> lock(Mutex);
        for (JobId job : listed) {
            const auto held = Held.find(job);
            if (held != Held.end() && !held->second.DataEntry.empty())
                files.push_back(held->second.File);
        }
    }
    if (files.empty() || platform::SyncFileSystem(files.front()))
        return;
    std::set<std::u16string> folders;
    for (const std::u16string& path : files) {
        platform::SyncFile(path);
        folders.insert(FolderOfFile(path));
    }
    for (const std::u16string& folder : folders)
        platform::SyncFile(folder);
}

void CJobJournal::MarkListed(JobId job) {
    std::lock_guard<std::mutex> lock(Mutex);
    const auto held = Held.find(job);
    if (held != Held.end())
        held->second.Listed = true;
}

std::vector<JobId> CJobJournal::ListedJobs() const {
    std::lock_guard<std::mutex> lock(Mutex);
    std::vector<JobId> listed;
    for (const auto& [job, held] : Held) {
        if (held.Listed)
            listed.push_back(job);
    }
    return listed;
}

bool CJobJournal::Append(std::unique_lock<std::mutex>& lock, const std::string& bytes,
                         const std::u16string& folder, bool durable) {
    const std::shared_ptr<CBatch> batch = Next;
    batch->Bytes += bytes;
    if (durable && !folder.empty())
        batch->Folders.insert(folder);
    batch->Durable = batch->Durable || durable;
    while (!batch->Done) {
        if (Writing)
            BatchDone.wait(lock);
        else
            WriteBatch(lock);
    }
    return batch->Written;
}

void CJobJournal::WriteBatch(std::unique_lock<std::mutex>& lock) {
    const std::shared_ptr<CBatch> batch = std::exchange(Next, std::make_shared<CBatch>());
    Writing = true;
    lock.unlock();
    // The sessions flushed their data before they joined the batch: a journal on the disk never names data
    // that is not.
    platform::CFileError failure = File.Write(batch->Bytes.data(), batch->Bytes.size());
    if (!failure && batch->Durable)
        failure = File.Flush();
    if (!failure && batch->Durable) {
        for (const std::u16string& folder : batch->Folders)
            platform::SyncFile(folder);
    }
    if (failure) {
        // A torn entry would end every later reading here: the journal goes back to its last whole entry.
        File.SetLength(GoodLength);
        File.SeekToEnd();
    } else {
        GoodLength += static_cast<int64_t>(batch->Bytes.size());
    }
    lock.lock();
    Writing = false;
    batch->Done = true;
    batch->Written = !failure;
    BatchDone.notify_all();
}

bool CJobJournal::Fold(const std::vector<JobId>& listed, platform::CFileError* error) {
    std::unique_lock<std::mutex> lock(Mutex);
    BatchDone.wait(lock, [this] { return !Writing; });
    if (!File.IsOpen())
        return true;
    for (JobId job : listed)
        Held.erase(job);
    std::string content;
    for (const auto& [job, held] : Held) {
        // The data stay until a saved list names the job (its data file is then on the disk).
        if (!held.DataEntry.empty() && held.DataEntry != held.Bytes)
            content += held.DataEntry;
        content += held.Bytes;
    }
    // The waiting entries are in the new content: the rewrite writes them.
    const std::shared_ptr<CBatch> batch = std::exchange(Next, std::make_shared<CBatch>());
    for (const std::u16string& folder : batch->Folders)
        platform::SyncFile(folder);
    const bool written = Rewrite(content, error);
    if (!batch->Bytes.empty()) {
        // Not written by the rewrite: they go out as a batch of their own.
        if (!written) {
            File.Write(batch->Bytes.data(), batch->Bytes.size());
            File.Flush();
        }
        batch->Done = true;
        batch->Written = true;
        BatchDone.notify_all();
    }
    return written;
}

bool CJobJournal::Rewrite(const std::string& content, platform::CFileError* error) {
    if (content.empty()) {
        // Nothing left to keep: cutting the file in place loses nothing if it is interrupted.
        if (!File.SetLength(0) || !File.SeekToEnd()) {
            *error = platform::CFileError{platform::FileErrorKind::Other, 0};
            return false;
        }
        *error = File.Flush();
        GoodLength = 0;
        return !*error;
    }
    const std::u16string next = Path + u".new";
    {
        platform::CNativeFile file;
        *error = file.Open(next, platform::OPEN_WRITE | platform::OPEN_CREATE);
        if (!*error)
            *error = file.Write(content.data(), content.size());
        if (!*error)
            *error = file.Flush();
    }
    if (!*error) {
        File.Close();
        *error = platform::RenameFile(next, Path, true);
        platform::SyncFile(FolderOfFile(Path));
        const platform::CFileError reopened =
            File.Open(Path, platform::OPEN_READ_WRITE | platform::OPEN_CREATE | platform::OPEN_NO_TRUNCATE);
        File.SeekToEnd();
        GoodLength = File.Length();
        if (!*error)
            *error = reopened;
    }
    if (*error)
        platform::RemoveFile(next);
    return !*error;
}

}  // namespace velmora
