// One spooled print job: what the client said about it, where its data lies, and its state.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

namespace velmora {

enum JobState : int32_t {
    STATE_READY = 0,
    STATE_HELD = 1,
    STATE_SAVED = 2,
    STATE_PRINTING = 3,
    STATE_ERROR = 4,
};

// A process-unique job identity: never reused, so an action aimed at a deleted job can never reach a
// newer one.
using JobId = uint64_t;

class CSpoolFile {
  public:
    CSpoolFile();
    virtual ~CSpoolFile() = default;
    // A copy is the same job as it was at that moment, identity included (a dispatch works on one).
    CSpoolFile(const CSpoolFile&) = default;
    CSpoolFile& operator=(const CSpoolFile&) = default;

    JobId Id() const { return Identity; }

    // State changes; the caller holds JobListLock.
    void SetReady();
    void SetHeld();
    void SetSaved();
    void SetError();
    void SetPrinting();
    // Sets State and its display text in the calling thread's language.
    void SetState(int32_t state);

    // Fields in declaration order.
    std::u16string DocumentName;
    int32_t State = STATE_READY;
    std::u16string StateText;
    std::u16string Owner;
    std::u16string DateInserted;
    std::u16string FileSize;
    std::u16string FileType;
    std::u16string PrinterName;
    std::u16string LocalFileName;
    std::u16string ReceivedFileName;
    std::u16string ControlFile;
    std::u16string SourceHost;
    std::u16string JobName;
    std::u16string JobClass;
    std::u16string ErrorText;

  private:
    JobId Identity;
};

using SpoolFilePtr = std::shared_ptr<CSpoolFile>;

// A local time formatted by strftime in the runtime's current locale ("%c" for DateInserted); empty when
// the text does not fit.
std::u16string FormatLocalTime(const char* format, std::time_t time);

}  // namespace velmora
