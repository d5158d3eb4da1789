// The "Copy print data stream to Windows printer" dialog: the printer that a file is sent to raw.
#pragma once

#include <QDialog>

#include <string>

class QComboBox;

namespace velmora::ui {

class CPrintWindows : public QDialog {
    Q_OBJECT

  public:
    explicit CPrintWindows(QWidget* parent = nullptr);
    // The printer chosen when the dialog ended with OK; empty when none was selected.
    const std::u16string& PrinterName() const { return PrinterNameField; }

  private:
    void accept() override;

    QComboBox* Printers = nullptr;
    std::u16string PrinterNameField;
};

// Sends the file unchanged to the printer chosen in the dialog, as a document named after the file;
// message 114 when that printer cannot be opened.
void CopyChosenFileToPrinter(QWidget* parent, const std::u16string& path);

}  // namespace velmora::ui
