// The "Copy selected file via LPR" dialog: the LPD server and queue that a file is sent to.
#pragma once

#include <QDialog>

#include <cstdint>
#include <string>

class QLineEdit;

namespace velmora::ui {

class CIpAddressEdit;

class CPrinterLPR : public QDialog {
    Q_OBJECT

  public:
    explicit CPrinterLPR(QWidget* parent = nullptr);
    // The destination as the dialog ended with OK: dotted address and queue ("127.0.0.1" and "PASS" at
    // first).
    const std::u16string& IPAddress() const { return IpAddress; }
    const std::u16string& QueueName() const { return QueueNameField; }

  private:
    void accept() override;

    CIpAddressEdit* IpAddressEdit = nullptr;
    QLineEdit* QueueNameEdit = nullptr;
    std::u16string IpAddress = u"127.0.0.1";
    std::u16string QueueNameField = u"PASS";
};

// The LPD port that the command sends to.
inline constexpr int32_t LPR_PORT = 515;

// The "Send via LPR" command on a port (LPR_PORT for the user, a test server's otherwise): the open-file
// dialog, then this dialog, then the file is sent to the LPD server chosen, with a message box that gives
// the forwarding client's text when that fails.
void SendFileByLprToPort(QWidget* parent, int32_t port);

}  // namespace velmora::ui
