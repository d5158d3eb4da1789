// The "Server configuration" dialog, where virtual printers are created, edited and deleted, and the small
// "Printer configuration" dialog that asks for the name of a new one.
#pragma once

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

#include "config/printer_list.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora::ui {

class CIpAddressEdit;

// Works on a copy of the virtual printers: every change a control reports goes at once into the selected
// record, and the edited list is published whole to the printer list, where the LPD server sees it. The
// caller writes Printer.cfg when the dialog ends with Save (accepted).
class CDialogConfigureServeur : public QDialog {
    Q_OBJECT

  public:
    explicit CDialogConfigureServeur(CPrinterList& printerList, QWidget* parent = nullptr);

    // The virtual printers as the dialog has left them.
    const PrinterRecords& Records() const { return EditedRecords; }

  private:
    // A text of the selected record and the control that shows it.
    struct CStoredText {
        std::u16string CPrinterSetting::*Field;
        QLabel* Label;
        std::function<QString()> Read;
        std::function<void(const QString&)> Show;
    };

    void CreateControls();
    // Shows the selected record in the controls, then stores them back into it.
    void LoadSelection();
    // Enables the controls for the selection and its output mode; with store, also writes the controls into
    // the selected record. A text that Printer.cfg cannot hold is refused: the record keeps its value and
    // the control shows it again.
    void StoreSelection(bool store = true);
    void NewPrinter();
    void DeletePrinter();
    void ShowParameters();
    void Publish();

    CPrinterList& PrinterList;
    PrinterRecords EditedRecords;

    QComboBox* PrinterNames = nullptr;
    QPushButton* NewButton = nullptr;
    QPushButton* DeleteButton = nullptr;
    QButtonGroup* OutputModeField = nullptr;
    QComboBox* LocalPrinterField = nullptr;
    QLineEdit* InputBinField = nullptr;
    QLineEdit* OutputBinField = nullptr;
    QComboBox* ProgramPrinterField = nullptr;
    QLineEdit* Program = nullptr;
    QPushButton* Parameters = nullptr;
    CIpAddressEdit* IpAddress = nullptr;
    QLineEdit* QueueNameField = nullptr;
    QCheckBox* HoldJobsField = nullptr;
    QLineEdit* StatusPortField = nullptr;
    std::vector<CStoredText> StoredTexts;
};

// Asks for the name of a new virtual printer.
class CConfigurationPrinter : public QDialog {
    Q_OBJECT

  public:
    explicit CConfigurationPrinter(QWidget* parent = nullptr);
    // The name entered, as OK left it (empty until then).
    const std::u16string& Name() const { return NameField; }

  private:
    void accept() override;

    QLineEdit* NameEdit = nullptr;
    std::u16string NameField;
};

}  // namespace velmora::ui
