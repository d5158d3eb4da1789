// Ids of the main window's texts (resources/window_strings.cpp): menus, status bar, job list columns and
// tray icon. The command prompts and the toolbar button texts are in the core table (string_ids.h).
#pragma once

#include <cstdint>

namespace velmora {

// Main menu, its popups and items.
constexpr uint32_t IDS_MENU_SERVER = 61000;
constexpr uint32_t IDS_MENU_SERVER_STARTING = 61001;
constexpr uint32_t IDS_MENU_SPOOLER_STOP = 61002;
constexpr uint32_t IDS_MENU_CONFIGURATION = 61003;
constexpr uint32_t IDS_MENU_PREFERENCES = 61004;
constexpr uint32_t IDS_MENU_EXIT = 61005;
constexpr uint32_t IDS_MENU_SPOOLED_FILE = 61006;
constexpr uint32_t IDS_MENU_JOB_RELEASE = 61007;
constexpr uint32_t IDS_MENU_JOB_STOP = 61008;
constexpr uint32_t IDS_MENU_JOB_DELETE = 61009;
constexpr uint32_t IDS_MENU_JOB_TRANSFER = 61010;
constexpr uint32_t IDS_MENU_TOOLS = 61011;
constexpr uint32_t IDS_MENU_SEND_VIA_LPR = 61012;
constexpr uint32_t IDS_MENU_COPY_TO_PRINTER = 61013;
// The job list's context menu names the job's Stop command differently from the main menu.
constexpr uint32_t IDS_CONTEXT_JOB_STOP = 61014;

// Tray icon menu and tooltip.
constexpr uint32_t IDS_TRAY_START = 61020;
constexpr uint32_t IDS_TRAY_INTERFACE = 61021;
constexpr uint32_t IDS_TRAY_TOOLTIP = 61022;

// Status-bar prompts of the commands that have no prompt in the core table.
constexpr uint32_t IDS_PROMPT_EXIT = 61030;
constexpr uint32_t IDS_PROMPT_INTERFACE = 61031;

// Status bar: the idle text and the lock-key indicators.
constexpr uint32_t IDS_STATUS_IDLE = 61040;
constexpr uint32_t IDS_INDICATOR_CAPS = 61041;
constexpr uint32_t IDS_INDICATOR_NUM = 61042;
constexpr uint32_t IDS_INDICATOR_SCROLL = 61043;
constexpr uint32_t IDS_TOOLBAR_TITLE = 61044;

// Job list column headers, in column order.
constexpr uint32_t IDS_COLUMN_STATUS = 61050;
constexpr uint32_t IDS_COLUMN_FILE_NAME = 61051;
constexpr uint32_t IDS_COLUMN_DATE = 61052;
constexpr uint32_t IDS_COLUMN_SIZE = 61053;
constexpr uint32_t IDS_COLUMN_OWNER = 61054;
constexpr uint32_t IDS_COLUMN_TYPE = 61055;
constexpr uint32_t IDS_COLUMN_PRINTER = 61056;
constexpr uint32_t IDS_COLUMN_LOCAL_FILE_NAME = 61057;

}  // namespace velmora
