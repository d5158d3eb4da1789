#include "ui/dialog_printer_lpr.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "output/lpd_client.h"
#include "platform/ansi.h"
#include "resources/dialog_string_ids.h"
#include "ui/dialog_ip_address.h"
#include "ui/dialog_util.h"

namespace velmora::ui {

CPrinterLPR::CPrinterLPR(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("SendViaLprDialog"));
    setWindowTitle(DialogText(IDS_DLG_LPR_TITLE));

    auto* group = new QGroupBox(DialogText(IDS_DLG_LPR_DESTINATION_GROUP), this);
    IpAddressEdit = new CIpAddressEdit(group);
    IpAddressEdit->setObjectName(QStringLiteral("IpAddressControl"));
    IpAddressEdit->SetText(ToQString(IpAddress));
    QueueNameEdit = new QLineEdit(ToQString(QueueNameField), group);
    QueueNameEdit->setObjectName(QStringLiteral("QueueNameEdit"));
    auto* ipLabel = new QLabel(DialogText(IDS_DLG_LPR_IP_ADDRESS_LABEL), group);
    ipLabel->setBuddy(IpAddressEdit);
    auto* queueLabel = new QLabel(DialogText(IDS_DLG_LPR_QUEUE_LABEL), group);
    queueLabel->setBuddy(QueueNameEdit);
    auto* grid = new QGridLayout(group);
    grid->addWidget(ipLabel, 0, 0);
    grid->addWidget(IpAddressEdit, 0, 1);
    grid->addWidget(queueLabel, 1, 0);
    grid->addWidget(QueueNameEdit, 1, 1);

    QDialogButtonBox* buttons = OkCancelButtons(this);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void CPrinterLPR::accept() {
    IpAddress = ToU16(IpAddressEdit->Text());
    QueueNameField = ToU16(QueueNameEdit->text());
    QDialog::accept();
}

namespace {

constexpr std::size_t ERROR_TEXT_SIZE = 512;

void SendChosenFileByLpr(QWidget* parent, const std::u16string& path, int32_t port) {
    CPrinterLPR dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    CLpdJobRequest request;
    request.Port = port;
    request.Host = dialog.IPAddress();
    request.Queue = dialog.QueueName();
    request.FilePath = path;
    request.DocumentName = FileNameOf(path);
    // The window waits for the server to take the job.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const CLpdSendResult result = SendJobByLpd(request);
    QApplication::restoreOverrideCursor();
    if (result.Code != 0) {
        // Up to a zero byte and at most ERROR_TEXT_SIZE - 1 bytes, as the message always was.
        const std::string text = std::string(result.Text.c_str()).substr(0, ERROR_TEXT_SIZE - 1);
        ShowMessageBox(parent, platform::AnsiToUnicode(text), QMessageBox::Critical);
    }
}

}  // namespace

void SendFileByLprToPort(QWidget* parent, int32_t port) {
    const std::u16string path = ChooseExistingFile(parent);
    if (!path.empty())
        SendChosenFileByLpr(parent, path, port);
}

}  // namespace velmora::ui
