#include "ui/dialog_util.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QPushButton>
#include <QSignalBlocker>

#include <algorithm>

#include "platform/print_spooler.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"

namespace velmora::ui {

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

std::u16string ToU16(const QString& text) {
    return text.toStdU16String();
}

QString DialogText(uint32_t id) {
    return ToQString(LoadString(id));
}

void ShowMessageBox(QWidget* parent, const std::u16string& text, QMessageBox::Icon icon) {
    QMessageBox box(icon, DialogText(IDS_APP_TITLE), ToQString(text), QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("MessageBox"));
    box.addButton(DialogText(IDS_DLG_OK), QMessageBox::AcceptRole);
    box.exec();
}

void AddSorted(QComboBox* list, std::vector<std::u16string> names) {
    std::stable_sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
        const int folded = QString::compare(ToQString(a), ToQString(b), Qt::CaseInsensitive);
        return folded != 0 ? folded < 0 : a < b;
    });
    for (const std::u16string& name : names)
        list->addItem(ToQString(name));
}

void FillPrinterLists(std::initializer_list<QComboBox*> lists) {
    const std::u16string defaultPrinter = platform::DefaultPrinter();
    const std::vector<std::u16string> printers = platform::EnumeratePrinters();
    for (QComboBox* list : lists) {
        const QSignalBlocker blocker(list);
        AddSorted(list, printers);
        list->setCurrentIndex(
            defaultPrinter.empty()
                ? -1
                : list->findText(ToQString(defaultPrinter), Qt::MatchExactly | Qt::MatchCaseSensitive));
    }
}

QPushButton* AddButton(QDialogButtonBox* box, uint32_t textId, const char* objectName, bool accepts) {
    QPushButton* button = box->addButton(
        DialogText(textId), accepts ? QDialogButtonBox::AcceptRole : QDialogButtonBox::RejectRole);
    button->setObjectName(QString::fromLatin1(objectName));
    return button;
}

QDialogButtonBox* OkCancelButtons(QDialog* dialog) {
    auto* buttons = new QDialogButtonBox(dialog);
    AddButton(buttons, IDS_DLG_OK, "OkButton", true)->setDefault(true);
    AddButton(buttons, IDS_DLG_CANCEL, "CancelButton", false);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

std::u16string ChooseExistingFile(QWidget* parent) {
    QFileDialog dialog(parent, DialogText(IDS_DLG_OPEN_FILE_TITLE));
    dialog.setObjectName(QStringLiteral("OpenFileDialog"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return ToU16(dialog.selectedFiles().first());
}

std::u16string FileNameOf(const std::u16string& path) {
    return ToU16(QFileInfo(ToQString(path)).fileName());
}

}  // namespace velmora::ui
