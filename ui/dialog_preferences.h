// The "Preferences" dialog: the application's settings, and the log opened in the text editor.
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QSpinBox;

namespace velmora {
class CVelmoraVirtualPrinterApp;
}

namespace velmora::ui {

// Edits the settings members of the application object; they reach the settings file when the program
// ends. OK stores them; a port that is no number keeps the dialog open.
class CPreferenceApplication : public QDialog {
    Q_OBJECT

  public:
    explicit CPreferenceApplication(CVelmoraVirtualPrinterApp& app, QWidget* parent = nullptr);

  private:
    void accept() override;
    void OnStartAsService();
    void OnDeleteSpool();
    void DisplayLog();

    CVelmoraVirtualPrinterApp& app_;
    QCheckBox* startAsService_ = nullptr;
    QCheckBox* autoStart_ = nullptr;
    QCheckBox* autoHide_ = nullptr;
    QCheckBox* stress_ = nullptr;
    QCheckBox* autoDelete_ = nullptr;
    QCheckBox* deleteSpool_ = nullptr;
    QWidget* timeoutLabel_ = nullptr;
    QSpinBox* timeout_ = nullptr;
    QLineEdit* port_ = nullptr;
    QCheckBox* logNormal_ = nullptr;
    QCheckBox* logDetailed_ = nullptr;
};

}  // namespace velmora::ui
