// Driving the windows and dialogs on the offscreen platform: controls by name, answers to modal windows.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
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
#include "support/app_fixture.h"
#include "support/service_test_util.h"

namespace velmora::test {

// The base fixture with the Qt application of one test; the thread's language is English again after it.
template <typename Base>
class WithQt : public Base {
  protected:
    void SetUp() override {
        Base::SetUp();
        if (!QApplication::instance())
            qt_ = std::make_unique<QApplication>(argc_, argv_);
    }
    void TearDown() override {
        qt_.reset();
        SetThreadLanguage(Language::English);
        Base::TearDown();
    }
    int argc_ = 1;
    char name_[24] = "velmora_ui_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> qt_;
};

// The child with that object name; a test failure when there is none.
template <typename T>
T* Child(const QWidget* parent, const char* name) {
    T* child = parent->findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << "no control named " << name;
    return child;
}

inline void Click(const QWidget* parent, const char* name) {
    Child<QAbstractButton>(parent, name)->click();
}

inline QString Q(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// Calls the handler (which must close it) with the next modal window that opens above the given one.
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
            box->buttons().first()->click();
        },
        above);
}

// The message box that opens while the action runs, answered with its only button.
inline ShownMessage MessageDuring(const std::function<void()>& action) {
    std::vector<ShownMessage> shown;
    AnswerMessageBox(&shown);
    action();
    EXPECT_EQ(shown.size(), 1u);
    return shown.empty() ? ShownMessage{} : shown[0];
}

// Chooses the file in the next open-file dialog; next runs just before it closes (to answer what follows).
inline void ChooseFile(const std::string& path, std::function<void()> next = {}) {
    WhenModal([path, next](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr) << "a " << modal->metaObject()->className() << " opened instead";
        if (next)
            next();
        dialog->selectFile(QString::fromStdString(path));
        // The name typed by the user, which a shown dialog does not replace while its edit has the focus.
        if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            name->setText(QString::fromStdString(path));
        static_cast<QDialog*>(dialog)->accept();  // the file dialog keeps its own accept protected
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

// Types an address into the four fields of an IP address control.
inline void TypeAddress(QWidget* dialog, const QStringList& bytes) {
    for (int i = 0; i < bytes.size(); ++i) {
        auto* field = Child<QLineEdit>(dialog, ("IpAddressField" + std::to_string(i)).c_str());
        field->setText(bytes[i]);
        emit field->textEdited(bytes[i]);
    }
}

// A fake desktop opener (xdg-open) first on PATH while this lives: writes its arguments to Opened.
struct FakeOpener {
    FakeOpener() {
        WriteFile(Bin.File("xdg-open"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + Opened + ".part' && mv '" +
                                            Opened + ".part' '" + Opened + "'\n");
        chmod(Bin.File("xdg-open").c_str(), 0755);
        SetEnvironment("PATH", Bin.Path() + ":" + SavedPath);
    }
    ~FakeOpener() { SetEnvironment("PATH", SavedPath); }
    TempFolder Bin;
    const std::string Opened = Bin.File("opened");
    const std::string SavedPath = getenv("PATH") ? getenv("PATH") : "";
};

}  // namespace velmora::test
