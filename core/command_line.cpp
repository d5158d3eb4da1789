#include "core/command_line.h"

#include <algorithm>
#include <array>
#include <string_view>

#include "platform/ansi.h"

namespace velmora {

namespace {

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char16_t x, char16_t y) { return lower(x) == lower(y); });
}

// The desktop toolkit's options that take the following word as their value.
constexpr std::array<std::u16string_view, 14> kToolkitOptionsWithValue = {
    u"platform",    u"platformpluginpath", u"platformtheme", u"plugin", u"qwindowgeometry",
    u"qwindowicon", u"qwindowtitle",       u"session",       u"style",  u"stylesheet",
    u"display",     u"geometry",           u"title",         u"name",
};

bool TakesValue(std::u16string_view option) {
    // The toolkit also reads its options with two dashes, and "-option=value" carries its own value.
    while (!option.empty() && option.front() == u'-')
        option.remove_prefix(1);
    return std::find(kToolkitOptionsWithValue.begin(), kToolkitOptionsWithValue.end(), option) !=
           kToolkitOptionsWithValue.end();
}

}  // namespace

void CCommandLineInfo::ParseParam(const std::u16string& parameter, bool isSwitch, bool isLast) {
    if (valueExpected_) {
        valueExpected_ = false;
    } else if (isSwitch) {
        if (EqualsIgnoringCase(parameter, u"Embedding")) {
            RunEmbedded = true;
        } else if (EqualsIgnoringCase(parameter, u"Automation")) {
            RunAutomated = true;
        } else if (EqualsIgnoringCase(parameter, u"Register") ||
                   EqualsIgnoringCase(parameter, u"Regserver")) {
            Command = AppRegister;
        } else if (EqualsIgnoringCase(parameter, u"Unregister") ||
                   EqualsIgnoringCase(parameter, u"Unregserver")) {
            Command = AppUnregister;
        } else {
            // Switches of no interest here are someone else's (the toolkit's): they are left alone.
            valueExpected_ = TakesValue(parameter);
        }
    } else if (FileName.empty()) {
        FileName = parameter;
    }
    ParseLast(isLast);
}

void CCommandLineInfo::ParseLast(bool isLast) {
    if (isLast && Command == FileNew && !FileName.empty())
        Command = FileOpen;
}

void CMyCommandLineInfo::ParseParam(const std::u16string& parameter, bool isSwitch, bool isLast) {
    if (isSwitch) {
        bool own = true;
        if (parameter == u"WINSERV") {
            RunAsService = 1;
        } else if (parameter == u"DELSERV") {
            RemoveService = 1;
        } else if (parameter == u"SILENT_DELSERV") {
            RemoveService = 1;
            Silent = 1;
        } else if (parameter == u"INSTALLSERV") {
            InstallService = 1;
        } else if (parameter == u"SILENT_INSTALLSERV") {
            InstallService = 1;
            Silent = 1;
        } else {
            own = false;
        }
        if (own) {
            ParseLast(isLast);
            return;
        }
    }
    CCommandLineInfo::ParseParam(parameter, isSwitch, isLast);
}

void ParseCommandLine(CCommandLineInfo& info, const std::vector<std::u16string>& arguments) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::u16string& word = arguments[i];
        const bool isSwitch = !word.empty() && (word[0] == u'-' || word[0] == u'/');
        info.ParseParam(isSwitch ? word.substr(1) : word, isSwitch, i + 1 == arguments.size());
    }
}

void ParseCommandLine(CCommandLineInfo& info, int argc, char** argv) {
    std::vector<std::u16string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(platform::AnsiToUnicode(argv[i]));
    ParseCommandLine(info, arguments);
}

}  // namespace velmora
