// The start of every receive-job exchange: the first line (command 02 and the queue), its answer, and the
// line of the job's first subcommand. The listener takes it for connections that have no thread yet; the
// greeting keeps what happened, and the thread that goes on with the connection (or the listener, for one
// that ends there) writes its log lines from it, so that a session's lines all carry one thread number.
#pragma once

#include <cstdint>
#include <string>

#include "config/printer_list.h"
#include "net/lpd_connection.h"
#include "net/lpd_log.h"

namespace velmora {

struct CLpdGreeting {
    enum class Step { FirstLine, Subcommand, Done };
    // The line awaited; Done once the first subcommand line is held in the connection's buffer.
    Step Reached = Step::FirstLine;
    // The exchange ended at the step reached: its reception failed (Error) or the first line was refused.
    bool Ended = false;
    int32_t Error = 0;
    int32_t SizeRead = 0;
    // The peer's address in dotted decimal.
    std::string Peer;
    int8_t Command = 0;
    std::u16string Queue;
    bool Exists = false;
    bool Hold = false;
    // Of the acknowledgement of the queue line (0: sent).
    int32_t AckError = 0;
};

// The first line is held in the connection's buffer: reads the command and the queue and answers (0x00
// for a queue that exists, 0x01 for one that does not, nothing for another command). On success the
// greeting awaits the first subcommand; otherwise it has ended.
void AnswerFirstLine(LpdConnection* connection, const CPrinterList& printers, CLpdGreeting* greeting);
// The reception of the awaited line failed with the connection's error.
void EndGreeting(const LpdConnection& connection, CLpdGreeting* greeting);
// Takes the whole greeting as a session thread does, waiting as receptions wait.
void ReceiveGreeting(LpdConnection* connection, const CPrinterList& printers, CLpdGreeting* greeting);
// "Accept from" and the lines of each step reached, in the order they happened.
void LogGreeting(const CLpdLog& log, const CLpdGreeting& greeting, int socket);

}  // namespace velmora
