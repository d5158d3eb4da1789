#include "ui/dialog_print_windows.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <optional>

#include "output/raw_printer.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "ui/dialog_util.h"

namespace velmora::ui {

CPrintWindows::CPrintWindows(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("CopyToPrinterDialog"));
    setWindowTitle(DialogText(IDS_DLG_COPY_TITLE));

    Printers = new QComboBox(this);
    Printers->setObjectName(QStringLiteral("PrinterList"));
    Printers->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Printers->setMinimumContentsLength(32);
    FillPrinterLists({Printers});

    auto* label = new QLabel(DialogText(IDS_DLG_COPY_PRINTER_LABEL), this);
    label->setBuddy(Printers);
    auto* row = new QHBoxLayout();
    row->addWidget(label);
    row->addWidget(Printers, 1);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CPrintWindows::accept() {
    PrinterNameField = Printers->currentIndex() >= 0 ? ToU16(Printers->currentText()) : std::u16string();
    QDialog::accept();
}

void CopyChosenFileToPrinter(QWidget* parent, const std::u16string& path) {
    CPrintWindows dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    // The window waits for the file to be handed to the printer.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool opened = RawPrintFile(dialog.PrinterName(), FileNameOf(path), path, std::nullopt);
    QApplication::restoreOverrideCursor();
    if (!opened)
        ShowMessageBox(parent, LoadString(IDS_PRINTER_NOT_FOUND), QMessageBox::Critical);
}

}  // namespace velmora::ui
