// The list of virtual printers. Connection threads look queues up at any time while the configuration
// dialog edits the list, so readers work on an immutable snapshot and an edit publishes a whole new list:
// no reader ever sees a half-edited record.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "config/printer_setting.h"

namespace velmora {

using PrinterRecords = std::vector<CPrinterSetting>;

class CPrinterList {
  public:
    CPrinterList() : Current(std::make_shared<const PrinterRecords>()) {}

    // The list as it is now; it never changes afterwards.
    std::shared_ptr<const PrinterRecords> Snapshot() const {
        std::lock_guard<std::mutex> lock(Mutex);
        return Current;
    }
    // Publishes a new list (for example the dialog's edited copy).
    void Replace(PrinterRecords records) {
        auto next = std::make_shared<const PrinterRecords>(std::move(records));
        std::lock_guard<std::mutex> lock(Mutex);
        Current = std::move(next);
    }
    void Clear() { Replace({}); }

    // True when a virtual printer of that exact name exists; *hold tells whether its jobs start held.
    bool FindVirtualPrinter(const std::u16string& queueName, bool* hold) const {
        *hold = false;
        const std::shared_ptr<const PrinterRecords> records = Snapshot();
        for (const CPrinterSetting& record : *records) {
            if (record.Name == queueName) {
                *hold = record.HoldJobs == 1;
                return true;
            }
        }
        return false;
    }

  private:
    mutable std::mutex Mutex;
    std::shared_ptr<const PrinterRecords> Current;
};

}  // namespace velmora
