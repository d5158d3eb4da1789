#include "ui/dialog_preferences.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <limits>

#include "app/app.h"
#include "app/service_control.h"
#include "core/allowed_clients.h"
#include "platform/text_editor.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"
#include "text/text_util.h"
#include "ui/dialog_util.h"

namespace velmora::ui {

namespace {

constexpr int TIMEOUT_INDENT = 20;

QCheckBox* CheckBox(uint32_t textId, const char* objectName, bool checked, QWidget* parent) {
    auto* box = new QCheckBox(DialogText(textId), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setChecked(checked);
    return box;
}

// Whether the program's own service is installed (the service control manager can open it).
bool ServiceInstalled(CReporter& reporter) {
    return CServiceControl(reporter).OpenOrCreateService(false).IsValid();
}

}  // namespace

CPreferenceApplication::CPreferenceApplication(CVelmoraVirtualPrinterApp& app, QWidget* parent)
    : QDialog(parent), App(app) {
    setObjectName(QStringLiteral("PreferencesDialog"));
    setWindowTitle(DialogText(IDS_DLG_PREF_TITLE));

    auto* startup = new QGroupBox(DialogText(IDS_DLG_PREF_STARTUP_GROUP), this);
    StartAsServiceBox = CheckBox(IDS_DLG_PREF_START_AS_SERVICE, "StartAsServiceCheck",
                                 app.Settings.StartAsService != 0, startup);
    AutoStartBox = CheckBox(IDS_DLG_PREF_AUTO_START, "AutoStartCheck", app.Settings.AutoStart != 0, startup);
    AutoHideBox = CheckBox(IDS_DLG_PREF_AUTO_HIDE, "AutoHideCheck", app.Settings.AutoHide != 0, startup);
    StressBox = CheckBox(IDS_DLG_PREF_STRESS, "StressCheck", app.Settings.Stress != 0, startup);
    AutoDeleteBox =
        CheckBox(IDS_DLG_PREF_AUTO_DELETE, "AutoDeleteCheck", app.Settings.AutoDelete != 0, startup);
    DeleteSpoolBox =
        CheckBox(IDS_DLG_PREF_DELETE_SPOOL, "DeleteSpoolCheck", app.Settings.DeleteSpool, startup);
    Timeout = new QSpinBox(startup);
    Timeout->setObjectName(QStringLiteral("TimeoutEdit"));
    Timeout->setRange(0, std::numeric_limits<int32_t>::max());
    Timeout->setValue(app.Settings.DeleteSpoolTimeOut);
    auto* timeoutLabel = new QLabel(DialogText(IDS_DLG_PREF_TIMEOUT_LABEL), startup);
    timeoutLabel->setBuddy(Timeout);
    TimeoutLabel = timeoutLabel;
    auto* startupLayout = new QVBoxLayout(startup);
    for (QCheckBox* box :
         {StartAsServiceBox, AutoStartBox, AutoHideBox, StressBox, AutoDeleteBox, DeleteSpoolBox})
        startupLayout->addWidget(box);
    auto* timeoutRow = new QHBoxLayout();
    timeoutRow->addSpacing(TIMEOUT_INDENT);
    timeoutRow->addWidget(timeoutLabel);
    timeoutRow->addWidget(Timeout);
    timeoutRow->addStretch();
    startupLayout->addLayout(timeoutRow);

    auto* log = new QGroupBox(DialogText(IDS_DLG_PREF_LOG_GROUP), this);
    LogNormal = CheckBox(IDS_DLG_PREF_LOG_NORMAL, "LogNormalCheck", app.Settings.LogLevel == 1, log);
    LogDetailed = CheckBox(IDS_DLG_PREF_LOG_DETAILED, "LogDetailedCheck", app.Settings.LogLevel == 2, log);
    auto* display = new QPushButton(DialogText(IDS_DLG_PREF_DISPLAY_LOG), log);
    display->setObjectName(QStringLiteral("DisplayButton"));
    display->setAutoDefault(false);
    auto* logLayout = new QHBoxLayout(log);
    logLayout->addWidget(LogNormal);
    logLayout->addWidget(LogDetailed);
    logLayout->addStretch();
    logLayout->addWidget(display);

    auto* server = new QGroupBox(DialogText(IDS_DLG_PREF_SERVER_GROUP), this);
    Port = new QLineEdit(ToQString(Format(u"%d", app.Settings.PortLPD.load())), server);
    Port->setObjectName(QStringLiteral("PortEdit"));
    Port->setMaxLength(10);
    Port->setFixedWidth(Port->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    auto* portLabel = new QLabel(DialogText(IDS_DLG_PREF_PORT_LABEL), server);
    portLabel->setBuddy(Port);
    auto* portRow = new QHBoxLayout();
    portRow->addWidget(portLabel);
    portRow->addWidget(Port);
    portRow->addStretch();
    AllowedClients = new QLineEdit(ToQString(app.Settings.AllowedClients()), server);
    AllowedClients->setObjectName(QStringLiteral("AllowedClientsEdit"));
    auto* allowedLabel = new QLabel(DialogText(IDS_DLG_PREF_ALLOWED_LABEL), server);
    allowedLabel->setBuddy(AllowedClients);
    auto* allowedHelp = new QLabel(DialogText(IDS_DLG_PREF_ALLOWED_HELP), server);
    allowedHelp->setWordWrap(true);
    AllowedClientsCheck = new QLabel(server);
    AllowedClientsCheck->setObjectName(QStringLiteral("AllowedClientsCheck"));
    AllowedClientsCheck->setStyleSheet(QStringLiteral("color: #b00000"));
    auto* serverLayout = new QVBoxLayout(server);
    serverLayout->addLayout(portRow);
    serverLayout->addWidget(allowedLabel);
    serverLayout->addWidget(AllowedClients);
    serverLayout->addWidget(allowedHelp);
    serverLayout->addWidget(AllowedClientsCheck);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(startup);
    layout->addWidget(log);
    layout->addWidget(server);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // While the program is to start as a service, the desktop's own start-up settings do not apply; the
    // request can only be made while the service is not installed yet.
    if (StartAsServiceBox->isChecked()) {
        for (QCheckBox* box : {AutoStartBox, AutoHideBox, StressBox})
            box->setEnabled(false);
    } else {
        StartAsServiceBox->setEnabled(!ServiceInstalled(App.Reporter));
    }
    OnDeleteSpool();
    CheckAllowedClients();

    connect(AllowedClients, &QLineEdit::textChanged, this, [this] { CheckAllowedClients(); });
    connect(StartAsServiceBox, &QCheckBox::clicked, this, [this] { OnStartAsService(); });
    connect(DeleteSpoolBox, &QCheckBox::clicked, this, [this] { OnDeleteSpool(); });
    // Exactly one of the two log levels is checked.
    connect(LogNormal, &QCheckBox::clicked, this,
            [this] { LogDetailed->setChecked(!LogNormal->isChecked()); });
    connect(LogDetailed, &QCheckBox::clicked, this,
            [this] { LogNormal->setChecked(!LogDetailed->isChecked()); });
    connect(display, &QPushButton::clicked, this, [this] { DisplayLog(); });
}

void CPreferenceApplication::OnStartAsService() {
    const bool service = StartAsServiceBox->isChecked();
    for (QCheckBox* box : {AutoStartBox, AutoHideBox, StressBox})
        box->setEnabled(!service);
    if (service)
        AutoDeleteBox->setChecked(true);
}

void CPreferenceApplication::OnDeleteSpool() {
    TimeoutLabel->setEnabled(DeleteSpoolBox->isChecked());
    Timeout->setEnabled(DeleteSpoolBox->isChecked());
}

void CPreferenceApplication::CheckAllowedClients() {
    const std::u16string unreadable = FirstUnreadableClient(ToU16(AllowedClients->text()));
    AllowedClientsCheck->setText(
        unreadable.empty() ? QString() : ToQString(Format(LoadString(IDS_DLG_PREF_ALLOWED_BAD), unreadable)));
    AllowedClientsCheck->setVisible(!unreadable.empty());
}

void CPreferenceApplication::DisplayLog() {
    std::u16string commandLine;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool opened = platform::OpenInTextEditor(App.Log.FilePath(), &commandLine);
    QApplication::restoreOverrideCursor();
    if (!opened)
        ShowMessageBox(this, Format(LoadString(IDS_DLG_EDITOR_FAILED), commandLine), QMessageBox::Critical);
}

void CPreferenceApplication::accept() {
    App.Settings.StartAsService = StartAsServiceBox->isChecked() ? 1 : 0;
    App.Settings.AutoStart = AutoStartBox->isChecked() ? 1 : 0;
    App.Settings.AutoDelete = AutoDeleteBox->isChecked() ? 1 : 0;
    App.Settings.DeleteSpool = DeleteSpoolBox->isChecked();
    App.Settings.DeleteSpoolTimeOut = Timeout->value();
    App.Settings.AutoHide = AutoHideBox->isChecked() ? 1 : 0;
    App.Settings.Stress = StressBox->isChecked() ? 1 : 0;
    App.Settings.LogLevel = LogDetailed->isChecked() ? 2 : 1;

    if (StartAsServiceBox->isChecked())
        ShowMessageBox(this, LoadString(IDS_RESTART_REQUIRED), QMessageBox::Information);

    // No digits read as 0; a number outside the port range cannot be listened on either.
    const int32_t port = ParseInt32(ToU16(Port->text()));
    if (port <= 0 || port > 65535) {
        ShowMessageBox(this, LoadString(IDS_BAD_LPD_PORT), QMessageBox::Warning);
        Port->setFocus();
        Port->selectAll();
        return;
    }
    if (!AllowedClientsCheck->text().isEmpty()) {
        ShowMessageBox(this, ToU16(AllowedClientsCheck->text()), QMessageBox::Warning);
        AllowedClients->setFocus();
        return;
    }
    // One line in the settings file, whatever was pasted.
    App.Settings.SetAllowedClients(ToU16(AllowedClients->text().simplified()));
    if (port != App.Settings.PortLPD) {
        App.Settings.PortLPD = port;
        ShowMessageBox(this, LoadString(IDS_RESTART_REQUIRED), QMessageBox::Information);
    }
    QDialog::accept();
}

}  // namespace velmora::ui
