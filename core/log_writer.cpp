// The log: one text file per weekday in Logs/, one line per call, opened and closed for every line.
#include <ctime>

#include "core/log_writer.h"

#include <algorithm>

#include "core/my_file.h"
#include "platform/file.h"
#include "text/code_page.h"

namespace velmora {

namespace {

constexpr int64_t LOG_SIZE_LIMIT = 150000000;

// English names whatever the process locale: the file names must not change with the user's language.
constexpr const char16_t* WEEKDAYS[] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                        u"Thursday", u"Friday", u"Saturday"};

std::tm LocalTime(std::time_t time) {
    std::tm local{};
    localtime_r(&time, &local);
    return local;
}

std::u16string Ascii(const char* text) {
    std::u16string result;
    while (*text)
        result.push_back(static_cast<unsigned char>(*text++));
    return result;
}

}  // namespace

void CLogWriter::OpenFolder(const std::u16string& folder) {
    const std::tm now = LocalTime(std::time(nullptr));
    const std::u16string name = std::u16string(WEEKDAYS[now.tm_wday]) + u"_VelmoraVirtualPrinter_Log.txt";
    const std::u16string path = folder + name;

    std::time_t modified = 0;
    if (platform::FileModificationTime(path, &modified)) {
        const std::tm then = LocalTime(modified);
        if (then.tm_mday != now.tm_mday || then.tm_mon != now.tm_mon || then.tm_year != now.tm_year) {
            char prefix[32] = {};
            std::strftime(prefix, sizeof prefix, "Saved_%m_%d_%Y_", &then);
            // When the old file cannot be set aside, lines are appended to it: the log never stops start-up.
            platform::RenameFile(path, folder + Ascii(prefix) + name, false);
        }
    }
    std::lock_guard<std::mutex> lock(LogLock);
    LogFilePath = path;
}

void CLogWriter::SetFilePath(const std::u16string& path) {
    std::lock_guard<std::mutex> lock(LogLock);
    LogFilePath = path;
}

std::u16string CLogWriter::FilePath() const {
    std::lock_guard<std::mutex> lock(LogLock);
    return LogFilePath;
}

namespace {
constexpr int32_t LOG_OPEN_ATTEMPTS = 20;
}

void CLogWriter::WriteLog(std::u16string message) {
    std::lock_guard<std::mutex> lock(LogLock);
    if (LogFilePath.empty())
        return;

    // The desktop program and the service write the same file, each holding it for the length of one
    // line: a line that meets the other's is written a few milliseconds later instead of being lost.
    CMyFile file(LOG_OPEN_ATTEMPTS, 10);
    if (!file.OpenWithRetry(LogFilePath,
                            platform::OPEN_WRITE | platform::OPEN_CREATE | platform::OPEN_NO_TRUNCATE |
                                platform::SHARE_EXCLUSIVE,
                            nullptr)) {
        return;
    }
    if (file.Length() > LOG_SIZE_LIMIT)
        return;

    char stamp[64] = {};
    const std::tm now = LocalTime(std::time(nullptr));
    if (std::strftime(stamp, sizeof stamp, "%Y/%m/%d\t%H:%M:%S\t", &now) == 0)
        stamp[0] = 0;

    std::string line = stamp;
    std::string text = ToBytes1252(message);
    // A character the code page cannot represent converts to a zero byte, which ends the line.
    text.resize(std::min(text.find('\0'), text.size()));
    for (int i = 0; i < 2 && !text.empty() && (text.back() == '\r' || text.back() == '\n'); ++i)
        text.pop_back();
    line += text;
    line += "\r\n";

    file.SeekToEnd();
    file.Write(line.data(), line.size());
}

}  // namespace velmora
