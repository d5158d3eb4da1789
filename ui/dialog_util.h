// What the dialogs share: their texts, message boxes, the printer lists and the choice of a file.
#pragma once

#include <QMessageBox>
#include <QString>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

class QComboBox;
class QDialog;
class QDialogButtonBox;
class QPushButton;
class QWidget;

namespace velmora::ui {

QString ToQString(const std::u16string& text);
std::u16string ToU16(const QString& text);
// The string table's text in the calling thread's language.
QString DialogText(uint32_t id);

// A modal message box with the application's title as caption and an OK button.
void ShowMessageBox(QWidget* parent, const std::u16string& text, QMessageBox::Icon icon);

// Adds the names in the order of a sorted list control (alphabetical, letter case ignored, then exact).
void AddSorted(QComboBox* list, std::vector<std::u16string> names);
// Fills each list with the printers of this machine, sorted, and selects the default printer in each
// (exact name). Lists stay empty when no printer can be listed.
void FillPrinterLists(std::initializer_list<QComboBox*> lists);

// A button of the box with a text of the string table and the object name tests look for.
QPushButton* AddButton(QDialogButtonBox* box, uint32_t textId, const char* objectName, bool accepts);
// The dialog's OK (the default button) and Cancel buttons, accepting and rejecting it.
QDialogButtonBox* OkCancelButtons(QDialog* dialog);

// The system's open-file dialog: an existing file of any type. Its full path, or empty when none was
// chosen.
std::u16string ChooseExistingFile(QWidget* parent);
// The file's name without its folder.
std::u16string FileNameOf(const std::u16string& path);

}  // namespace velmora::ui
