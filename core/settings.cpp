// The global options in the "Settings" section of QLSconf.ini.
#include <vector>

#include "core/settings.h"
#include "text/format.h"
#include "text/utf8.h"

namespace velmora {

namespace {

constexpr std::u16string_view SECTION = u"Settings";

// The retry settings replaced older keys of the same meaning, which are still honoured when present.
int32_t ReadWithFallback(const CProfileFile& file, std::u16string_view key, std::u16string_view olderKey,
                         int32_t olderDefault) {
    const int32_t value = file.GetInt(SECTION, key, -1);
    return value == -1 ? file.GetInt(SECTION, olderKey, olderDefault) : value;
}

}  // namespace

void CSettings::Load(const CProfileFile& file) {
    StartAsService = file.GetInt(SECTION, u"StartAsService", 0);
    AutoStart = file.GetInt(SECTION, u"AutoStart", 1);
    AutoHide = file.GetInt(SECTION, u"AutoHide", 0);
    Stress = file.GetInt(SECTION, u"Stress", 0);
    ReadServerSettings(file, 0);
}

void CSettings::ReloadServerSettings(const CProfileFile& file) {
    if (file.Path().empty())
        return;
    ReadServerSettings(file, 1);
}

void CSettings::ReadServerSettings(const CProfileFile& file, int32_t autoDeleteDefault) {
    AutoDelete = file.GetInt(SECTION, u"AutoDelete", autoDeleteDefault);
    DeleteSpool = file.GetInt(SECTION, u"DeleteSpool", 0) != 0;
    DeleteSpoolTimeOut = file.GetInt(SECTION, u"DeleteSpoolTimeOut", 30);
    PortLPD = file.GetInt(SECTION, u"PortLPD", 515);
    AccessFile_MaxAttempts = ReadWithFallback(file, u"AccessFile_MaxAttempts", u"PDFRename_MaxAttempts", 10);
    AccessFile_WaitingTimeMsec =
        ReadWithFallback(file, u"AccessFile_WaitingTimeMsec", u"PDFRename_WaitingTimeMsec", 10);
    KillProcessIfNeed = file.GetInt(SECTION, u"KillProcessIfNeed", 0);
    LogLevel = file.GetInt(SECTION, u"LogLevel", 1);
    DurableIntake = file.GetInt(SECTION, u"DurableIntake", 1);
    SetAllowedClients(file.GetString(SECTION, u"AllowedClients"));
}

std::u16string CSettings::AllowedClients() const {
    std::lock_guard<std::mutex> lock(AllowedClientsLock);
    return AllowedClientsText;
}

void CSettings::SetAllowedClients(std::u16string_view text) {
    std::lock_guard<std::mutex> lock(AllowedClientsLock);
    if (AllowedClientsText == text)
        return;
    AllowedClientsText = text;
    ++AllowedClientsVersion;
}

bool CSettings::Save(CProfileFile& file) const {
    const std::pair<const char16_t*, int32_t> values[] = {
        {u"StartAsService", StartAsService},
        {u"AutoStart", AutoStart},
        {u"AutoDelete", AutoDelete},
        {u"DeleteSpool", DeleteSpool ? 1 : 0},
        {u"DeleteSpoolTimeOut", DeleteSpoolTimeOut},
        {u"AutoHide", AutoHide},
        {u"Stress", Stress},
        {u"PortLPD", PortLPD},
        {u"AccessFile_MaxAttempts", AccessFile_MaxAttempts},
        {u"AccessFile_WaitingTimeMsec", AccessFile_WaitingTimeMsec},
        {u"KillProcessIfNeed", KillProcessIfNeed},
        {u"LogLevel", LogLevel},
    };
    std::u16string entries;
    for (const auto& [key, value] : values) {
        entries += Format(u"%s=%d", key, value);
        entries.push_back(u'\0');
    }
    // Written only where someone set them, so that the section keeps its twelve keys otherwise.
    if (DurableIntake == 0) {
        entries += u"DurableIntake=0";
        entries.push_back(u'\0');
    }
    if (const std::u16string clients = AllowedClients(); !clients.empty()) {
        entries += u"AllowedClients=" + clients;
        entries.push_back(u'\0');
    }
    entries.push_back(u'\0');

    // The section goes to the file as UTF-8.
    const int size = Utf8Encode(nullptr, 0, entries.data(), static_cast<int>(entries.size()));
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    const int written = Utf8Encode(bytes.data(), size + 1, entries.data(), static_cast<int>(entries.size()));
    if (written < 0)
        return false;
    bytes.resize(static_cast<std::size_t>(written));
    return file.WriteSection(SECTION, bytes);
}

}  // namespace velmora
