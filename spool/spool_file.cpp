#include "spool/spool_file.h"

#include <atomic>
#include <chrono>
#include <thread>

#include "core/app.h"
#include "platform/file.h"
#include "resources/string_table.h"
#include "spool/my_file.h"
#include "text/format.h"

namespace velmora {

namespace {

std::atomic<JobId> NextJobId{1};

// Gives JobListLock up while the calling thread waits, so that a file that stays undeletable never keeps
// the job list locked. The caller holds the lock exactly once.
void WaitUnlocked(std::chrono::milliseconds time) {
    auto& lock = App().JobListLock;
    lock.unlock();
    std::this_thread::sleep_for(time);
    lock.lock();
}

bool IsGone(const platform::FileError& error) {
    return !error || error.kind == platform::FileErrorKind::NotFound;
}

}  // namespace

CSpoolFile::CSpoolFile() : Id_(NextJobId++) {}

void CSpoolFile::SetState(int32_t state) {
    State = state;
    StateText = LoadString(IDS_STATE_READY + static_cast<uint32_t>(state));
}

void CSpoolFile::SetReady() {
    SetState(STATE_READY);
}
void CSpoolFile::SetHeld() {
    SetState(STATE_HELD);
}
void CSpoolFile::SetSaved() {
    SetState(STATE_SAVED);
}
void CSpoolFile::SetError() {
    SetState(STATE_ERROR);
}
void CSpoolFile::SetPrinting() {
    SetState(STATE_PRINTING);
}

bool CSpoolFile::DeleteLocalFile(bool waitUntilDeleted) {
    CVelmoraVirtualPrinterApp& app = App();
    // Held: the spooler cannot take the job, and it stays so if the file cannot be deleted.
    SetHeld();
    if (IsGone(platform::RemoveFile(LocalFileName)))
        return true;

    if (!waitUntilDeleted) {
        std::u16string failure;
        if (RemoveFileWithRetry(LocalFileName, app.AccessFile_MaxAttempts, app.AccessFile_WaitingTimeMsec,
                                &failure, 1024)) {
            return true;
        }
        const std::u16string text =
            Format(u"%d\tUnable to delete file : %s (%s)", app.ModeDigit(), LocalFileName, failure);
        app.WriteLog(text);
        app.ShowMessageBox(text, MessageIcon::Error);
        return false;
    }

    for (;;) {
        WaitUnlocked(std::chrono::seconds(1));
        // At the end of the run the job stays, Held, for the next one.
        if (app.IsRunEnding())
            return false;
        SetHeld();
        if (IsGone(platform::RemoveFile(LocalFileName)))
            break;
    }
    WaitUnlocked(std::chrono::seconds(1));
    return true;
}

void CSpoolFile::CopyFieldsFrom(const CSpoolFile& other) {
    DocumentName = other.DocumentName;
    State = other.State;
    StateText = other.StateText;
    Owner = other.Owner;
    DateInserted = other.DateInserted;
    FileSize = other.FileSize;
    FileType = other.FileType;
    PrinterName = other.PrinterName;
    LocalFileName = other.LocalFileName;
    ReceivedFileName = other.ReceivedFileName;
    ControlFile = other.ControlFile;
    SourceHost = other.SourceHost;
    JobName = other.JobName;
    JobClass = other.JobClass;
    ErrorText = other.ErrorText;
}

void CSpoolFile::TransferJob() {
    const auto& dialog = App().Ui.TransferDialog;
    std::u16string printerName = PrinterName;
    if (dialog && dialog(*this, &printerName))
        PrinterName = printerName;
}

}  // namespace velmora
