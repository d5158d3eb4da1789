// Reading spool.journal, whatever a crash left at its end: every entry read survives a write and read.

#include "fuzz_util.h"
#include "spool/job_journal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace velmora;
    const std::vector<CJournalEntry> entries = ReadJournal(fuzz::AsBytes(data, size));

    std::string written;
    for (const CJournalEntry& entry : entries)
        written += WriteJournalEntry(entry.Kind, entry.Job, entry.Length);
    const std::vector<CJournalEntry> again = ReadJournal(written);
    VELMORA_FUZZ_CHECK(again.size() == entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        VELMORA_FUZZ_CHECK(again[i].Kind == entries[i].Kind && again[i].Length == entries[i].Length);
        VELMORA_FUZZ_CHECK(again[i].Job.LocalFileName == entries[i].Job.LocalFileName);
    }
    return 0;
}
