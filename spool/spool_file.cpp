#include "spool/spool_file.h"

#include <atomic>

#include "platform/ansi.h"
#include "resources/string_table.h"

namespace velmora {

namespace {

std::atomic<JobId> NextJobId{1};

}  // namespace

CSpoolFile::CSpoolFile() : Identity(NextJobId++) {}

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

std::u16string FormatLocalTime(const char* format, std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    char text[128] = {};
    if (std::strftime(text, sizeof text, format, &local) == 0)
        return {};
    return platform::AnsiToUnicode(text);
}

}  // namespace velmora
