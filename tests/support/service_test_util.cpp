#include "support/service_test_util.h"

#include <signal.h>
#include <stdlib.h>

#include <algorithm>

#include "platform/process.h"

namespace velmora::test {

namespace {

constexpr int PATIENCE = 30000;

}  // namespace

ServiceSandbox::ServiceSandbox(bool longDatabasePath) {
    database_ = folder_.Path() + "/services";
    if (longDatabasePath)
        database_ += "-" + std::string(110, 'x');
    units_ = folder_.Path() + "/systemd";
    setenv("VELMORA_SERVICE_DATABASE", database_.c_str(), 1);
    setenv("VELMORA_SYSTEMD_UNIT_FOLDER", units_.c_str(), 1);
}

ServiceSandbox::~ServiceSandbox() {
    // The services run detached: each is ended by the id it wrote, while that names the test service.
    std::vector<pid_t> ended;
    for (const std::string& events : events_) {
        for (const std::string& line : ReadEvents(events)) {
            if (line.rfind("pid ", 0) != 0)
                continue;
            const pid_t pid = static_cast<pid_t>(std::atoi(line.c_str() + 4));
            if (pid > 1 && IsProcessAlive(pid) &&
                platform::ProcessBaseName(static_cast<platform::ProcessId>(pid)) == u"velmora_service") {
                kill(pid, SIGKILL);
                ended.push_back(pid);
            }
        }
    }
    for (const pid_t pid : ended)
        WaitForProcessEnd(pid);
    unsetenv("VELMORA_SERVICE_DATABASE");
    unsetenv("VELMORA_SYSTEMD_UNIT_FOLDER");
}

std::string ServiceSandbox::NewEventsFile() {
    events_.push_back(folder_.File("events-" + std::to_string(events_.size())));
    return events_.back();
}

std::u16string ServiceSandbox::ServiceCommand(const std::string& name, const std::string& events,
                                              const std::string& behaviour) const {
    return U16("\"" + ToolPath("service") + "\" \"" + name + "\" \"" + events + "\" " + behaviour);
}

std::vector<std::string> ReadEvents(const std::string& path) {
    const std::string content = ReadFile(path);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = content.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(content.substr(start, end - start));
    return lines;
}

bool WaitForEvent(const std::string& path, const std::string& line) {
    return WaitUntil(
        [&] {
            const std::vector<std::string> events = ReadEvents(path);
            return std::find(events.begin(), events.end(), line) != events.end();
        },
        PATIENCE);
}

pid_t ServiceProcessId(const std::string& events) {
    pid_t pid = 0;
    WaitUntil(
        [&] {
            for (const std::string& line : ReadEvents(events)) {
                if (line.rfind("pid ", 0) == 0)
                    pid = static_cast<pid_t>(std::atoi(line.c_str() + 4));
            }
            return pid != 0;
        },
        PATIENCE);
    return pid;
}

bool IsProcessAlive(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t nameEnd = stat.rfind(')');
    return nameEnd != std::string::npos && nameEnd + 2 < stat.size() && stat[nameEnd + 2] != 'Z' &&
           stat[nameEnd + 2] != 'X';
}

bool WaitForProcessEnd(pid_t pid) {
    return WaitUntil([pid] { return !IsProcessAlive(pid); }, PATIENCE);
}

}  // namespace velmora::test
