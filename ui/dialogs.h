// The desktop program's dialogs as the main window's commands open them.
#pragma once

#include <string>

class QWidget;

namespace velmora {
class CPrinterList;
class CSpoolFile;
class CVelmoraVirtualPrinterApp;
}  // namespace velmora

namespace velmora::ui {

// Command 32783 "&Configuration": the modal "Server configuration" dialog; Printer.cfg is written when it
// ends with Save.
void OnServerConfiguration(CVelmoraVirtualPrinterApp& app, QWidget* parent);
// Command 32786 "Preferences": the modal "Preferences" dialog.
void OnPreferences(CVelmoraVirtualPrinterApp& app, QWidget* parent);
// Command 32787 "&Send via LPR": a file selection, then the "Copy selected file via LPR" dialog.
void SendFileByLpr(QWidget* parent);
// Command 32788 "&Copy to printer": a file selection, then the "Copy print data stream to Windows printer"
// dialog.
void CopyFileToPrinter(QWidget* parent);
// The "Spooled file configuration" dialog of the Transfer command: true and the chosen virtual printer on OK.
bool RunTransferDialog(const CPrinterList& printers, QWidget* parent, const CSpoolFile& job,
                       std::u16string* printerName);

}  // namespace velmora::ui
