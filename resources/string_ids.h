// Ids of the string table (resources/string_table.cpp). The numbers are part of the resources' identity
// and are shared by the English, French and Japanese tables; never renumber one.
#pragma once

#include <cstdint>

namespace velmora {

// Messages of the configuration and preferences dialogs.
constexpr uint32_t IDS_PRINTER_NAME_BLANK = 110;
constexpr uint32_t IDS_PRINTER_EXISTS = 111;
constexpr uint32_t IDS_RESTART_REQUIRED = 112;
constexpr uint32_t IDS_BAD_LPD_PORT = 113;
constexpr uint32_t IDS_PRINTER_NOT_FOUND = 114;

// Display texts of the job states, in state order (Ready = 0 ... Error = 4).
constexpr uint32_t IDS_STATE_READY = 115;
constexpr uint32_t IDS_STATE_HELD = 116;
constexpr uint32_t IDS_STATE_SAVED = 117;
constexpr uint32_t IDS_STATE_PRINTING = 118;
constexpr uint32_t IDS_STATE_ERROR = 119;

// Toolbar button texts.
constexpr uint32_t IDS_START = 120;
constexpr uint32_t IDS_STOP = 121;
constexpr uint32_t IDS_CONFIGURE = 122;

// Labels of the external program's command-line parameters %1 to %C. The ids do not follow the
// parameter order: %5 is 135, %6 is 133, %7..%8 are 136..137, %9 is 134.
constexpr uint32_t IDS_PARAM_LOCAL_FILE = 129;
constexpr uint32_t IDS_PARAM_PRINTER_NAME = 130;
constexpr uint32_t IDS_PARAM_DRIVER_NAME = 131;
constexpr uint32_t IDS_PARAM_PORT_NAME = 132;
constexpr uint32_t IDS_PARAM_OWNER = 133;
constexpr uint32_t IDS_PARAM_FILE_TYPE = 134;
constexpr uint32_t IDS_PARAM_DOCUMENT_NAME = 135;
constexpr uint32_t IDS_PARAM_DATE_INSERTED = 136;
constexpr uint32_t IDS_PARAM_FILE_SIZE = 137;
constexpr uint32_t IDS_PARAM_SOURCE_HOST = 138;
constexpr uint32_t IDS_PARAM_JOB_NAME = 139;
constexpr uint32_t IDS_PARAM_JOB_CLASS = 140;
constexpr uint32_t IDS_PARAMETER_LIST = 141;

constexpr uint32_t IDS_SPOOL_LIST_CORRUPTED = 150;

// Status-bar prompts of the menu, toolbar and tray commands: a command's prompt is the string with the
// command's own id. A "\n" separates the prompt from the tooltip where the command has a toolbar button.
constexpr uint32_t IDS_CMD_SERVER_STARTING = 32771;
constexpr uint32_t IDS_CMD_JOB_RELEASE = 32777;
constexpr uint32_t IDS_CMD_JOB_STOP = 32778;
constexpr uint32_t IDS_CMD_JOB_DELETE = 32779;
constexpr uint32_t IDS_CMD_JOB_TRANSFER = 32780;
constexpr uint32_t IDS_CMD_SPOOLER_START = 32781;
constexpr uint32_t IDS_CMD_SPOOLER_STOP = 32782;
constexpr uint32_t IDS_CMD_CONFIGURATION = 32783;
constexpr uint32_t IDS_CMD_PREFERENCES = 32786;
constexpr uint32_t IDS_CMD_SEND_VIA_LPR = 32787;
constexpr uint32_t IDS_CMD_COPY_TO_PRINTER = 32788;

// Unit word of the job size text "%d %s".
constexpr uint32_t IDS_BYTES = 32810;

// Application title: caption of every message box.
constexpr uint32_t IDS_APP_TITLE = 57344;

}  // namespace velmora
