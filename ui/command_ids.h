// The commands of the main window's menus, toolbar, job list and tray icon.
#pragma once

namespace velmora::ui {

constexpr int ID_SERVER_STARTING = 32771;
constexpr int ID_INTERFACE = 32773;
constexpr int ID_JOB_RELEASE = 32777;
constexpr int ID_JOB_STOP = 32778;
constexpr int ID_JOB_DELETE = 32779;
constexpr int ID_JOB_TRANSFER = 32780;
constexpr int ID_SPOOLER_START = 32781;
constexpr int ID_SPOOLER_STOP = 32782;
constexpr int ID_CONFIGURATION = 32783;
constexpr int ID_PREFERENCES = 32786;
constexpr int ID_SEND_VIA_LPR = 32787;
constexpr int ID_COPY_TO_PRINTER = 32788;
// The framework's Exit command.
constexpr int ID_APP_EXIT = 57665;

}  // namespace velmora::ui
