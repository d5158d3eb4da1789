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
constexpr char16_t kInitialProgramCommand[] =
    uR"("C:\Program Files\Adobe\Reader 8.0\Reader\AcroRd32.exe" /t /h %1 %2 %3 %4)";
#else
const char16_t* const kInitialProgramCommand = kDefaultProgramCommand;
#endif

// Longest texts of the edits: with the printer names and numbers, a record's line stays well within the
// 4,096 bytes that a line of Printer.cfg may hold.
constexpr int kNameLength = 255;
constexpr int kProgramLength = 2048;
constexpr int kShortTextLength = 255;
constexpr int kBinLength = 64;
// Left margin of the controls that belong to an output mode, under its radio button.
constexpr int kModeIndent = 20;

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

bool IsStorableValue(const std::u16string& value) {
    return value.find_first_of(u";\r\n") == std::u16string::npos;
}

CDialogConfigureServeur::CDialogConfigureServeur(CPrinterList& printerList, QWidget* parent)
    : QDialog(parent), printerList_(printerList), records_(*printerList.Snapshot()) {
    setObjectName(QStringLiteral("ServerConfigurationDialog"));
    setWindowTitle(DialogText(IDS_DLG_SERVER_TITLE));
    CreateControls();

    // The initial values, which a first virtual printer takes over.
    outputMode_->button(OUTPUT_LOCAL_PRINTER)->setChecked(true);
    program_->setText(ToQString(kInitialProgramCommand));
    FillPrinterLists({localPrinter_, programPrinter_});
    {
        const QSignalBlocker blocker(printerNames_);
        for (const CPrinterSetting& record : records_)
            printerNames_->addItem(ToQString(record.Name));
        printerNames_->setCurrentIndex(records_.empty() ? -1 : 0);
    }
    LoadSelection();
    StoreSelection(false);
}

void CDialogConfigureServeur::CreateControls() {
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout();
    printerNames_ = DropDownList("PrinterNameList", this);
    newButton_ = new QPushButton(DialogText(IDS_DLG_SERVER_NEW), this);
    newButton_->setObjectName(QStringLiteral("NewButton"));
    newButton_->setAutoDefault(false);
    deleteButton_ = new QPushButton(DialogText(IDS_DLG_SERVER_DELETE), this);
    deleteButton_->setObjectName(QStringLiteral("DeleteButton"));
    deleteButton_->setAutoDefault(false);
    top->addWidget(Label(IDS_DLG_SERVER_NAME_LABEL, printerNames_, this));
    top->addWidget(printerNames_, 1);
    top->addWidget(newButton_);
    top->addWidget(deleteButton_);
    layout->addLayout(top);

    auto* group = new QGroupBox(DialogText(IDS_DLG_SERVER_SETTINGS_GROUP), this);
    auto* grid = new QGridLayout(group);
    grid->setColumnMinimumWidth(0, kModeIndent);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(4, 1);
    outputMode_ = new QButtonGroup(this);
    auto addMode = [&](OutputMode mode, uint32_t textId, const char* objectName, int row) {
        auto* radio = new QRadioButton(DialogText(textId), group);
        radio->setObjectName(QString::fromLatin1(objectName));
        outputMode_->addButton(radio, mode);
        grid->addWidget(radio, row, 0, 1, 5);
    };

    addMode(OUTPUT_LOCAL_PRINTER, IDS_DLG_SERVER_LOCAL_MODE, "LocalModeRadio", 0);
    localPrinter_ = DropDownList("LocalPrinterList", group);
    inputBin_ = Edit("InputBinEdit", kBinLength, group);
    outputBin_ = Edit("OutputBinEdit", kBinLength, group);
    QLabel* localPrinterLabel = Label(IDS_DLG_SERVER_LOCAL_PRINTER_LABEL, localPrinter_, group);
    QLabel* inputBinLabel = Label(IDS_DLG_SERVER_INPUT_BIN_LABEL, inputBin_, group);
    QLabel* outputBinLabel = Label(IDS_DLG_SERVER_OUTPUT_BIN_LABEL, outputBin_, group);
    grid->addWidget(localPrinterLabel, 1, 1);
    grid->addWidget(localPrinter_, 1, 2, 1, 3);
    grid->addWidget(inputBinLabel, 2, 1);
    grid->addWidget(inputBin_, 2, 2);
    grid->addWidget(outputBinLabel, 2, 3);
    grid->addWidget(outputBin_, 2, 4);

    addMode(OUTPUT_PROGRAM, IDS_DLG_SERVER_PROGRAM_MODE, "ProgramModeRadio", 3);
    programPrinter_ = DropDownList("ProgramPrinterList", group);
    program_ = Edit("ProgramEdit", kProgramLength, group);
    program_->setMinimumWidth(program_->fontMetrics().horizontalAdvance(ToQString(kInitialProgramCommand)) +
                              16);
    parameters_ = new QPushButton(DialogText(IDS_DLG_SERVER_PARAMETERS), group);
    parameters_->setObjectName(QStringLiteral("ParametersButton"));
    parameters_->setAutoDefault(false);
    parameters_->setFixedWidth(parameters_->fontMetrics().horizontalAdvance(QStringLiteral("???")) + 16);
    QLabel* programPrinterLabel = Label(IDS_DLG_SERVER_PROGRAM_PRINTER_LABEL, programPrinter_, group);
    QLabel* programLabel = Label(IDS_DLG_SERVER_PROGRAM_LABEL, program_, group);
    grid->addWidget(programPrinterLabel, 4, 1);
    grid->addWidget(programPrinter_, 4, 2, 1, 3);
    grid->addWidget(programLabel, 5, 1);
    auto* programRow = new QHBoxLayout();
    programRow->addWidget(program_, 1);
    programRow->addWidget(parameters_);
    grid->addLayout(programRow, 5, 2, 1, 3);

    addMode(OUTPUT_LPD, IDS_DLG_SERVER_LPD_MODE, "LpdModeRadio", 6);
    ipAddress_ = new CIpAddressEdit(group);
    ipAddress_->setObjectName(QStringLiteral("IpAddressControl"));
    queueName_ = Edit("QueueNameEdit", kShortTextLength, group);
    QLabel* ipAddressLabel = Label(IDS_DLG_SERVER_IP_ADDRESS_LABEL, ipAddress_, group);
    QLabel* queueNameLabel = Label(IDS_DLG_SERVER_QUEUE_LABEL, queueName_, group);
    grid->addWidget(ipAddressLabel, 7, 1);
    grid->addWidget(ipAddress_, 7, 2);
    grid->addWidget(queueNameLabel, 7, 3);
    grid->addWidget(queueName_, 7, 4);

    holdJobs_ = new QCheckBox(DialogText(IDS_DLG_SERVER_HOLD_JOBS), group);
    holdJobs_->setObjectName(QStringLiteral("HoldJobsCheck"));
    grid->addWidget(holdJobs_, 8, 0, 1, 5);
    // Carried through the dialog but never shown: nothing in the system reads the status port.
    statusPort_ = Edit("StatusPortEdit", kShortTextLength, group);
    QLabel* statusPortLabel = Label(IDS_DLG_SERVER_STATUS_PORT_LABEL, statusPort_, group);
    statusPortLabel->hide();
    statusPort_->hide();
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
        storedTexts_.push_back({field, label, accessors.first, accessors.second});
    };
    add(&CPrinterSetting::ProgramCommand, programLabel, editText(program_));
    add(&CPrinterSetting::ProgramPrinter, programPrinterLabel, listText(programPrinter_));
    add(&CPrinterSetting::StatusPort, statusPortLabel, editText(statusPort_));
    add(&CPrinterSetting::LocalPrinter, localPrinterLabel, listText(localPrinter_));
    add(&CPrinterSetting::IPAddress, ipAddressLabel,
        std::make_pair([this] { return ipAddress_->Text(); },
                       [this](const QString& text) { ipAddress_->SetText(text); }));
    add(&CPrinterSetting::QueueName, queueNameLabel, editText(queueName_));
    add(&CPrinterSetting::InputBin, inputBinLabel, editText(inputBin_));
    add(&CPrinterSetting::OutputBin, outputBinLabel, editText(outputBin_));

    connect(printerNames_, &QComboBox::currentIndexChanged, this, [this] { LoadSelection(); });
    connect(newButton_, &QPushButton::clicked, this, [this] { NewPrinter(); });
    connect(deleteButton_, &QPushButton::clicked, this, [this] { DeletePrinter(); });
    connect(parameters_, &QPushButton::clicked, this, [this] { ShowParameters(); });
    connect(outputMode_, &QButtonGroup::idClicked, this, [this] { StoreSelection(); });
    connect(localPrinter_, &QComboBox::currentIndexChanged, this, [this] { StoreSelection(); });
    connect(programPrinter_, &QComboBox::currentIndexChanged, this, [this] { StoreSelection(); });
    for (QLineEdit* edit : {program_, statusPort_, queueName_, inputBin_, outputBin_})
        connect(edit, &QLineEdit::editingFinished, this, [this] { StoreSelection(); });
    connect(holdJobs_, &QCheckBox::clicked, this, [this] { StoreSelection(); });
    connect(ipAddress_, &CIpAddressEdit::FieldChanged, this, [this] { StoreSelection(); });
}

void CDialogConfigureServeur::LoadSelection() {
    const int selected = printerNames_->currentIndex();
    if (selected >= 0 && selected < static_cast<int>(records_.size())) {
        const CPrinterSetting& record = records_[selected];
        // Another mode leaves the radio buttons as they are.
        if (QAbstractButton* radio = outputMode_->button(record.OutputMode))
            radio->setChecked(true);
        for (const StoredText& text : storedTexts_)
            text.show(ToQString(record.*text.field));
        holdJobs_->setChecked(record.HoldJobs == 1);
    }
    StoreSelection();
}

void CDialogConfigureServeur::StoreSelection(bool store) {
    const int selected = printerNames_->currentIndex();
    const bool hasSelection = selected >= 0 && selected < static_cast<int>(records_.size());
    const int mode = outputMode_->checkedId();

    for (QAbstractButton* radio : outputMode_->buttons())
        radio->setEnabled(hasSelection);
    printerNames_->setEnabled(hasSelection);
    deleteButton_->setEnabled(hasSelection);
    holdJobs_->setEnabled(hasSelection);
    statusPort_->setEnabled(hasSelection);
    for (QWidget* control : {static_cast<QWidget*>(localPrinter_), static_cast<QWidget*>(inputBin_),
                             static_cast<QWidget*>(outputBin_)})
        control->setEnabled(hasSelection && mode == OUTPUT_LOCAL_PRINTER);
    for (QWidget* control : {static_cast<QWidget*>(programPrinter_), static_cast<QWidget*>(program_),
                             static_cast<QWidget*>(parameters_)})
        control->setEnabled(hasSelection && mode == OUTPUT_PROGRAM);
    ipAddress_->setEnabled(hasSelection && mode == OUTPUT_LPD);
    queueName_->setEnabled(hasSelection && mode == OUTPUT_LPD);

    if (!hasSelection || !store)
        return;
    CPrinterSetting& record = records_[selected];
    std::vector<std::u16string> refused;
    for (const StoredText& text : storedTexts_) {
        const std::u16string value = ToU16(text.read());
        if (IsStorableValue(value)) {
            record.*text.field = value;
        } else {
            text.show(ToQString(record.*text.field));
            refused.push_back(LabelName(text.label));
        }
    }
    record.OutputMode = mode;
    record.HoldJobs = holdJobs_->isChecked() ? 1 : 0;
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
    for (const CPrinterSetting& record : records_) {
        if (record.Name == name) {
            ShowMessageBox(this, LoadString(IDS_PRINTER_EXISTS), QMessageBox::Warning);
            exists = true;
        }
    }
    if (exists)
        return;

    CPrinterSetting record;
    record.Name = name;
    records_.push_back(std::move(record));
    {
        const QSignalBlocker blocker(printerNames_);
        printerNames_->addItem(ToQString(name));
        printerNames_->setCurrentIndex(printerNames_->count() - 1);
    }
    // The new virtual printer takes what the controls show now; they are not reloaded.
    StoreSelection();
}

void CDialogConfigureServeur::DeletePrinter() {
    const int selected = printerNames_->currentIndex();
    if (selected < 0 || selected >= static_cast<int>(records_.size()))
        return;
    records_.erase(records_.begin() + selected);
    {
        const QSignalBlocker blocker(printerNames_);
        printerNames_->removeItem(selected);
        printerNames_->setCurrentIndex(printerNames_->count() > 0 ? 0 : -1);
    }
    Publish();
    LoadSelection();
    StoreSelection(false);
}

void CDialogConfigureServeur::ShowParameters() {
    struct Parameter {
        const char16_t* marker;
        uint32_t label;
    };
    // A null marker is an empty line between the printer's parameters and the job's.
    static constexpr Parameter kParameters[] = {
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
    for (const Parameter& parameter : kParameters) {
        text += u"\n";
        if (parameter.marker)
            text += Format(u"%s : %s", parameter.marker, LoadString(parameter.label));
    }
    ShowMessageBox(this, text, QMessageBox::Information);
}

void CDialogConfigureServeur::Publish() {
    printerList_.Replace(records_);
}

CConfigurationPrinter::CConfigurationPrinter(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PrinterConfigurationDialog"));
    setWindowTitle(DialogText(IDS_DLG_NEW_PRINTER_TITLE));
    nameEdit_ = Edit("NewPrinterNameEdit", kNameLength, this);
    nameEdit_->setMinimumWidth(nameEdit_->fontMetrics().averageCharWidth() * 32);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    row->addWidget(Label(IDS_DLG_NEW_PRINTER_NAME_LABEL, nameEdit_, this));
    row->addWidget(nameEdit_, 1);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CConfigurationPrinter::accept() {
    name_ = ToU16(nameEdit_->text());
    QDialog::accept();
}

}  // namespace velmora::ui
