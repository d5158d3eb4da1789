// The "Preferences" dialog: the application's settings, and the log opened in the text editor.
#pragma once

#include <QDialog>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace velmora {
class CVelmoraVirtualPrinterApp;
}

namespace velmora::ui {

// Edits the settings members of the application object; they reach the settings file when the program
// ends, and the list of allowed clients reaches the listener at once. OK stores them; a port that is no
// number, or a client list with an entry that cannot be read, keeps the dialog open.
class CPreferenceApplication : public QDialog {
    Q_OBJECT

  public:
    explicit CPreferenceApplication(CVelmoraVirtualPrinterApp& app, QWidget* parent = nullptr);

  private:
    void accept() override;
    void OnStartAsService();
    void OnDeleteSpool();
    void DisplayLog();
    // Shows the first entry of the client list that cannot be read, as it is typed.
    void CheckAllowedClients();

    CVelmoraVirtualPrinterApp& App;
    QCheckBox* StartAsServiceBox = nullptr;
    QCheckBox* AutoStartBox = nullptr;
    QCheckBox* AutoHideBox = nullptr;
    QCheckBox* StressBox = nullptr;
    QCheckBox* AutoDeleteBox = nullptr;
    QCheckBox* DeleteSpoolBox = nullptr;
    QWidget* TimeoutLabel = nullptr;
    QSpinBox* Timeout = nullptr;
    QLineEdit* Port = nullptr;
    QLineEdit* AllowedClients = nullptr;
    QLabel* AllowedClientsCheck = nullptr;
    QCheckBox* LogNormal = nullptr;
    QCheckBox* LogDetailed = nullptr;
};

}  // namespace velmora::ui
