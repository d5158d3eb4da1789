#include "ui/desktop_program.h"

#include <QApplication>
#include <QMessageBox>
#include <QSystemTrayIcon>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "app/app.h"
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

// What the server's parts show a person: message boxes, the job list's refreshes, the tray icon and the
// information window. Worker threads call it; what they ask for happens on the user-interface thread.
class CDesktopUserInterface : public CUserInterface {
  public:
    CDesktopUserInterface(CJobListNotifier& notifier, std::function<CMainFrame*()> frame,
                          std::function<DlgLog*()> infoWindow)
        : Notifier(notifier), Frame(std::move(frame)), InfoWindow(std::move(infoWindow)) {}

    bool ShowMessage(const std::u16string& text, MessageIcon icon) override {
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
        return true;
    }
    // Workers post as often as they change the list; the view refreshes at its own pace.
    void PostJobListChanged() override { Notifier.Post(); }
    // StartSpooler and StopSpooler run on the user-interface thread; should another thread come, the
    // change waits for the message loop.
    void SetTrayIcon(int iconId) override {
        OnUserInterfaceThread([this, iconId] {
            if (CMainFrame* frame = Frame())
                frame->SetSpoolerIcon(iconId);
        });
    }
    void ShowInformation(const std::u16string& text) override {
        OnUserInterfaceThread([this, text] {
            DlgLog* window = InfoWindow();
            if (!window)
                return;
            window->ShowText(ToQString(text));
            window->show();
            window->raise();
        });
    }

  private:
    CJobListNotifier& Notifier;
    std::function<CMainFrame*()> Frame;
    std::function<DlgLog*()> InfoWindow;
};

class CDesktopProgram : public CDesktopRole {
  public:
    CDesktopProgram(CVelmoraVirtualPrinterApp& app, int& argc, char** argv)
        : App(app), Application(argc, argv) {
        // The program ends when its main window closes (Exit included); a hidden main window and the
        // closing of other windows keep it running.
        QApplication::setQuitOnLastWindowClosed(false);
        App.InstallUserInterface(&UserInterface);
        // A request to end from outside (SIGTERM, SIGINT; a console close or shutdown on Windows) ends the
        // desktop program as its Exit command does: the message loop ends and the main window closes.
        platform::WatchTerminationRequests([] {
            QMetaObject::invokeMethod(
                qApp, [] { QApplication::quit(); }, Qt::QueuedConnection);
        });
    }
    ~CDesktopProgram() override {
        CloseMainWindow();
        App.InstallUserInterface(nullptr);
        delete InformationWindow;
        // Once the job list has been saved with the document.
        platform::StopWatchingTerminationRequests();
    }

    void CreateInfoWindow() override {
        InformationWindow = new DlgLog();
        InformationWindow->hide();
    }

    bool CreateMainWindow() override {
        Document = std::make_unique<CVelmoraVirtualPrinterDoc>(App);
        MainFrame = std::make_unique<CMainFrame>(App, QSystemTrayIcon::isSystemTrayAvailable());
        JobListNotifier.SetView(MainFrame->View());
        return true;
    }

    void SetMainWindowTitle(const std::u16string& title) override {
        MainFrame->setWindowTitle(ToQString(title));
    }

    void ShowMainWindow(bool hidden) override {
        // Only the tray icon brings a hidden window back: without one the window starts shown.
        if (hidden && MainFrame->HidesWhenMinimized()) {
            MainFrame->hide();
            if (InformationWindow)
                InformationWindow->hide();
        } else {
            MainFrame->show();
            if (InformationWindow && InformationWindow->isVisible())
                InformationWindow->raise();
        }
        MainFrame->repaint();
    }

    int Run() {
        const int code = MainFrame ? QApplication::exec() : 0;
        CloseMainWindow();
        return code;
    }

  private:
    // The frame goes first, then the document: its end stops the server and saves the job list.
    void CloseMainWindow() {
        JobListNotifier.SetView(nullptr);
        MainFrame.reset();
        Document.reset();
    }

    CVelmoraVirtualPrinterApp& App;
    QApplication Application;
    CJobListNotifier JobListNotifier;
    DlgLog* InformationWindow = nullptr;
    std::unique_ptr<CVelmoraVirtualPrinterDoc> Document;
    std::unique_ptr<CMainFrame> MainFrame;
    CDesktopUserInterface UserInterface{JobListNotifier, [this] { return MainFrame.get(); },
                                        [this] { return InformationWindow; }};
};

}  // namespace

std::unique_ptr<CDesktopRole> CreateDesktopProgram(CVelmoraVirtualPrinterApp& app, int& argc, char** argv) {
    if (!WindowSystemAvailable(argc, argv)) {
        std::fprintf(stderr,
                     "VelmoraVirtualPrinter: no display for the desktop program. Run the server without "
                     "windows with: VelmoraVirtualPrinter -WINSERV\n");
        return nullptr;
    }
    return std::make_unique<CDesktopProgram>(app, argc, argv);
}

int RunDesktopProgram(CDesktopRole& desktop) {
    return static_cast<CDesktopProgram&>(desktop).Run();
}

}  // namespace velmora::ui
