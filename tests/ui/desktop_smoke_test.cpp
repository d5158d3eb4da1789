// The desktop program's windows come up on the offscreen platform with the server behind them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <QApplication>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <thread>

#include "support/app_fixture.h"
#include "ui/desktop_program.h"

namespace velmora {
namespace {

class DesktopProgramTest : public test::AppFixture {};

TEST_F(DesktopProgramTest, TheDocumentRunsTheServerForTheLifeOfTheMainWindow) {
    int argc = 1;
    char name[] = "VelmoraVirtualPrinter";
    char* argv[] = {name, nullptr};
    app_->Settings.PortLPD = 0;
    app_->LpdServer.LoopbackOnly = true;
    std::unique_ptr<CDesktopRole> desktop = ui::CreateDesktopProgram(*app_, argc, argv);
    ASSERT_TRUE(desktop);
    desktop->CreateInfoWindow();
    ASSERT_TRUE(desktop->CreateMainWindow());
    EXPECT_TRUE(app_->LpdServer.IsServerRunning());
    desktop->SetMainWindowTitle(u"Velmora Virtual Printer autogenbuild_v7.1.0.35583");
    desktop->ShowMainWindow(false);
    bool titled = false;
    for (const QWidget* window : QApplication::topLevelWidgets())
        titled |= window->isVisible() &&
                  window->windowTitle() == "Velmora Virtual Printer autogenbuild_v7.1.0.35583";
    EXPECT_TRUE(titled);
    desktop.reset();
    EXPECT_FALSE(app_->LpdServer.IsServerRunning());
}

TEST_F(DesktopProgramTest, AMessageRaisedForAWorkerThreadNeverBlocksIt) {
    int argc = 1;
    char name[] = "VelmoraVirtualPrinter";
    char* argv[] = {name, nullptr};
    std::unique_ptr<CDesktopRole> desktop = ui::CreateDesktopProgram(*app_, argc, argv);
    ASSERT_TRUE(desktop);
    // No message loop runs: a worker that waited for the box would never come back.
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        app_->ShowMessage(u"Unable to delete file", MessageIcon::Error);
        returned = true;
    });
    for (int i = 0; i < 2000 && !returned; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(returned);
    worker.join();
    // The box comes up from the message loop (answered at once here).
    setenv("VELMORA_ANSWER_MESSAGE_BOXES", "1", 1);
    QCoreApplication::processEvents();
    unsetenv("VELMORA_ANSWER_MESSAGE_BOXES");
}

}  // namespace
}  // namespace velmora
