// The log lines of one LPD connection: "%d\tLPD (%d): ..." with the mode digit and the number of the thread
// that writes them. Detailed lines are written only at LogLevel 2.
#pragma once

#include <string_view>

#include "core/reporter.h"
#include "text/format.h"

namespace velmora {

struct CLpdLog {
    CReporter& Reporter;
    int Mode;
    int Thread;
    bool Detailed;

    template <typename... Args>
    void Log(std::u16string_view format, const Args&... args) const {
        Reporter.WriteLog(Format(format, Mode, Thread, args...));
    }
    template <typename... Args>
    void Trace(std::u16string_view format, const Args&... args) const {
        if (Detailed)
            Log(format, args...);
    }
};

}  // namespace velmora
