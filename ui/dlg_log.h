// The "Information" window: a modeless window with a short text and an OK button that hides it.
#pragma once

#include <QDialog>

class QLabel;

namespace velmora::ui {

class DlgLog : public QDialog {
    Q_OBJECT

  public:
    explicit DlgLog(QWidget* parent = nullptr);
    // Sets the text and repaints at once.
    void ShowText(const QString& text);
    QString Text() const;

  private:
    QLabel* TextLabel;
};

}  // namespace velmora::ui
