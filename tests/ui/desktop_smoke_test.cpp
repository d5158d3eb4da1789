// The desktop program's windows come up on the offscreen platform with the server behind them.
#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include "support/app_fixture.h"
#include "ui/desktop_program.h"

namespace velmora {
namespace {

class DesktopProgramTest : public test::AppFixture {};

TEST_F(DesktopProgramTest, TheDocumentRunsTheServerForTheLifeOfTheMainWindow) {
    int argc = 1;
    char name[] = "VelmoraVirtualPrinter";
    char* argv[] = {name, nullptr};
    app_->PortLPD = 0;
    app_->LoopbackOnly = true;
    std::unique_ptr<DesktopRole> desktop = ui::CreateDesktopProgram(argc, argv);
    ASSERT_TRUE(desktop);
    desktop->CreateInfoWindow();
    ASSERT_TRUE(desktop->CreateMainWindow());
    EXPECT_TRUE(app_->IsServerRunning());
    desktop->SetMainWindowTitle(u"Velmora Virtual Printer autogenbuild_v7.1.0.35583");
    desktop->ShowMainWindow(false);
    bool titled = false;
    for (const QWidget* window : QApplication::topLevelWidgets())
        titled |= window->isVisible() && window->windowTitle() == "Velmora Virtual Printer autogenbuild_v7.1.0.35583";
    EXPECT_TRUE(titled);
    desktop.reset();
    EXPECT_FALSE(app_->IsServerRunning());
}

}  // namespace
}  // namespace velmora
