// The main window of the desktop program.
#pragma once

#include <QMainWindow>

namespace velmora::ui {

class CMainFrame : public QMainWindow {
    Q_OBJECT

  public:
    explicit CMainFrame(QWidget* parent = nullptr);
};

}  // namespace velmora::ui
