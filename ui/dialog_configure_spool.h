// The "Spooled file configuration" dialog of the Transfer command: moves one job to another virtual
// printer.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

#include "config/printer_list.h"

class QComboBox;

namespace velmora {
class CSpoolFile;
}

namespace velmora::ui {

class CDialogConfigureSpool : public QDialog {
    Q_OBJECT

  public:
    CDialogConfigureSpool(const PrinterRecords& printers, const CSpoolFile& job, QWidget* parent = nullptr);

    // The virtual printer chosen when the dialog ended with OK; empty when none was selected.
    const std::u16string& PrinterName() const { return PrinterNameField; }

    // The job's fields as the dialog lists them, one value per line.
    static std::vector<std::u16string> InformationLines(const CSpoolFile& job);

  private:
    void accept() override;

    QComboBox* Printers = nullptr;
    std::u16string PrinterNameField;
};

}  // namespace velmora::ui
