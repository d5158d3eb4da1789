#include "ui/dlg_log.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace velmora::ui {

DlgLog::DlgLog(QWidget* parent) : QDialog(parent), TextLabel(new QLabel(this)) {
    setObjectName(QStringLiteral("InformationWindow"));
    setWindowTitle(QStringLiteral("Information"));
    setModal(false);
    TextLabel->setWordWrap(true);
    TextLabel->setMinimumSize(320, 48);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TextLabel);
    layout->addWidget(buttons);
}

void DlgLog::ShowText(const QString& text) {
    TextLabel->setText(text);
    TextLabel->repaint();
}

QString DlgLog::Text() const {
    return TextLabel->text();
}

}  // namespace velmora::ui
