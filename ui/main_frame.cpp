#include "ui/main_frame.h"

namespace velmora::ui {

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("MainFrame"));
    resize(900, 500);
}

}  // namespace velmora::ui
