// Ids of the texts of the command-line administration tool (resources/admin_strings.cpp).
#pragma once

#include <cstdint>

namespace velmora {

// The whole --help text.
constexpr uint32_t IDS_ADMIN_USAGE = 64000;
// After a mistake in the command line.
constexpr uint32_t IDS_ADMIN_TRY_HELP = 64001;
// %s: the command.
constexpr uint32_t IDS_ADMIN_UNKNOWN_COMMAND = 64002;
// %s: the option or argument as written.
constexpr uint32_t IDS_ADMIN_UNKNOWN_OPTION = 64003;
constexpr uint32_t IDS_ADMIN_MISSING_ARGUMENT = 64004;
// %s: the virtual printer's name.
constexpr uint32_t IDS_ADMIN_NO_PRINTER = 64005;
// %s: the field or key.
constexpr uint32_t IDS_ADMIN_NOT_STORABLE = 64006;
// %s: the value, %s: the field or key.
constexpr uint32_t IDS_ADMIN_BAD_VALUE = 64007;
// %s: the key.
constexpr uint32_t IDS_ADMIN_UNKNOWN_SETTING = 64008;
constexpr uint32_t IDS_ADMIN_NOT_ALLOWED = 64009;
constexpr uint32_t IDS_ADMIN_SERVER_RUNNING = 64010;
// %s: the file.
constexpr uint32_t IDS_ADMIN_UNWRITABLE = 64011;
constexpr uint32_t IDS_ADMIN_NO_ANSWER = 64012;
// %s: the job.
constexpr uint32_t IDS_ADMIN_NO_JOB = 64013;
// %s: the job, %s: its state.
constexpr uint32_t IDS_ADMIN_JOB_STATE = 64014;
// Column titles of the printer table.
constexpr uint32_t IDS_ADMIN_COLUMN_NAME = 64020;
constexpr uint32_t IDS_ADMIN_COLUMN_ROUTE = 64021;
constexpr uint32_t IDS_ADMIN_COLUMN_HOLD = 64022;
constexpr uint32_t IDS_ADMIN_COLUMN_DESTINATION = 64023;
constexpr uint32_t IDS_ADMIN_YES = 64024;
constexpr uint32_t IDS_ADMIN_NO = 64025;
// %s: the host, %s: the queue.
constexpr uint32_t IDS_ADMIN_FORWARD_TO = 64026;
// %s: the printer of a program route.
constexpr uint32_t IDS_ADMIN_PROGRAM_PRINTER = 64027;
constexpr uint32_t IDS_ADMIN_NO_LOCAL_PRINTER = 64028;
// Column titles of the job table.
constexpr uint32_t IDS_ADMIN_COLUMN_JOB = 64030;
constexpr uint32_t IDS_ADMIN_COLUMN_STATE = 64031;
constexpr uint32_t IDS_ADMIN_COLUMN_PRINTER = 64032;
constexpr uint32_t IDS_ADMIN_COLUMN_DOCUMENT = 64033;
constexpr uint32_t IDS_ADMIN_COLUMN_OWNER = 64034;
constexpr uint32_t IDS_ADMIN_COLUMN_SIZE = 64035;
constexpr uint32_t IDS_ADMIN_COLUMN_DATE = 64036;
constexpr uint32_t IDS_ADMIN_COLUMN_ERROR = 64037;

}  // namespace velmora
