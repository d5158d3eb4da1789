#include "core/profile_file.h"

#include <vector>

#include "platform/ansi.h"
#include "platform/file.h"
#include "text/text_util.h"

namespace velmora {

namespace {

std::string Trim(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

std::vector<std::string> ReadLines(const std::u16string& path) {
    std::vector<std::string> lines;
    platform::CNativeFile file;
    if (file.Open(path, platform::OPEN_READ | platform::SHARE_DENY_WRITE))
        return lines;
    std::string content;
    char buffer[4096];
    for (long n; (n = file.Read(buffer, sizeof buffer)) > 0;)
        content.append(buffer, static_cast<std::size_t>(n));
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        std::string line = content.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

bool IsSectionHeader(const std::string& line, std::string* name) {
    const std::string trimmed = Trim(line);
    if (trimmed.size() < 2 || trimmed.front() != '[')
        return false;
    const auto close = trimmed.find(']');
    if (close == std::string::npos)
        return false;
    if (name)
        *name = Trim(std::string_view(trimmed).substr(1, close - 1));
    return true;
}

bool SameName(const std::string& a, std::u16string_view b) {
    return EqualsNoCase(platform::AnsiToUnicode(a), b);
}

// Index range [begin, end) of the section's key lines; begin is npos when the section is absent.
std::pair<std::size_t, std::size_t> FindSection(const std::vector<std::string>& lines,
                                                std::u16string_view section) {
    std::string name;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!IsSectionHeader(lines[i], &name) || !SameName(name, section))
            continue;
        std::size_t end = i + 1;
        while (end < lines.size() && !IsSectionHeader(lines[end], nullptr))
            ++end;
        return {i + 1, end};
    }
    return {std::string::npos, std::string::npos};
}

std::string KeyOf(const std::string& line) {
    const auto equals = line.find('=');
    return equals == std::string::npos ? std::string() : Trim(std::string_view(line).substr(0, equals));
}

bool WriteLines(const std::u16string& path, const std::vector<std::string>& lines) {
    std::string content;
    for (const std::string& line : lines) {
        content += line;
        content += "\r\n";
    }
    const std::u16string temporary = path + u".new";
    {
        platform::CNativeFile file;
        if (file.Open(temporary, platform::OPEN_WRITE | platform::OPEN_CREATE | platform::SHARE_EXCLUSIVE)) {
            return false;
        }
        if (file.Write(content.data(), content.size()) || file.Flush()) {
            file.Close();
            platform::RemoveFile(temporary);
            return false;
        }
    }
    if (platform::RenameFile(temporary, path, true)) {
        platform::RemoveFile(temporary);
        return false;
    }
    return true;
}

std::string SectionHeader(std::u16string_view section) {
    std::string header = "[";
    header += platform::UnicodeToAnsi(section);
    header += ']';
    return header;
}

}  // namespace

namespace {

// The key's value, trimmed; false when the file, the section or the key is absent.
bool FindValue(const std::u16string& path, std::u16string_view section, std::u16string_view key,
               std::string* value) {
    const std::vector<std::string> lines = ReadLines(path);
    const auto [begin, end] = FindSection(lines, section);
    if (begin == std::string::npos)
        return false;
    for (std::size_t i = begin; i < end; ++i) {
        if (lines[i].find('=') == std::string::npos || !SameName(KeyOf(lines[i]), key))
            continue;
        *value = Trim(std::string_view(lines[i]).substr(lines[i].find('=') + 1));
        return true;
    }
    return false;
}

}  // namespace

int32_t CProfileFile::GetInt(std::u16string_view section, std::u16string_view key,
                             int32_t defaultValue) const {
    std::string value;
    if (!FindValue(ProfilePath, section, key, &value) || value.empty())
        return defaultValue;
    return ParseInt32(platform::AnsiToUnicode(value));
}

std::u16string CProfileFile::GetString(std::u16string_view section, std::u16string_view key) const {
    std::string value;
    FindValue(ProfilePath, section, key, &value);
    return platform::AnsiToUnicode(value);
}

bool CProfileFile::WriteInt(std::u16string_view section, std::u16string_view key, int32_t value) {
    if (ProfilePath.empty())
        return false;
    std::vector<std::string> lines = ReadLines(ProfilePath);
    const std::string entry = platform::UnicodeToAnsi(key) + "=" + std::to_string(value);
    const auto [begin, end] = FindSection(lines, section);
    if (begin == std::string::npos) {
        lines.push_back(SectionHeader(section));
        lines.push_back(entry);
        return WriteLines(ProfilePath, lines);
    }
    for (std::size_t i = begin; i < end; ++i) {
        if (lines[i].find('=') != std::string::npos && SameName(KeyOf(lines[i]), key)) {
            lines[i] = entry;
            return WriteLines(ProfilePath, lines);
        }
    }
    // After the section's last key, before any blank lines that separate it from the next section.
    std::size_t at = end;
    while (at > begin && Trim(lines[at - 1]).empty())
        --at;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), entry);
    return WriteLines(ProfilePath, lines);
}

bool CProfileFile::WriteSection(std::u16string_view section, std::string_view entries) {
    if (ProfilePath.empty())
        return false;
    std::vector<std::string> body;
    for (std::size_t start = 0; start < entries.size();) {
        const std::size_t end = std::min(entries.find('\0', start), entries.size());
        if (end == start)
            break;  // the second NUL ends the list
        body.emplace_back(entries.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> lines = ReadLines(ProfilePath);
    const auto [begin, end] = FindSection(lines, section);
    if (begin == std::string::npos) {
        lines.push_back(SectionHeader(section));
        lines.insert(lines.end(), body.begin(), body.end());
    } else {
        lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(begin),
                    lines.begin() + static_cast<std::ptrdiff_t>(end));
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(begin), body.begin(), body.end());
    }
    return WriteLines(ProfilePath, lines);
}

}  // namespace velmora
