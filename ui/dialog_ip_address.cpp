#include "ui/dialog_ip_address.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QStringList>

#include <algorithm>

namespace velmora::ui {

namespace {

const QString ADDRESS_BYTE_PATTERN = QStringLiteral("(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])");

}  // namespace

CIpAddressEdit::CIpAddressEdit(QWidget* parent) : QWidget(parent) {
    // Drawn as one edit box holding four borderless fields.
    auto* frame = new QLineEdit(this);
    frame->setReadOnly(true);
    frame->setFocusPolicy(Qt::NoFocus);
    auto* layout = new QHBoxLayout(frame);
    layout->setContentsMargins(4, 0, 4, 0);
    layout->setSpacing(0);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(frame);

    auto* validator = new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("^") + ADDRESS_BYTE_PATTERN + "?$"), this);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* dot = new QLabel(QStringLiteral("."), frame);
            dot->setAlignment(Qt::AlignCenter);
            layout->addWidget(dot);
        }
        auto* field = new QLineEdit(frame);
        field->setObjectName(QStringLiteral("IpAddressField%1").arg(i));
        field->setFrame(false);
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->setValidator(validator);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000")) + 4);
        field->installEventFilter(this);
        connect(field, &QLineEdit::textEdited, this,
                [this, i](const QString& text) { OnFieldEdited(i, text); });
        layout->addWidget(field);
        Fields[i] = field;
    }
    // As wide as four fields, however narrow the column it sits in.
    frame->setFixedWidth(layout->sizeHint().width());
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFocusProxy(Fields[0]);
}

QString CIpAddressEdit::Text() const {
    if (!KeptText.isEmpty())
        return KeptText;
    QStringList parts;
    for (const QLineEdit* field : Fields)
        parts << (field->text().isEmpty() ? QStringLiteral("0") : QString::number(field->text().toInt()));
    return parts.join(QLatin1Char('.'));
}

void CIpAddressEdit::SetText(const QString& text) {
    static const QRegularExpression dotted(QStringLiteral("^") + ADDRESS_BYTE_PATTERN + "\\." +
                                           ADDRESS_BYTE_PATTERN + "\\." + ADDRESS_BYTE_PATTERN + "\\." +
                                           ADDRESS_BYTE_PATTERN + "$");
    const QRegularExpressionMatch match = dotted.match(text.trimmed());
    KeptText.clear();
    for (int i = 0; i < 4; ++i)
        Fields[i]->setText(match.hasMatch() ? QString::number(match.captured(i + 1).toInt()) : QString());
    if (!match.hasMatch() && !text.isEmpty()) {
        KeptText = text;
    }
    setToolTip(KeptText);
}

void CIpAddressEdit::Clear() {
    SetText(QString());
}

void CIpAddressEdit::OnFieldEdited(int index, const QString& text) {
    if (!KeptText.isEmpty()) {
        KeptText.clear();
        setToolTip(QString());
    }
    // A complete byte moves on to the next field, as typing an address expects.
    if (text.size() == 3 && index < 3 && Fields[index]->cursorPosition() == 3) {
        Fields[index + 1]->setFocus();
        Fields[index + 1]->selectAll();
    }
    emit FieldChanged();
}

bool CIpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int index = static_cast<int>(std::find(Fields.begin(), Fields.end(), watched) - Fields.begin());
    if (index >= 4)
        return QWidget::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    QLineEdit* field = Fields[index];
    // The dot ends a field; Backspace at the start of a field goes back into the previous one.
    if ((key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) && index < 3) {
        if (!field->text().isEmpty()) {
            Fields[index + 1]->setFocus();
            Fields[index + 1]->selectAll();
        }
        return true;
    }
    if (key->key() == Qt::Key_Backspace && index > 0 && field->cursorPosition() == 0 &&
        !field->hasSelectedText()) {
        Fields[index - 1]->setFocus();
        Fields[index - 1]->end(false);
        return true;
    }
    if (key->key() == Qt::Key_Right && index < 3 && field->cursorPosition() == field->text().size()) {
        Fields[index + 1]->setFocus();
        Fields[index + 1]->home(false);
        return true;
    }
    if (key->key() == Qt::Key_Left && index > 0 && field->cursorPosition() == 0) {
        Fields[index - 1]->setFocus();
        Fields[index - 1]->end(false);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace velmora::ui
