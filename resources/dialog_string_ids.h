// Ids of the dialogs' texts (resources/dialog_strings.cpp). Each dialog has a block of a hundred ids:
// 62000 + 100 * (dialog resource - 135). Inside a block, a control's text has the id block + (control id -
// 1000); texts of controls without an id of their own take 50 and up, the title is 99. Texts that several
// dialogs share and the dialogs' messages are in the 62900s. Never renumber one.
#pragma once

#include <cstdint>

namespace velmora {

// Dialog 135, "Server configuration".
constexpr uint32_t IDS_DLG_SERVER_NEW = 62001;
constexpr uint32_t IDS_DLG_SERVER_DELETE = 62002;
constexpr uint32_t IDS_DLG_SERVER_LOCAL_MODE = 62003;
constexpr uint32_t IDS_DLG_SERVER_PROGRAM_MODE = 62004;
constexpr uint32_t IDS_DLG_SERVER_HOLD_JOBS = 62008;
constexpr uint32_t IDS_DLG_SERVER_LPD_MODE = 62010;
constexpr uint32_t IDS_DLG_SERVER_NAME_LABEL = 62023;
constexpr uint32_t IDS_DLG_SERVER_LOCAL_PRINTER_LABEL = 62024;
constexpr uint32_t IDS_DLG_SERVER_INPUT_BIN_LABEL = 62025;
constexpr uint32_t IDS_DLG_SERVER_OUTPUT_BIN_LABEL = 62026;
constexpr uint32_t IDS_DLG_SERVER_PROGRAM_PRINTER_LABEL = 62027;
constexpr uint32_t IDS_DLG_SERVER_PROGRAM_LABEL = 62028;
constexpr uint32_t IDS_DLG_SERVER_IP_ADDRESS_LABEL = 62029;
constexpr uint32_t IDS_DLG_SERVER_QUEUE_LABEL = 62030;
constexpr uint32_t IDS_DLG_SERVER_STATUS_PORT_LABEL = 62031;
constexpr uint32_t IDS_DLG_SERVER_SETTINGS_GROUP = 62032;
constexpr uint32_t IDS_DLG_SERVER_PARAMETERS = 62044;
constexpr uint32_t IDS_DLG_SERVER_SAVE = 62091;
constexpr uint32_t IDS_DLG_SERVER_TITLE = 62099;

// Dialog 136, "Spooled file configuration".
constexpr uint32_t IDS_DLG_SPOOL_PRINTER_LABEL = 62123;
constexpr uint32_t IDS_DLG_SPOOL_INFORMATION_GROUP = 62124;
constexpr uint32_t IDS_DLG_SPOOL_TITLE = 62199;

// Dialog 137, "Printer configuration".
constexpr uint32_t IDS_DLG_NEW_PRINTER_NAME_LABEL = 62250;
constexpr uint32_t IDS_DLG_NEW_PRINTER_TITLE = 62299;

// Dialog 138, "Preferences".
constexpr uint32_t IDS_DLG_PREF_AUTO_START = 62315;
constexpr uint32_t IDS_DLG_PREF_AUTO_DELETE = 62316;
constexpr uint32_t IDS_DLG_PREF_AUTO_HIDE = 62317;
constexpr uint32_t IDS_DLG_PREF_STRESS = 62318;
constexpr uint32_t IDS_DLG_PREF_DISPLAY_LOG = 62319;
constexpr uint32_t IDS_DLG_PREF_START_AS_SERVICE = 62320;
constexpr uint32_t IDS_DLG_PREF_PORT_LABEL = 62325;
constexpr uint32_t IDS_DLG_PREF_ALLOWED_LABEL = 62326;
// Under the list: how to write it.
constexpr uint32_t IDS_DLG_PREF_ALLOWED_HELP = 62327;
// An entry of the list that is neither an address nor a network; %s is the entry.
constexpr uint32_t IDS_DLG_PREF_ALLOWED_BAD = 62328;
constexpr uint32_t IDS_DLG_PREF_LOG_NORMAL = 62345;
constexpr uint32_t IDS_DLG_PREF_LOG_DETAILED = 62346;
constexpr uint32_t IDS_DLG_PREF_DELETE_SPOOL = 62347;
constexpr uint32_t IDS_DLG_PREF_TIMEOUT_LABEL = 62349;
constexpr uint32_t IDS_DLG_PREF_STARTUP_GROUP = 62350;
constexpr uint32_t IDS_DLG_PREF_LOG_GROUP = 62351;
constexpr uint32_t IDS_DLG_PREF_SERVER_GROUP = 62352;
constexpr uint32_t IDS_DLG_PREF_TITLE = 62399;

// Dialog 140, "Copy print data stream to Windows printer".
constexpr uint32_t IDS_DLG_COPY_PRINTER_LABEL = 62550;
constexpr uint32_t IDS_DLG_COPY_TITLE = 62599;

// Dialog 141, "Copy selected file via LPR".
constexpr uint32_t IDS_DLG_LPR_DESTINATION_GROUP = 62650;
constexpr uint32_t IDS_DLG_LPR_IP_ADDRESS_LABEL = 62651;
constexpr uint32_t IDS_DLG_LPR_QUEUE_LABEL = 62652;
constexpr uint32_t IDS_DLG_LPR_TITLE = 62699;

// Messages of the dialogs.
// A value that Printer.cfg cannot hold (";", CR or LF); %s is the label of its control.
constexpr uint32_t IDS_DLG_VALUE_NOT_STORABLE = 62900;
// The same for the name of a new virtual printer.
constexpr uint32_t IDS_DLG_NAME_NOT_STORABLE = 62901;
// The log could not be opened in the text editor; %s is the command line.
constexpr uint32_t IDS_DLG_EDITOR_FAILED = 62902;

// Texts that several dialogs share.
constexpr uint32_t IDS_DLG_OPEN_FILE_TITLE = 62950;
constexpr uint32_t IDS_DLG_OK = 62991;
constexpr uint32_t IDS_DLG_CANCEL = 62992;

}  // namespace velmora
