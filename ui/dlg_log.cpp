#include "ui/dlg_log.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace velmora::ui {

DlgLog::DlgLog(QWidget* parent) : QDialog(parent), text_(new QLabel(this)) {
    setObjectName(QStringLiteral("InformationWindow"));
    setWindowTitle(QStringLiteral("Information"));
    setModal(false);
    text_->setWordWrap(true);
    text_->setMinimumSize(320, 48);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::hide);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addWidget(buttons);
}

void DlgLog::ShowText(const QString& text) {
    text_->setText(text);
    text_->repaint();
}

QString DlgLog::Text() const {
    return text_->text();
}

}  // namespace velmora::ui
