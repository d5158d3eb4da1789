// The log: one text file per weekday in Logs/, one line per call, opened and closed for every line.
#pragma once

#include <mutex>
#include <string>

namespace velmora {

class CLogWriter {
  public:
    // The mode digit that starts every message: 0 desktop, 1 service.
    int ModeDigit() const { return ServiceMode ? 1 : 0; }
    void SetServiceMode(bool serviceMode) { ServiceMode = serviceMode; }

    // Chooses today's file in the folder (ending with the path separator), first setting aside a file of
    // the same weekday that was last written on another day. Lines are dropped until it is called.
    void OpenFolder(const std::u16string& folder);
    std::u16string FilePath() const;
    // Writes to this file instead (tests).
    void SetFilePath(const std::u16string& path);

    // Appends one line: the local date and time, the message and CR LF, in code page 1252 bytes.
    void WriteLog(std::u16string message);

  private:
    bool ServiceMode = false;
    // LogLock: innermost of all locks; guards the path and the file.
    mutable std::mutex LogLock;
    std::u16string LogFilePath;
};

}  // namespace velmora
