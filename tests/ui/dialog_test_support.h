// Driving the dialogs from a test: the Qt application, controls found by object name, and answers to the
// modal windows that open while a dialog runs.
#pragma once

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "resources/string_table.h"

namespace velmora::test {

// The Qt application of one test, unless the process already has one.
class QtApplicationScope {
  public:
    QtApplicationScope() {
        if (!QApplication::instance())
            own_ = std::make_unique<QApplication>(argc_, argv_);
    }
    ~QtApplicationScope() { own_.reset(); }
    QtApplicationScope(const QtApplicationScope&) = delete;
    QtApplicationScope& operator=(const QtApplicationScope&) = delete;

  private:
    static inline int argc_ = 1;
    static inline char name_[] = "velmora_ui_tests";
    static inline char* argv_[] = {name_, nullptr};
    std::unique_ptr<QApplication> own_;
};

// Restores the calling thread's language at the end of a test.
class LanguageScope {
  public:
    explicit LanguageScope(Language language) : saved_(ThreadLanguage()) { SetThreadLanguage(language); }
    ~LanguageScope() { SetThreadLanguage(saved_); }
    LanguageScope(const LanguageScope&) = delete;
    LanguageScope& operator=(const LanguageScope&) = delete;

  private:
    Language saved_;
};

// The child with that object name; a test failure when there is none.
template <typename T>
T* Child(const QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << "no control named " << name;
    return child;
}

inline QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// Calls the handler with the next modal window that opens above the given one (by default the modal window
// of the moment, or none). The handler must close that window, or open the next one and arrange for it
// to be answered first.
inline void WhenModal(std::function<void(QWidget*)> handler,
                      QWidget* above = QApplication::activeModalWidget(), int attemptsLeft = 3000) {
    QTimer::singleShot(10, qApp, [handler = std::move(handler), above, attemptsLeft]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != above && modal->isVisible()) {
            handler(modal);
        } else if (attemptsLeft == 0) {
            ADD_FAILURE() << "no modal window opened";
        } else {
            WhenModal(std::move(handler), above, attemptsLeft - 1);
        }
    });
}

// A message box as the user saw it.
struct ShownMessage {
    QString Caption;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
};

// Answers the next message box above the given window with its only button, noting what it showed.
inline void AnswerMessageBox(std::vector<ShownMessage>* shown,
                             QWidget* above = QApplication::activeModalWidget()) {
    WhenModal(
        [shown](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr) << "a " << modal->metaObject()->className() << " opened instead";
            shown->push_back({box->windowTitle(), box->text(), box->icon()});
            ASSERT_FALSE(box->buttons().isEmpty());
            box->buttons().first()->click();
        },
        above);
}

// Chooses the file in the next open-file dialog; next runs just before the dialog closes, so that it can
// arrange for the answer to the window that opens after it.
inline void ChooseFile(const std::string& path, std::function<void()> next = {}) {
    WhenModal([path, next](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (!dialog) {
            ADD_FAILURE() << "a " << modal->metaObject()->className() << " opened instead";
            modal->close();
            return;
        }
        if (next)
            next();
        dialog->selectFile(QString::fromStdString(path));
        // The name typed by the user, which a shown dialog does not replace while its edit has the focus.
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(QString::fromStdString(path));
        // Through the base class: the file dialog keeps its own accept protected.
        static_cast<QDialog*>(dialog)->accept();
        if (dialog->isVisible()) {
            ADD_FAILURE() << "the file dialog did not take " << path;
            dialog->reject();
        }
    });
}

// Types the text into the edit and leaves it, as the user does before the dialog takes the value.
inline void FinishEditing(QLineEdit* edit, const QString& text) {
    edit->setText(text);
    emit edit->editingFinished();
}

}  // namespace velmora::test
