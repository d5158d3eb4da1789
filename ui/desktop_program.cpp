#include "ui/desktop_program.h"

#include <QApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/app.h"
#include "platform/termination.h"
#include "resources/string_ids.h"
#include "resources/string_table.h"
#include "ui/dialogs.h"
#include "ui/dlg_log.h"
#include "ui/document.h"
#include "ui/job_list_view.h"
#include "ui/main_frame.h"

namespace velmora::ui {

namespace {

QString ToQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// Whether Qt can open a window here: a platform named on the command line or in the environment, or a
// display to connect to.
bool WindowSystemAvailable(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    }
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(variable);
        if (value && *value)
            return true;
    }
    return false;
}

// Tests answer every message box at once and read its text from standard error.
bool MessageBoxesAnswered() {
    const char* value = std::getenv("VELMORA_ANSWER_MESSAGE_BOXES");
    return value && std::strcmp(value, "1") == 0;
}

// Runs the function on the user-interface thread: at once when called there, otherwise later from the
// message loop, without waiting for it.
template <typename Function>
void OnUserInterfaceThread(Function function) {
    if (QThread::currentThread() == qApp->thread()) {
        function();
    } else {
        QMetaObject::invokeMethod(qApp, std::move(function), Qt::QueuedConnection);
    }
}

class DesktopProgram : public DesktopRole {
  public:
    DesktopProgram(int& argc, char** argv) : application_(argc, argv) {
        // The program ends when its main window closes (Exit included); a hidden main window and the
        // closing of other windows keep it running.
        QApplication::setQuitOnLastWindowClosed(false);
        InstallSeams();
        // A request to end from outside (SIGTERM, SIGINT; a console close or shutdown on Windows) ends the
        // desktop program as its Exit command does: the message loop ends and the main window closes.
        platform::WatchTerminationRequests(
            [] { QMetaObject::invokeMethod(qApp, [] { QApplication::quit(); }, Qt::QueuedConnection); });
    }
    ~DesktopProgram() override {
        CloseMainWindow();
        App().Ui = UserInterfaceSeams{};
        delete infoWindow_;
        // Once the job list has been saved with the document.
        platform::StopWatchingTerminationRequests();
    }

    void CreateInfoWindow() override {
        infoWindow_ = new DlgLog();
        infoWindow_->hide();
    }

    bool CreateMainWindow() override {
        document_ = std::make_unique<CVelmoraVirtualPrinterDoc>();
        frame_ = std::make_unique<CMainFrame>(App(), QSystemTrayIcon::isSystemTrayAvailable());
        jobListNotifier_.SetView(frame_->View());
        return true;
    }

    void SetMainWindowTitle(const std::u16string& title) override {
        frame_->setWindowTitle(ToQString(title));
    }

    void ShowMainWindow(bool hidden) override {
        // Only the tray icon brings a hidden window back: without one the window starts shown.
        if (hidden && frame_->HidesWhenMinimized()) {
            frame_->hide();
            if (infoWindow_)
                infoWindow_->hide();
        } else {
            frame_->show();
            if (infoWindow_ && infoWindow_->isVisible())
                infoWindow_->raise();
        }
        frame_->repaint();
    }

    int Run() {
        const int code = frame_ ? QApplication::exec() : 0;
        CloseMainWindow();
        return code;
    }

  private:
    // The frame goes first, then the document: its end stops the server and saves the job list.
    void CloseMainWindow() {
        jobListNotifier_.SetView(nullptr);
        frame_.reset();
        document_.reset();
    }

    void InstallSeams() {
        UserInterfaceSeams& seams = App().Ui;
        seams.ShowMessage = [](const std::u16string& text, MessageIcon icon) {
            // A worker thread hands the message over and goes on; the box appears from the message loop.
            OnUserInterfaceThread([text, icon] {
                const QMessageBox::Icon boxIcon = icon == MessageIcon::Error     ? QMessageBox::Critical
                                                  : icon == MessageIcon::Warning ? QMessageBox::Warning
                                                                                 : QMessageBox::Information;
                const QString title = ToQString(LoadString(IDS_APP_TITLE));
                if (MessageBoxesAnswered()) {
                    std::fprintf(stderr, "%s: %s\n", title.toUtf8().constData(),
                                 ToQString(text).toUtf8().constData());
                    return;
                }
                QMessageBox box(boxIcon, title, ToQString(text), QMessageBox::Ok);
                box.exec();
            });
        };
        // Workers post as often as they change the list; the view refreshes at its own pace.
        seams.PostJobListChanged = [this] { jobListNotifier_.Post(); };
        // StartSpooler and StopSpooler run on the user-interface thread; should another thread come, the
        // change waits for the message loop.
        seams.SetTrayIcon = [this](int iconId) {
            OnUserInterfaceThread([this, iconId] {
                if (frame_)
                    frame_->SetSpoolerIcon(iconId);
            });
        };
        // The Transfer command's dialog, on the thread of the command (a dialog cannot open elsewhere).
        seams.TransferDialog = [this](const CSpoolFile& job, std::u16string* printerName) {
            if (QThread::currentThread() != qApp->thread())
                return false;
            return RunTransferDialog(frame_.get(), job, printerName);
        };
        seams.ShowInformation = [this](const std::u16string& text) {
            OnUserInterfaceThread([this, text] {
                if (!infoWindow_)
                    return;
                infoWindow_->ShowText(ToQString(text));
                infoWindow_->show();
                infoWindow_->raise();
            });
        };
    }

    QApplication application_;
    CJobListNotifier jobListNotifier_;
    DlgLog* infoWindow_ = nullptr;
    std::unique_ptr<CVelmoraVirtualPrinterDoc> document_;
    std::unique_ptr<CMainFrame> frame_;
};

}  // namespace

std::unique_ptr<DesktopRole> CreateDesktopProgram(int& argc, char** argv) {
    if (!WindowSystemAvailable(argc, argv)) {
        std::fprintf(stderr,
                     "VelmoraVirtualPrinter: no display for the desktop program. Run the server without "
                     "windows with: VelmoraVirtualPrinter -WINSERV\n");
        return nullptr;
    }
    return std::make_unique<DesktopProgram>(argc, argv);
}

int RunDesktopProgram(DesktopRole& desktop) {
    return static_cast<DesktopProgram&>(desktop).Run();
}

}  // namespace velmora::ui
