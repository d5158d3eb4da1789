// What every part of the server reports through: the log and, where there is one, the person at the screen.
#pragma once

#include <string>

#include "core/log_writer.h"
#include "core/user_interface.h"

namespace velmora {

class CReporter {
  public:
    CReporter(CLogWriter& log, CUserInterface& ui) : Log(log), Ui(ui) {}

    int ModeDigit() const { return Log.ModeDigit(); }
    void WriteLog(const std::u16string& message) { Log.WriteLog(message); }
    // A user-visible failure: a message box where one can be shown, a log line otherwise.
    void ShowMessage(const std::u16string& text, MessageIcon icon = MessageIcon::Error) {
        if (!Ui.ShowMessage(text, icon))
            Log.WriteLog(text);
    }
    // A message box where one can be shown; nothing otherwise.
    void ShowMessageBox(const std::u16string& text, MessageIcon icon = MessageIcon::Error) {
        Ui.ShowMessage(text, icon);
    }
    // A failure that is always logged and also shown where a box can be.
    void ReportFailure(const std::u16string& text) {
        Log.WriteLog(text);
        Ui.ShowMessage(text, MessageIcon::Error);
    }
    CUserInterface& UserInterface() const { return Ui; }

  private:
    CLogWriter& Log;
    CUserInterface& Ui;
};

}  // namespace velmora
