// An IP address control: four fields of 0 to 255 separated by dots, read and written as dotted text.
#pragma once

#include <QString>
#include <QWidget>

#include <array>

class QLineEdit;

namespace velmora::ui {

class CIpAddressEdit : public QWidget {
    Q_OBJECT

  public:
    explicit CIpAddressEdit(QWidget* parent = nullptr);

    // The dotted text; blank fields read as 0, so a blank control reads "0.0.0.0". A text that is no
    // dotted address (a host name written into Printer.cfg by hand) leaves the fields blank and is what
    // Text() returns until the user changes a field: showing a virtual printer never loses its host.
    QString Text() const;
    void SetText(const QString& text);
    void Clear();

  signals:
    // The user changed a field.
    void FieldChanged();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void OnFieldEdited(int index, const QString& text);

    std::array<QLineEdit*, 4> Fields{};
    QString KeptText;
};

}  // namespace velmora::ui
