#include "ui/dialog_configure_server.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <utility>

#include "config/printer_setting.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"
#include "ui/dialog_ip_address.h"
#include "ui/dialog_util.h"

namespace velmora::ui {

namespace {

// The program text the dialog starts with, which a first virtual printer takes over: the platform's own
// print command.
#ifdef _WIN32
constexpr char16_t INITIAL_PROGRAM_COMMAND[] =
    uR"("C:\Program Files\Adobe\Reader 8.0\Reader\AcroRd32.exe" /t /h %1 %2 %3 %4)";
#else
const char16_t* const INITIAL_PROGRAM_COMMAND = DEFAULT_PROGRAM_COMMAND;
#endif

// Longest texts of the edits: with the printer names and numbers, a record's line stays well within the
// 4,096 bytes that a line of Printer.cfg may hold.
constexpr int NAME_LENGTH = 255;
constexpr int PROGRAM_LENGTH = 2048;
constexpr int SHORT_TEXT_LENGTH = 255;
constexpr int BIN_LENGTH = 64;
// Left margin of the controls that belong to an output mode, under its radio button.
constexpr int MODE_INDENT = 20;

QLabel* Label(uint32_t textId, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(DialogText(textId), parent);
    label->setBuddy(buddy);
    return label;
}

QLineEdit* Edit(const char* objectName, int maxLength, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(objectName));
    edit->setMaxLength(maxLength);
    return edit;
}

QComboBox* DropDownList(const char* objectName, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(objectName));
    list->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    list->setMinimumContentsLength(24);
    return list;
}

// A label's text as a message names it: without its closing colon.
std::u16string LabelName(const QLabel* label) {
    QString text = label->text().trimmed();
    while (text.endsWith(u':') || text.endsWith(u'\uFF1A') || text.endsWith(u' '))
        text.chop(1);
    return ToU16(text);
}

QString SelectedText(const QComboBox* list) {
    return list->currentIndex() >= 0 ? list->currentText() : QString();
}

// Selects the entry equal to the text without regard to letter case, or nothing.
void SelectText(QComboBox* list, const QString& text) {
    const QSignalBlocker blocker(list);
    list->setCurrentIndex(text.isEmpty() ? -1 : list->findText(text, Qt::MatchFixedString));
}

}  // namespace

CDialogConfigureServeur::CDialogConfigureServeur(CPrinterList& printerList, QWidget* parent)
    : QDialog(parent), PrinterList(printerList), EditedRecords(*printerList.Snapshot()) {
    setObjectName(QStringLiteral("ServerConfigurationDialog"));
    setWindowTitle(DialogText(IDS_DLG_SERVER_TITLE));
    CreateControls();

    // The initial values, which a first virtual printer takes over.
    OutputModeField->button(OUTPUT_LOCAL_PRINTER)->setChecked(true);
    Program->setText(ToQString(INITIAL_PROGRAM_COMMAND));
    FillPrinterLists({LocalPrinterField, ProgramPrinterField});
    {
        const QSignalBlocker blocker(PrinterNames);
        for (const CPrinterSetting& record : EditedRecords)
            PrinterNames->addItem(ToQString(record.Name));
        PrinterNames->setCurrentIndex(EditedRecords.empty() ? -1 : 0);
    }
    LoadSelection();
    StoreSelection(false);
}

void CDialogConfigureServeur::CreateControls() {
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout();
    PrinterNames = DropDownList("PrinterNameList", this);
    NewButton = new QPushButton(DialogText(IDS_DLG_SERVER_NEW), this);
    NewButton->setObjectName(QStringLiteral("NewButton"));
    NewButton->setAutoDefault(false);
    DeleteButton = new QPushButton(DialogText(IDS_DLG_SERVER_DELETE), this);
    DeleteButton->setObjectName(QStringLiteral("DeleteButton"));
    DeleteButton->setAutoDefault(false);
    top->addWidget(Label(IDS_DLG_SERVER_NAME_LABEL, PrinterNames, this));
    top->addWidget(PrinterNames, 1);
    top->addWidget(NewButton);
    top->addWidget(DeleteButton);
    layout->addLayout(top);

    auto* group = new QGroupBox(DialogText(IDS_DLG_SERVER_SETTINGS_GROUP), this);
    auto* grid = new QGridLayout(group);
    grid->setColumnMinimumWidth(0, MODE_INDENT);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(4, 1);
    OutputModeField = new QButtonGroup(this);
    auto addMode = [&](OutputMode mode, uint32_t textId, const char* objectName, int row) {
        auto* radio = new QRadioButton(DialogText(textId), group);
        radio->setObjectName(QString::fromLatin1(objectName));
        OutputModeField->addButton(radio, mode);
        grid->addWidget(radio, row, 0, 1, 5);
    };

    addMode(OUTPUT_LOCAL_PRINTER, IDS_DLG_SERVER_LOCAL_MODE, "LocalModeRadio", 0);
    LocalPrinterField = DropDownList("LocalPrinterList", group);
    InputBinField = Edit("InputBinEdit", BIN_LENGTH, group);
    OutputBinField = Edit("OutputBinEdit", BIN_LENGTH, group);
    QLabel* localPrinterLabel = Label(IDS_DLG_SERVER_LOCAL_PRINTER_LABEL, LocalPrinterField, group);
    QLabel* inputBinLabel = Label(IDS_DLG_SERVER_INPUT_BIN_LABEL, InputBinField, group);
    QLabel* outputBinLabel = Label(IDS_DLG_SERVER_OUTPUT_BIN_LABEL, OutputBinField, group);
    grid->addWidget(localPrinterLabel, 1, 1);
    grid->addWidget(LocalPrinterField, 1, 2, 1, 3);
    grid->addWidget(inputBinLabel, 2, 1);
    grid->addWidget(InputBinField, 2, 2);
    grid->addWidget(outputBinLabel, 2, 3);
    grid->addWidget(OutputBinField, 2, 4);

    addMode(OUTPUT_PROGRAM, IDS_DLG_SERVER_PROGRAM_MODE, "ProgramModeRadio", 3);
    ProgramPrinterField = DropDownList("ProgramPrinterList", group);
    Program = Edit("ProgramEdit", PROGRAM_LENGTH, group);
    Program->setMinimumWidth(Program->fontMetrics().horizontalAdvance(ToQString(INITIAL_PROGRAM_COMMAND)) +
                             16);
    Parameters = new QPushButton(DialogText(IDS_DLG_SERVER_PARAMETERS), group);
    Parameters->setObjectName(QStringLiteral("ParametersButton"));
    Parameters->setAutoDefault(false);
    Parameters->setFixedWidth(Parameters->fontMetrics().horizontalAdvance(QStringLiteral("???")) + 16);
    QLabel* programPrinterLabel = Label(IDS_DLG_SERVER_PROGRAM_PRINTER_LABEL, ProgramPrinterField, group);
    QLabel* programLabel = Label(IDS_DLG_SERVER_PROGRAM_LABEL, Program, group);
    grid->addWidget(programPrinterLabel, 4, 1);
    grid->addWidget(ProgramPrinterField, 4, 2, 1, 3);
    grid->addWidget(programLabel, 5, 1);
    auto* programRow = new QHBoxLayout();
    programRow->addWidget(Program, 1);
    programRow->addWidget(Parameters);
    grid->addLayout(programRow, 5, 2, 1, 3);

    addMode(OUTPUT_LPD, IDS_DLG_SERVER_LPD_MODE, "LpdModeRadio", 6);
    IpAddress = new CIpAddressEdit(group);
    IpAddress->setObjectName(QStringLiteral("IpAddressControl"));
    QueueNameField = Edit("QueueNameEdit", SHORT_TEXT_LENGTH, group);
    QLabel* ipAddressLabel = Label(IDS_DLG_SERVER_IP_ADDRESS_LABEL, IpAddress, group);
    QLabel* queueNameLabel = Label(IDS_DLG_SERVER_QUEUE_LABEL, QueueNameField, group);
    grid->addWidget(ipAddressLabel, 7, 1);
    grid->addWidget(IpAddress, 7, 2);
    grid->addWidget(queueNameLabel, 7, 3);
    grid->addWidget(QueueNameField, 7, 4);

    HoldJobsField = new QCheckBox(DialogText(IDS_DLG_SERVER_HOLD_JOBS), group);
    HoldJobsField->setObjectName(QStringLiteral("HoldJobsCheck"));
    grid->addWidget(HoldJobsField, 8, 0, 1, 5);
    // Carried through the dialog but never shown: nothing in the system reads the status port.
    StatusPortField = Edit("StatusPortEdit", SHORT_TEXT_LENGTH, group);
    QLabel* statusPortLabel = Label(IDS_DLG_SERVER_STATUS_PORT_LABEL, StatusPortField, group);
    statusPortLabel->hide();
    StatusPortField->hide();
    layout->addWidget(group);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* save = AddButton(buttons, IDS_DLG_SERVER_SAVE, "SaveButton", true);
    save->setDefault(true);
    AddButton(buttons, IDS_DLG_CANCEL, "CancelButton", false);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    auto editText = [](QLineEdit* edit) {
        return std::make_pair([edit] { return edit->text(); },
                              [edit](const QString& text) { edit->setText(text); });
    };
    auto listText = [](QComboBox* list) {
        return std::make_pair([list] { return SelectedText(list); },
                              [list](const QString& text) { SelectText(list, text); });
    };
    auto add = [this](std::u16string CPrinterSetting::*field, QLabel* label, auto accessors) {
        StoredTexts.push_back({field, label, accessors.first, accessors.second});
    };
    add(&CPrinterSetting::ProgramCommand, programLabel, editText(Program));
    add(&CPrinterSetting::ProgramPrinter, programPrinterLabel, listText(ProgramPrinterField));
    add(&CPrinterSetting::StatusPort, statusPortLabel, editText(StatusPortField));
    add(&CPrinterSetting::LocalPrinter, localPrinterLabel, listText(LocalPrinterField));
    add(&CPrinterSetting::IPAddress, ipAddressLabel,
        std::make_pair([this] { return IpAddress->Text(); },
                       [this](const QString& text) { IpAddress->SetText(text); }));
    add(&CPrinterSetting::QueueName, queueNameLabel, editText(QueueNameField));
    add(&CPrinterSetting::InputBin, inputBinLabel, editText(InputBinField));
    add(&CPrinterSetting::OutputBin, outputBinLabel, editText(OutputBinField));

    connect(PrinterNames, &QComboBox::currentIndexChanged, this, [this] { LoadSelection(); });
    connect(NewButton, &QPushButton::clicked, this, [this] { NewPrinter(); });
    connect(DeleteButton, &QPushButton::clicked, this, [this] { DeletePrinter(); });
    connect(Parameters, &QPushButton::clicked, this, [this] { ShowParameters(); });
    connect(OutputModeField, &QButtonGroup::idClicked, this, [this] { StoreSelection(); });
    connect(LocalPrinterField, &QComboBox::currentIndexChanged, this, [this] { StoreSelection(); });
    connect(ProgramPrinterField, &QComboBox::currentIndexChanged, this, [this] { StoreSelection(); });
    for (QLineEdit* edit : {Program, StatusPortField, QueueNameField, InputBinField, OutputBinField})
        connect(edit, &QLineEdit::editingFinished, this, [this] { StoreSelection(); });
    connect(HoldJobsField, &QCheckBox::clicked, this, [this] { StoreSelection(); });
    connect(IpAddress, &CIpAddressEdit::FieldChanged, this, [this] { StoreSelection(); });
}

void CDialogConfigureServeur::LoadSelection() {
    const int selected = PrinterNames->currentIndex();
    if (selected >= 0 && selected < static_cast<int>(EditedRecords.size())) {
        const CPrinterSetting& record = EditedRecords[selected];
        // Another mode leaves the radio buttons as they are.
        if (QAbstractButton* radio = OutputModeField->button(record.OutputMode))
            radio->setChecked(true);
        for (const CStoredText& text : StoredTexts)
            text.Show(ToQString(record.*text.Field));
        HoldJobsField->setChecked(record.HoldJobs == 1);
    }
    StoreSelection();
}

void CDialogConfigureServeur::StoreSelection(bool store) {
    const int selected = PrinterNames->currentIndex();
    const bool hasSelection = selected >= 0 && selected < static_cast<int>(EditedRecords.size());
    const int mode = OutputModeField->checkedId();

    for (QAbstractButton* radio : OutputModeField->buttons())
        radio->setEnabled(hasSelection);
    PrinterNames->setEnabled(hasSelection);
    DeleteButton->setEnabled(hasSelection);
    HoldJobsField->setEnabled(hasSelection);
    StatusPortField->setEnabled(hasSelection);
    for (QWidget* control : {static_cast<QWidget*>(LocalPrinterField), static_cast<QWidget*>(InputBinField),
                             static_cast<QWidget*>(OutputBinField)})
        control->setEnabled(hasSelection && mode == OUTPUT_LOCAL_PRINTER);
    for (QWidget* control : {static_cast<QWidget*>(ProgramPrinterField), static_cast<QWidget*>(Program),
                             static_cast<QWidget*>(Parameters)})
        control->setEnabled(hasSelection && mode == OUTPUT_PROGRAM);
    IpAddress->setEnabled(hasSelection && mode == OUTPUT_LPD);
    QueueNameField->setEnabled(hasSelection && mode == OUTPUT_LPD);

    if (!hasSelection || !store)
        return;
    CPrinterSetting& record = EditedRecords[selected];
    std::vector<std::u16string> refused;
    for (const CStoredText& text : StoredTexts) {
        const std::u16string value = ToU16(text.Read());
        if (IsStorableValue(value)) {
            record.*text.Field = value;
        } else {
            text.Show(ToQString(record.*text.Field));
            refused.push_back(LabelName(text.Label));
        }
    }
    record.OutputMode = mode;
    record.HoldJobs = HoldJobsField->isChecked() ? 1 : 0;
    Publish();
    for (const std::u16string& label : refused)
        ShowMessageBox(this, Format(LoadString(IDS_DLG_VALUE_NOT_STORABLE), label), QMessageBox::Warning);
}

void CDialogConfigureServeur::NewPrinter() {
    CConfigurationPrinter dialog(this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::u16string& name = dialog.Name();
    if (name.empty()) {
        ShowMessageBox(this, LoadString(IDS_PRINTER_NAME_BLANK), QMessageBox::Warning);
        return;
    }
    if (!IsStorableValue(name)) {
        ShowMessageBox(this, LoadString(IDS_DLG_NAME_NOT_STORABLE), QMessageBox::Warning);
        return;
    }
    bool exists = false;
    for (const CPrinterSetting& record : EditedRecords) {
        if (record.Name == name) {
            ShowMessageBox(this, LoadString(IDS_PRINTER_EXISTS), QMessageBox::Warning);
            exists = true;
        }
    }
    if (exists)
        return;

    CPrinterSetting record;
    record.Name = name;
    EditedRecords.push_back(std::move(record));
    {
        const QSignalBlocker blocker(PrinterNames);
        PrinterNames->addItem(ToQString(name));
        PrinterNames->setCurrentIndex(PrinterNames->count() - 1);
    }
    // The new virtual printer takes what the controls show now; they are not reloaded.
    StoreSelection();
}

void CDialogConfigureServeur::DeletePrinter() {
    const int selected = PrinterNames->currentIndex();
    if (selected < 0 || selected >= static_cast<int>(EditedRecords.size()))
        return;
    EditedRecords.erase(EditedRecords.begin() + selected);
    {
        const QSignalBlocker blocker(PrinterNames);
        PrinterNames->removeItem(selected);
        PrinterNames->setCurrentIndex(PrinterNames->count() > 0 ? 0 : -1);
    }
    Publish();
    LoadSelection();
    StoreSelection(false);
}

void CDialogConfigureServeur::ShowParameters() {
    struct CParameter {
        const char16_t* Marker;
        uint32_t Label;
    };
    // A null marker is an empty line between the printer's parameters and the job's.
    static constexpr CParameter PARAMETERS[] = {
        {u"%1", IDS_PARAM_LOCAL_FILE},
        {u"%2", IDS_PARAM_PRINTER_NAME},
        {u"%3", IDS_PARAM_DRIVER_NAME},
        {u"%4", IDS_PARAM_PORT_NAME},
        {nullptr, 0},
        {u"%5", IDS_PARAM_DOCUMENT_NAME},
        {u"%6", IDS_PARAM_OWNER},
        {u"%7", IDS_PARAM_DATE_INSERTED},
        {u"%8", IDS_PARAM_FILE_SIZE},
        {u"%9", IDS_PARAM_FILE_TYPE},
        {u"%A", IDS_PARAM_SOURCE_HOST},
        {u"%B", IDS_PARAM_JOB_NAME},
        {u"%C", IDS_PARAM_JOB_CLASS},
    };
    std::u16string text = LoadString(IDS_PARAMETER_LIST) + u"\n";
    for (const CParameter& parameter : PARAMETERS) {
        text += u"\n";
        if (parameter.Marker)
            text += Format(u"%s : %s", parameter.Marker, LoadString(parameter.Label));
    }
    ShowMessageBox(this, text, QMessageBox::Information);
}

void CDialogConfigureServeur::Publish() {
    PrinterList.Replace(EditedRecords);
}

CConfigurationPrinter::CConfigurationPrinter(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PrinterConfigurationDialog"));
    setWindowTitle(DialogText(IDS_DLG_NEW_PRINTER_TITLE));
    NameEdit = Edit("NewPrinterNameEdit", NAME_LENGTH, this);
    NameEdit->setMinimumWidth(NameEdit->fontMetrics().averageCharWidth() * 32);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    row->addWidget(Label(IDS_DLG_NEW_PRINTER_NAME_LABEL, NameEdit, this));
    row->addWidget(NameEdit, 1);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CConfigurationPrinter::accept() {
    NameField = ToU16(NameEdit->text());
    QDialog::accept();
}

}  // namespace velmora::ui
