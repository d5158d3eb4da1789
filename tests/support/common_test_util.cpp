#include "support/test_util.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "platform/ansi.h"
#include "platform/file.h"

namespace velmora::test {

TempFolder::TempFolder() {
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto path =
            std::filesystem::temp_directory_path() / ("velmora-test-" + std::to_string(random()));
        std::error_code error;
        // Made by this call only when it did not exist: a folder of another test is never shared.
        if (std::filesystem::create_directory(path, error)) {
            path_ = path.string();
            return;
        }
    }
    throw std::runtime_error("no temporary folder could be made");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::u16string U16(const std::string& utf8) {
    return platform::AnsiToUnicode(utf8);
}

AnsiCodePage CurrentAnsiCodePage() {
    if (platform::AnsiToUnicode("\xC3\xA9") == u"\u00E9")
        return AnsiCodePage::Utf8;
    if (platform::AnsiToUnicode("\x80\xC3") == u"\u20AC\u00C3")
        return AnsiCodePage::Windows1252;
    return AnsiCodePage::Other;
}

std::u16string SharingViolationText() {
    return platform::CFileError{platform::FileErrorKind::SharingViolation, 32}
        .Description();  // 32 on Windows
}

void SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name.c_str(), value.c_str());
#else
    setenv(name.c_str(), value.c_str(), 1);
#endif
}

void UnsetEnvironment(const std::string& name) {
#ifdef _WIN32
    _putenv_s(name.c_str(), "");  // an empty value removes the variable
#else
    unsetenv(name.c_str());
#endif
}

bool StripLogStamp(std::string* line) {
    static constexpr std::string_view SHAPE = "dddd/dd/dd\tdd:dd:dd\t";
    for (std::size_t i = 0; i < SHAPE.size(); ++i) {
        const char c = i < line->size() ? (*line)[i] : '\0';
        if (SHAPE[i] == 'd' ? (c < '0' || c > '9') : c != SHAPE[i])
            return false;
    }
    line->erase(0, SHAPE.size());
    return true;
}

std::vector<std::string> LogFileMessages(const std::string& path) {
    const std::string content = ReadFile(path);
    std::vector<std::string> messages;
    for (std::size_t start = 0, end; (end = content.find("\r\n", start)) != std::string::npos;
         start = end + 2) {
        messages.push_back(content.substr(start, end - start));
        StripLogStamp(&messages.back());
    }
    return messages;
}

bool ChildProcess::WaitForLine(const std::string& line) {
    for (std::string got; ReadLine(&got);) {
        if (got == line)
            return true;
    }
    return false;
}

bool ChildProcess::ReadLine(std::string* line) {
    for (;;) {
        const std::size_t end = pending_.find('\n');
        if (end != std::string::npos) {
            // Text-mode output of the C runtime on Windows ends its lines with CR LF.
            *line = pending_.substr(0, end > 0 && pending_[end - 1] == '\r' ? end - 1 : end);
            pending_.erase(0, end + 1);
            return true;
        }
        char buffer[256];
        const long n = ReadOutput(buffer, sizeof buffer);
        if (n == 0)
            return false;
        pending_.append(buffer, static_cast<std::size_t>(n));
    }
}

std::string ChildProcess::ReadAll() {
    std::string all = std::move(pending_);
    pending_.clear();
    char buffer[4096];
    for (long n; (n = ReadOutput(buffer, sizeof buffer)) > 0;)
        all.append(buffer, static_cast<std::size_t>(n));
    return all;
}

std::string ToolPath(const std::string& name) {
    return std::string(VELMORA_TEST_TOOLS_DIR) + TempFolder::SEPARATOR + "velmora_" + name;
}

}  // namespace velmora::test
