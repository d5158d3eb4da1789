#include "ui/dialog_configure_spool.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "resources/dialog_string_ids.h"
#include "spool/spool_file.h"
#include "ui/dialog_util.h"

namespace velmora::ui {

CDialogConfigureSpool::CDialogConfigureSpool(const PrinterRecords& printers, const CSpoolFile& job,
                                             QWidget* parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("SpooledFileConfigurationDialog"));
    setWindowTitle(DialogText(IDS_DLG_SPOOL_TITLE));

    Printers = new QComboBox(this);
    Printers->setObjectName(QStringLiteral("PrinterList"));
    std::vector<std::u16string> names;
    for (const CPrinterSetting& printer : printers)
        names.push_back(printer.Name);
    AddSorted(Printers, names);
    Printers->setCurrentIndex(
        Printers->findText(ToQString(job.PrinterName), Qt::MatchExactly | Qt::MatchCaseSensitive));

    auto* information = new QListWidget(this);
    information->setObjectName(QStringLiteral("InformationList"));
    for (const std::u16string& line : InformationLines(job))
        information->addItem(ToQString(line));
    // Every line in view, and the long paths as far as a reasonable width allows.
    const int averageChar = information->fontMetrics().averageCharWidth();
    const int frame = 2 * information->frameWidth();
    information->setMinimumSize(
        std::clamp(information->sizeHintForColumn(0) + frame + 4, 60 * averageChar, 100 * averageChar),
        information->sizeHintForRow(0) * information->count() + frame + 4);

    auto* label = new QLabel(DialogText(IDS_DLG_SPOOL_PRINTER_LABEL), this);
    label->setBuddy(Printers);
    auto* top = new QHBoxLayout();
    top->addWidget(label);
    top->addWidget(Printers, 1);

    auto* group = new QGroupBox(DialogText(IDS_DLG_SPOOL_INFORMATION_GROUP), this);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(information);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(group, 1);
    layout->addWidget(buttons);
}

std::vector<std::u16string> CDialogConfigureSpool::InformationLines(const CSpoolFile& job) {
    return {job.DocumentName, job.StateText,   job.Owner,         job.DateInserted,     job.FileSize,
            job.FileType,     job.PrinterName, job.LocalFileName, job.ReceivedFileName, job.SourceHost,
            job.ControlFile,  job.JobName,     job.JobClass,      job.ErrorText};
}

void CDialogConfigureSpool::accept() {
    PrinterNameField = Printers->currentIndex() >= 0 ? ToU16(Printers->currentText()) : std::u16string();
    QDialog::accept();
}

}  // namespace velmora::ui
