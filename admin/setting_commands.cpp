// The keys of [Settings] from the command line, with the Preferences dialog's checks: switches are 0 or 1,
// the port lies in 1..65535, the client list has only readable entries.
#include <algorithm>
#include <climits>

#include "admin/admin_commands.h"
#include "core/allowed_clients.h"
#include "resources/admin_string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"
#include "text/text_util.h"

namespace velmora {

namespace {

constexpr std::u16string_view CLIENT_LIST = u"AllowedClients";

struct CNumberKey {
    const char16_t* Name;
    std::atomic<int32_t> CSettings::*Value;
    int32_t Minimum;
    int32_t Maximum;
};

// In the order the settings file has them; DeleteSpool, a switch held as a truth value, comes fourth.
constexpr CNumberKey NUMBER_KEYS[] = {
    {u"StartAsService", &CSettings::StartAsService, 0, 1},
    {u"AutoStart", &CSettings::AutoStart, 0, 1},
    {u"AutoDelete", &CSettings::AutoDelete, 0, 1},
    {u"DeleteSpoolTimeOut", &CSettings::DeleteSpoolTimeOut, 0, INT32_MAX},
    {u"AutoHide", &CSettings::AutoHide, 0, 1},
    {u"Stress", &CSettings::Stress, 0, 1},
    {u"PortLPD", &CSettings::PortLPD, 1, 65535},
    {u"AccessFile_MaxAttempts", &CSettings::AccessFile_MaxAttempts, 1, INT32_MAX},
    {u"AccessFile_WaitingTimeMsec", &CSettings::AccessFile_WaitingTimeMsec, 0, INT32_MAX},
    {u"KillProcessIfNeed", &CSettings::KillProcessIfNeed, 0, 1},
    {u"LogLevel", &CSettings::LogLevel, 1, 2},
    {u"DurableIntake", &CSettings::DurableIntake, 0, 1},
};
constexpr std::u16string_view DELETE_SPOOL = u"DeleteSpool";

// A whole decimal number, nothing before or after it.
bool ParseNumber(const std::u16string& text, int32_t* value) {
    if (text.empty() || text.size() > 11)
        return false;
    int64_t number = 0;
    std::size_t i = text[0] == u'-' ? 1 : 0;
    if (i == text.size())
        return false;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return false;
        number = number * 10 + (text[i] - u'0');
    }
    number = text[0] == u'-' ? -number : number;
    if (number < INT32_MIN || number > INT32_MAX)
        return false;
    *value = static_cast<int32_t>(number);
    return true;
}

// One change: the key as the table names it, and how to make it.
struct CChange {
    const CNumberKey* Number = nullptr;  // or DeleteSpool, or the client list
    std::u16string Key;
    int32_t Value = 0;
    std::u16string Text;
};

CAdminResult ReadChange(const std::u16string& argument, CChange* change) {
    const std::size_t equals = argument.find(u'=');
    if (equals == std::u16string::npos || equals == 0)
        return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_OPTION), argument));
    const std::u16string key = argument.substr(0, equals);
    const std::u16string value = argument.substr(equals + 1);
    const auto bad = [&] {
        return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_BAD_VALUE), value, key));
    };
    if (EqualsNoCase(key, CLIENT_LIST)) {
        change->Key = CLIENT_LIST;
        // One line in the settings file, each entry readable.
        if (value.find_first_of(u"\r\n") != std::u16string::npos || !FirstUnreadableClient(value).empty())
            return bad();
        change->Text = value;
        return {};
    }
    const auto number =
        std::find_if(std::begin(NUMBER_KEYS), std::end(NUMBER_KEYS),
                     [&key](const CNumberKey& known) { return EqualsNoCase(key, known.Name); });
    const bool deleteSpool = EqualsNoCase(key, DELETE_SPOOL);
    if (number == std::end(NUMBER_KEYS) && !deleteSpool)
        return AdminError(ADMIN_REFUSED, Format(LoadString(IDS_ADMIN_UNKNOWN_SETTING), key));
    const int32_t minimum = deleteSpool ? 0 : number->Minimum;
    const int32_t maximum = deleteSpool ? 1 : number->Maximum;
    if (!ParseNumber(value, &change->Value) || change->Value < minimum || change->Value > maximum)
        return bad();
    change->Number = deleteSpool ? nullptr : &*number;
    change->Key = deleteSpool ? std::u16string(DELETE_SPOOL) : number->Name;
    return {};
}

void Apply(const CChange& change, CSettings& settings) {
    if (change.Number)
        (settings.*change.Number->Value) = change.Value;
    else if (change.Key == DELETE_SPOOL)
        settings.DeleteSpool = change.Value != 0;
    else
        settings.SetAllowedClients(change.Text);
}

// The key's value as the settings file would have it.
std::u16string ValueText(const std::u16string& key, const CSettings& settings) {
    if (key == CLIENT_LIST)
        return settings.AllowedClients();
    if (key == DELETE_SPOOL)
        return settings.DeleteSpool ? u"1" : u"0";
    for (const CNumberKey& number : NUMBER_KEYS) {
        if (key == number.Name)
            return Format(u"%d", (settings.*number.Value).load());
    }
    return {};
}

std::vector<std::u16string> KeyNames() {
    std::vector<std::u16string> names;
    for (const CNumberKey& number : NUMBER_KEYS) {
        names.push_back(number.Name);
        if (names.size() == 3)
            names.emplace_back(DELETE_SPOOL);
    }
    names.emplace_back(CLIENT_LIST);
    return names;
}

}  // namespace

CAdminResult ShowSettings(const CAdminArguments& arguments, CAdminParts& parts) {
    if (!arguments.empty())
        return AdminError(ADMIN_USAGE, Format(LoadString(IDS_ADMIN_UNKNOWN_OPTION), arguments[0]));
    CAdminResult result;
    for (const std::u16string& key : KeyNames())
        result.Output += key + u"=" + ValueText(key, parts.Settings) + u"\n";
    return result;
}

CAdminResult SetSettings(const CAdminArguments& arguments, CAdminParts& parts) {
    if (arguments.empty())
        return AdminError(ADMIN_USAGE, LoadString(IDS_ADMIN_MISSING_ARGUMENT));
    std::vector<CChange> changes(arguments.size());
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        CAdminResult read = ReadChange(arguments[i], &changes[i]);
        if (read.ExitCode != ADMIN_DONE)
            return read;
    }
    // Every change or none: the earlier values come back when the file cannot be written.
    std::vector<CChange> earlier = changes;
    for (CChange& change : earlier) {
        change.Text = ValueText(change.Key, parts.Settings);
        change.Value = change.Key == CLIENT_LIST ? 0 : ParseInt32(change.Text);
    }
    for (const CChange& change : changes)
        Apply(change, parts.Settings);
    if (!parts.Settings.Save(parts.ProfileFile)) {
        for (auto it = earlier.rbegin(); it != earlier.rend(); ++it)
            Apply(*it, parts.Settings);
        return AdminError(ADMIN_FAILED, Format(LoadString(IDS_ADMIN_UNWRITABLE), parts.ProfileFile.Path()));
    }
    return {};
}

}  // namespace velmora
