#include "ui/dialogs.h"

#include "core/app.h"
#include "ui/dialog_configure_server.h"

namespace velmora::ui {

void OnServerConfiguration(QWidget* parent) {
    CVelmoraVirtualPrinterApp& app = App();
    CDialogConfigureServeur dialog(app.PrinterList, parent);
    // Cancel keeps the edits in memory; they reach the file at the next Save.
    if (dialog.exec() == QDialog::Accepted)
        app.SavePrinterConfig();
}

void OnPreferences(QWidget*) {}
void SendFileByLpr(QWidget*) {}
void CopyFileToPrinter(QWidget*) {}
bool RunTransferDialog(QWidget*, const CSpoolFile&, std::u16string*) {
    return false;
}

}  // namespace velmora::ui
