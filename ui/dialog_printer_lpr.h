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
    const std::u16string& IPAddress() const { return ipAddress_; }
    const std::u16string& QueueName() const { return queueName_; }

  private:
    void accept() override;

    CIpAddressEdit* ipAddressEdit_ = nullptr;
    QLineEdit* queueNameEdit_ = nullptr;
    std::u16string ipAddress_ = u"127.0.0.1";
    std::u16string queueName_ = u"PASS";
};

// The LPD port that the command sends to.
inline constexpr int32_t kLprPort = 515;

// The "Send via LPR" command on a port (kLprPort for the user, a test server's otherwise): the open-file
// dialog, then this dialog, then the file is sent to the LPD server chosen, with a message box that gives
// the forwarding client's text when that fails.
void SendFileByLprToPort(QWidget* parent, int32_t port);

}  // namespace velmora::ui
