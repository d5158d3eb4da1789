#include "ui/dialogs.h"

#include "app/app.h"
#include "ui/dialog_configure_server.h"
#include "ui/dialog_configure_spool.h"
#include "ui/dialog_preferences.h"
#include "ui/dialog_print_windows.h"
#include "ui/dialog_printer_lpr.h"
#include "ui/dialog_util.h"

namespace velmora::ui {

void OnServerConfiguration(CVelmoraVirtualPrinterApp& app, QWidget* parent) {
    CDialogConfigureServeur dialog(app.PrinterList, parent);
    // Cancel keeps the edits in memory; they reach the file at the next Save.
    if (dialog.exec() == QDialog::Accepted)
        app.SavePrinterConfig();
}

void OnPreferences(CVelmoraVirtualPrinterApp& app, QWidget* parent) {
    CPreferenceApplication dialog(app, parent);
    dialog.exec();
}

void SendFileByLpr(QWidget* parent) {
    SendFileByLprToPort(parent, LPR_PORT);
}

void CopyFileToPrinter(QWidget* parent) {
    const std::u16string path = ChooseExistingFile(parent);
    if (!path.empty())
        CopyChosenFileToPrinter(parent, path);
}

bool RunTransferDialog(const CPrinterList& printers, QWidget* parent, const CSpoolFile& job,
                       std::u16string* printerName) {
    CDialogConfigureSpool dialog(*printers.Snapshot(), job, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *printerName = dialog.PrinterName();
    return true;
}

}  // namespace velmora::ui
