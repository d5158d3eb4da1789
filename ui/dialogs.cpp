#include "ui/dialogs.h"

namespace velmora::ui {

void OnServerConfiguration(QWidget*) {}
void OnPreferences(QWidget*) {}
void SendFileByLpr(QWidget*) {}
void CopyFileToPrinter(QWidget*) {}
bool RunTransferDialog(QWidget*, const CSpoolFile&, std::u16string*) {
    return false;
}

}  // namespace velmora::ui
