#include "net/lpd_greeting.h"

#include "platform/ansi.h"

namespace velmora {

void AnswerFirstLine(LpdConnection* connection, const CPrinterList& printers, CLpdGreeting* greeting) {
    greeting->Command = NextByte(connection);
    greeting->Ended = true;
    if (greeting->Command != 0x02)
        return;
    greeting->Queue = platform::AnsiToUnicode(ReadToken(connection, '\n'));
    greeting->Exists = printers.FindVirtualPrinter(greeting->Queue, &greeting->Hold);
    if (!greeting->Exists) {
        SendByte(connection, 0x01);
        return;
    }
    if (SendByte(connection, 0x00) != 0) {
        greeting->AckError = connection->Error;
        return;
    }
    greeting->Ended = false;
    greeting->Reached = CLpdGreeting::Step::Subcommand;
}

void EndGreeting(const LpdConnection& connection, CLpdGreeting* greeting) {
    greeting->Ended = true;
    greeting->Error = connection.Error;
    greeting->SizeRead = connection.Length;
}

void ReceiveGreeting(LpdConnection* connection, const CPrinterList& printers, CLpdGreeting* greeting) {
    greeting->Peer = platform::AddressText(*connection->Peer);
    if (ReceiveBytes(connection, -1) != 0) {
        EndGreeting(*connection, greeting);
        return;
    }
    AnswerFirstLine(connection, printers, greeting);
    if (greeting->Ended)
        return;
    if (ReceiveBytes(connection, -1) != 0) {
        EndGreeting(*connection, greeting);
        return;
    }
    greeting->Reached = CLpdGreeting::Step::Done;
}

namespace {

// The lines of the first line's answer; false when the exchange ended there.
bool LogAnswer(const CLpdLog& log, const CLpdGreeting& greeting, int socket) {
    if (greeting.Command != 0x02) {
        log.Log(u"%d\tLPD (%d): Unknown method (modeLPD=%d)", greeting.Command);
        return false;
    }
    log.Trace(u"%d\tLPD (%d): Receiving a job (modeLPD=%d)", greeting.Command);
    log.Trace(u"%d\tLPD (%d): Received Queue name -> %s", greeting.Queue);
    if (!greeting.Exists) {
        log.Log(u"%d\tLPD (%d): Queue %s does not exist", greeting.Queue);
        return false;
    }
    log.Trace(u"%d\tLPD (%d): Queue %s exists", greeting.Queue);
    if (greeting.AckError != 0) {
        log.Log(u"%d\tLPD (%d): Unable to send acknowledgement for queue reception (socket=%d, error=%s)",
                socket, SocketErrorName(greeting.AckError));
        return false;
    }
    log.Trace(u"%d\tLPD (%d): Sent acknowledgement for queue reception (socket=%d)", socket);
    return true;
}

}  // namespace

void LogGreeting(const CLpdLog& log, const CLpdGreeting& greeting, int socket) {
    using Step = CLpdGreeting::Step;
    log.Log(u"%d\tLPD (%d): Accept from %S", greeting.Peer);
    if (greeting.Reached == Step::FirstLine && greeting.Ended && greeting.Error != 0) {
        log.Log(u"%d\tLPD (%d): ERROR RECV for modeLPD (socket=%d, error=%s, size_read=%d)", socket,
                SocketErrorName(greeting.Error), greeting.SizeRead);
        return;
    }
    if (!LogAnswer(log, greeting, socket) || greeting.Reached != Step::Subcommand)
        return;
    log.Log(u"%d\tLPD (%d): ERROR RECV Job subcommand (socket=%d, error=%s, size_read=%d)", socket,
            SocketErrorName(greeting.Error), greeting.SizeRead);
}

}  // namespace velmora
