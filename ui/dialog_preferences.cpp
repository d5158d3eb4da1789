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
#include "platform/text_editor.h"
#include "resources/dialog_string_ids.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "text/format.h"
#include "text/text_util.h"
#include "ui/dialog_util.h"

namespace velmora::ui {

namespace {

constexpr int kTimeoutIndent = 20;

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
    : QDialog(parent), app_(app) {
    setObjectName(QStringLiteral("PreferencesDialog"));
    setWindowTitle(DialogText(IDS_DLG_PREF_TITLE));

    auto* startup = new QGroupBox(DialogText(IDS_DLG_PREF_STARTUP_GROUP), this);
    startAsService_ =
        CheckBox(IDS_DLG_PREF_START_AS_SERVICE, "StartAsServiceCheck", app.Settings.StartAsService != 0, startup);
    autoStart_ = CheckBox(IDS_DLG_PREF_AUTO_START, "AutoStartCheck", app.Settings.AutoStart != 0, startup);
    autoHide_ = CheckBox(IDS_DLG_PREF_AUTO_HIDE, "AutoHideCheck", app.Settings.AutoHide != 0, startup);
    stress_ = CheckBox(IDS_DLG_PREF_STRESS, "StressCheck", app.Settings.Stress != 0, startup);
    autoDelete_ = CheckBox(IDS_DLG_PREF_AUTO_DELETE, "AutoDeleteCheck", app.Settings.AutoDelete != 0, startup);
    deleteSpool_ = CheckBox(IDS_DLG_PREF_DELETE_SPOOL, "DeleteSpoolCheck", app.Settings.DeleteSpool, startup);
    timeout_ = new QSpinBox(startup);
    timeout_->setObjectName(QStringLiteral("TimeoutEdit"));
    timeout_->setRange(0, std::numeric_limits<int32_t>::max());
    timeout_->setValue(app.Settings.DeleteSpoolTimeOut);
    auto* timeoutLabel = new QLabel(DialogText(IDS_DLG_PREF_TIMEOUT_LABEL), startup);
    timeoutLabel->setBuddy(timeout_);
    timeoutLabel_ = timeoutLabel;
    auto* startupLayout = new QVBoxLayout(startup);
    for (QCheckBox* box : {startAsService_, autoStart_, autoHide_, stress_, autoDelete_, deleteSpool_})
        startupLayout->addWidget(box);
    auto* timeoutRow = new QHBoxLayout();
    timeoutRow->addSpacing(kTimeoutIndent);
    timeoutRow->addWidget(timeoutLabel);
    timeoutRow->addWidget(timeout_);
    timeoutRow->addStretch();
    startupLayout->addLayout(timeoutRow);

    auto* log = new QGroupBox(DialogText(IDS_DLG_PREF_LOG_GROUP), this);
    logNormal_ = CheckBox(IDS_DLG_PREF_LOG_NORMAL, "LogNormalCheck", app.Settings.LogLevel == 1, log);
    logDetailed_ = CheckBox(IDS_DLG_PREF_LOG_DETAILED, "LogDetailedCheck", app.Settings.LogLevel == 2, log);
    auto* display = new QPushButton(DialogText(IDS_DLG_PREF_DISPLAY_LOG), log);
    display->setObjectName(QStringLiteral("DisplayButton"));
    display->setAutoDefault(false);
    auto* logLayout = new QHBoxLayout(log);
    logLayout->addWidget(logNormal_);
    logLayout->addWidget(logDetailed_);
    logLayout->addStretch();
    logLayout->addWidget(display);

    auto* server = new QGroupBox(DialogText(IDS_DLG_PREF_SERVER_GROUP), this);
    port_ = new QLineEdit(ToQString(Format(u"%d", app.Settings.PortLPD.load())), server);
    port_->setObjectName(QStringLiteral("PortEdit"));
    port_->setMaxLength(10);
    port_->setFixedWidth(port_->fontMetrics().horizontalAdvance(QStringLiteral("0000000")) + 12);
    auto* portLabel = new QLabel(DialogText(IDS_DLG_PREF_PORT_LABEL), server);
    portLabel->setBuddy(port_);
    auto* serverLayout = new QHBoxLayout(server);
    serverLayout->addWidget(portLabel);
    serverLayout->addWidget(port_);
    serverLayout->addStretch();

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(startup);
    layout->addWidget(log);
    layout->addWidget(server);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // While the program is to start as a service, the desktop's own start-up settings do not apply; the
    // request can only be made while the service is not installed yet.
    if (startAsService_->isChecked()) {
        for (QCheckBox* box : {autoStart_, autoHide_, stress_})
            box->setEnabled(false);
    } else {
        startAsService_->setEnabled(!ServiceInstalled(app_.Reporter));
    }
    OnDeleteSpool();

    connect(startAsService_, &QCheckBox::clicked, this, [this] { OnStartAsService(); });
    connect(deleteSpool_, &QCheckBox::clicked, this, [this] { OnDeleteSpool(); });
    // Exactly one of the two log levels is checked.
    connect(logNormal_, &QCheckBox::clicked, this,
            [this] { logDetailed_->setChecked(!logNormal_->isChecked()); });
    connect(logDetailed_, &QCheckBox::clicked, this,
            [this] { logNormal_->setChecked(!logDetailed_->isChecked()); });
    connect(display, &QPushButton::clicked, this, [this] { DisplayLog(); });
}

void CPreferenceApplication::OnStartAsService() {
    const bool service = startAsService_->isChecked();
    for (QCheckBox* box : {autoStart_, autoHide_, stress_})
        box->setEnabled(!service);
    if (service)
        autoDelete_->setChecked(true);
}

void CPreferenceApplication::OnDeleteSpool() {
    timeoutLabel_->setEnabled(deleteSpool_->isChecked());
    timeout_->setEnabled(deleteSpool_->isChecked());
}

void CPreferenceApplication::DisplayLog() {
    std::u16string commandLine;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool opened = platform::OpenInTextEditor(app_.Log.FilePath(), &commandLine);
    QApplication::restoreOverrideCursor();
    if (!opened)
        ShowMessageBox(this, Format(LoadString(IDS_DLG_EDITOR_FAILED), commandLine), QMessageBox::Critical);
}

void CPreferenceApplication::accept() {
    app_.Settings.StartAsService = startAsService_->isChecked() ? 1 : 0;
    app_.Settings.AutoStart = autoStart_->isChecked() ? 1 : 0;
    app_.Settings.AutoDelete = autoDelete_->isChecked() ? 1 : 0;
    app_.Settings.DeleteSpool = deleteSpool_->isChecked();
    app_.Settings.DeleteSpoolTimeOut = timeout_->value();
    app_.Settings.AutoHide = autoHide_->isChecked() ? 1 : 0;
    app_.Settings.Stress = stress_->isChecked() ? 1 : 0;
    app_.Settings.LogLevel = logDetailed_->isChecked() ? 2 : 1;

    if (startAsService_->isChecked())
        ShowMessageBox(this, LoadString(IDS_RESTART_REQUIRED), QMessageBox::Information);

    // No digits read as 0; a number outside the port range cannot be listened on either.
    const int32_t port = ParseInt32(ToU16(port_->text()));
    if (port <= 0 || port > 65535) {
        ShowMessageBox(this, LoadString(IDS_BAD_LPD_PORT), QMessageBox::Warning);
        port_->setFocus();
        port_->selectAll();
        return;
    }
    if (port != app_.Settings.PortLPD) {
        app_.Settings.PortLPD = port;
        ShowMessageBox(this, LoadString(IDS_RESTART_REQUIRED), QMessageBox::Information);
    }
    QDialog::accept();
}

}  // namespace velmora::ui
