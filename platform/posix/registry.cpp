#include "platform/registry.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "platform/ansi.h"
#include "platform/file.h"

namespace velmora::platform {

namespace {

std::string RegistryPath() {
    const std::u16string overridden = EnvironmentValue("VELMORA_REGISTRY");
    return overridden.empty() ? std::string("/etc/opt/velmora/registry") : UnicodeToAnsi(overridden);
}

std::vector<std::string> ReadLines(const std::string& path, bool* exists) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    *exists = static_cast<bool>(in);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

bool ReadRegistryString(const std::u16string& name, std::u16string* value) {
    bool exists = false;
    const std::string key = UnicodeToAnsi(name) + "=";
    for (const std::string& line : ReadLines(RegistryPath(), &exists)) {
        if (line.compare(0, key.size(), key) == 0) {
            *value = AnsiToUnicode(std::string_view(line).substr(key.size()));
            return true;
        }
    }
    return false;
}

bool WriteRegistryString(const std::u16string& name, const std::u16string& value) {
    const std::string path = RegistryPath();
    bool exists = false;
    std::vector<std::string> lines = ReadLines(path, &exists);
    const std::string key = UnicodeToAnsi(name) + "=";
    bool replaced = false;
    for (std::string& line : lines) {
        if (line.compare(0, key.size(), key) == 0) {
            line = key + UnicodeToAnsi(value);
            replaced = true;
        }
    }
    if (!replaced)
        lines.push_back(key + UnicodeToAnsi(value));

    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines)
            out << line << '\n';
        if (!out.flush())
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace velmora::platform
