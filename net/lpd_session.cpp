// The receive-job session: one connection, one print job into one queue.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "core/language.h"
#include "core/my_file.h"
#include "net/job_intake.h"
#include "net/lpd_greeting.h"
#include "net/lpd_server.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "text/code_page.h"
#include "text/format.h"
#include "text/text_util.h"

namespace velmora {

namespace {

// RFC 1179 control files are a few lines; a larger announcement is refused rather than allocated.
constexpr int32_t MAX_CONTROL_FILE_SIZE = 1 << 20;
// Data files stream to disk in pieces of this size: large enough for the disk's speed, small enough to
// keep every connection's memory small.
constexpr int32_t DATA_CHUNK = 64 * 1024;
// Clients that cannot know a data file's length announce a length beyond any real file: twelve nines, or
// more. Such a length, like 0, means the data run until the client closes the connection; any other is
// exact, however far beyond 32 bits.
constexpr int64_t DATA_LENGTH_UNKNOWN = 999999999999;

// A file length as clients send it, read without overflow: white space, an optional sign, digits.
int64_t ParseCount(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t\n\v\f\r");
    if (i == std::string::npos)
        return 0;
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+')
        ++i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value > (INT64_MAX - 9) / 10 ? INT64_MAX : value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

class CLpdSession {
  public:
    CLpdSession(std::unique_ptr<LpdConnection> connection, const CLpdServerParts& parts,
                const CLpdSessionPlace& place)
        : Parts(parts),
          Place(place),
          Connection(std::move(connection)),
          Out{parts.Reporter, parts.Reporter.ModeDigit(), static_cast<int>(platform::CurrentThreadId()),
              parts.Settings.LogLevel == 2} {}

    void Run(const CLpdGreeting& greeting);

  private:
    template <typename... Args>
    void Log(std::u16string_view format, const Args&... args) {
        Out.Log(format, args...);
    }
    template <typename... Args>
    void Trace(std::u16string_view format, const Args&... args) {
        Out.Trace(format, args...);
    }
    int Socket() const { return static_cast<int>(Connection->Socket.Get()); }
    std::u16string Error() const { return SocketErrorName(Connection->Error); }

    // With the first subcommand line received.
    bool ReceiveJob();
    void ReceiveControlFile();
    void ReceiveDataFile();
    // The count and file name of a 02 or 03 subcommand line.
    int64_t ReadFileDescription();
    // Receives count bytes into the spool file, or, for an unannounced length, everything up to the
    // client's close. Returns false with the failure logged.
    bool ReceiveData(int64_t count, bool untilClose);
    bool WriteSpool();
    // Before the acknowledgement of a file that completes the job (a control file and data): the job is
    // recorded so that it survives a crash. False when it could not be; the reception then fails.
    bool RecordIfComplete();
    // Stress runs of the desktop program receive jobs without keeping them; the service keeps every job.
    bool KeepsJobs() const { return Parts.Settings.Stress == 0 || Out.Mode == 1; }
    // A reception that broke after its job was acknowledged keeps the job as acknowledged.
    bool KeepAcknowledgedJob();
    void Discard();

    const CLpdServerParts& Parts;
    const CLpdSessionPlace& Place;
    std::unique_ptr<LpdConnection> Connection;
    const CLpdLog Out;
    bool Continue = true;
    // The client closed the connection at the end of a complete data file: the job is complete.
    bool Closed = false;
    // The client sent the abort subcommand.
    bool Aborted = false;
    bool ControlReceived = false;
    bool DataReceived = false;
    // The job was recorded with its data file holding this many bytes.
    bool Recorded = false;
    int64_t RecordedLength = 0;
    SpoolFilePtr Job;
    platform::CNativeFile SpoolFile;
};

void CLpdSession::Run(const CLpdGreeting& greeting) {
    SelectLanguage();
    LogGreeting(Out, greeting, Socket());
    if (greeting.Reached != CLpdGreeting::Step::Done)
        return;
    // The job and its spool file come with its first subcommand: a connection that never sends one costs
    // no file.
    Job = CreateSpoolJob(Place.SpoolFolder, greeting.Queue, static_cast<uint32_t>(Out.Thread));
    if (greeting.Hold)
        Job->SetHeld();
    Job->SourceHost = platform::AnsiToUnicode(greeting.Peer);

    bool received = ReceiveJob();
    if (!received && Connection->Cut && *Connection->Cut) {
        Log(u"%d\tLPD (%d): Reception cut by the server's stop (%s)",
            Recorded ? u"the acknowledged job is kept" : u"the unfinished job is discarded");
    }
    received = received || KeepAcknowledgedJob();
    SpoolFile.Close();
    if (received && KeepsJobs()) {
        Parts.Jobs.AddSpoolJob(std::move(Job), static_cast<uint32_t>(Out.Thread));
    } else {
        if (Recorded)
            Parts.Jobs.ForgetReceivedJob(*Job);
        Discard();
    }
}

bool CLpdSession::RecordIfComplete() {
    if (!ControlReceived || !DataReceived || !KeepsJobs())
        return true;
    const int64_t length = SpoolFile.Length();
    if (!Parts.Jobs.RecordReceivedJob(*Job, length, SpoolFile)) {
        Log(u"%d\tLPD (%d): Unable to record the job %s in the job journal", Job->LocalFileName);
        return false;
    }
    Recorded = true;
    RecordedLength = length;
    return true;
}

bool CLpdSession::KeepAcknowledgedJob() {
    if (!Recorded || Aborted)
        return false;
    // What arrived after the acknowledgement is not part of the acknowledged job.
    SpoolFile.SetLength(RecordedLength);
    Log(u"%d\tLPD (%d): Reception ended after the job was acknowledged; the job is kept: %s",
        Job->LocalFileName);
    return true;
}

bool CLpdSession::ReceiveJob() {
    if (SpoolFile.Open(Job->LocalFileName,
                       platform::OPEN_READ_WRITE | platform::OPEN_CREATE | platform::OPEN_NO_TRUNCATE)) {
        Log(u"%d\tLPD (%d): Unable to create : %s", Job->LocalFileName);
        return false;
    }
    Trace(u"%d\tLPD (%d): Client file created: %s", Job->LocalFileName);

    while (Continue) {
        const int8_t subcommand = NextByte(Connection.get());
        if (subcommand == 0x01) {
            Log(u"%d\tLPD (%d): Received command to abort job");
            Continue = false;
            Aborted = true;
            SendByte(Connection.get(), 0x00);
            break;
        }
        if (subcommand == 0x02 || subcommand == 0x03) {
            subcommand == 0x02 ? ReceiveControlFile() : ReceiveDataFile();
            if (!Continue || Closed)
                break;
        } else {
            // An unknown subcommand gets no reply, so its client may already have sent the next line
            // behind it: a complete line that arrived with it is served, not dropped.
            ReadToken(Connection.get(), '\n');
            const char* rest = Connection->Buffer.get() + Connection->Position;
            if (HasMoreBytes(Connection.get()) &&
                std::memchr(rest, '\n',
                            static_cast<std::size_t>(Connection->Length - Connection->Position))) {
                continue;
            }
        }
        if (ReceiveBytes(Connection.get(), -1) != 0) {
            // The client closing the connection after its last file is the end of a complete job.
            if (Connection->Error == CONNECTION_CLOSED)
                break;
            Log(u"%d\tLPD (%d): ERROR RECV Next Job subcommand (socket=%d, error=%s, size_read=%d)", Socket(),
                Error(), Connection->Length);
            Continue = false;
        }
    }
    return Continue;
}

int64_t CLpdSession::ReadFileDescription() {
    const int64_t count = ParseCount(ReadToken(Connection.get(), ' '));
    Job->ReceivedFileName = platform::AnsiToUnicode(ReadToken(Connection.get(), '\n'));
    return count;
}

void CLpdSession::ReceiveControlFile() {
    bool failed = false;
    Trace(u"%d\tLPD (%d): Received Control File description");
    const int64_t count = ReadFileDescription();
    Trace(u"%d\tLPD (%d): CFA Length = %d, CFA Name = %s", count, Job->ReceivedFileName);
    if (SendByte(Connection.get(), 0x00) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for CFA description (socket=%d, error=%s)",
            Socket(), Error());
        failed = true;
    } else {
        Trace(u"%d\tLPD (%d): Sent acknowledgement for CFA description (socket=%d)", Socket());
        // A negative or oversized count fails like a reception that could not be allocated.
        int result = -1;
        if (count < 0 || count > MAX_CONTROL_FILE_SIZE) {
            Connection->Buffer.reset();
            Connection->Length = Connection->Position = 0;
            Connection->Error = ERROR_ALLOCATION;
        } else {
            result = ReceiveBytes(Connection.get(), static_cast<int32_t>(count));
        }
        if (result != 0) {
            Log(u"%d\tLPD (%d): ERROR RECV for Control File (socket=%d, error=%s, total_size=%d, "
                u"size_read=%d)",
                Socket(), Error(), count, Connection->Length);
            failed = true;
        } else {
            Trace(u"%d\tLPD (%d): Received Control File");
            std::u16string text = FromBytes1252(
                std::string_view(Connection->Buffer.get(), static_cast<std::size_t>(Connection->Length)));
            // The text ends at its first zero unit.
            text.resize(std::min(text.find(u'\0'), text.size()));
            Job->ControlFile += text;
            if (ReceiveEndOfFile(Connection.get()) != 0) {
                Log(u"%d\tLPD (%d): ERROR CHECKING END DATA for Control File (socket=%d, error=%s)", Socket(),
                    Error());
                failed = true;
            }
        }
    }
    ControlReceived = ControlReceived || !failed;
    if (!failed && !RecordIfComplete())
        failed = true;
    if (failed)
        Continue = false;
    if (SendAck(Connection.get(), failed) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for CFA reception (socket=%d, error=%s)", Socket(),
            Error());
        Continue = false;
    } else {
        Trace(u"%d\tLPD (%d): Sent %s for CFA reception (socket=%d)", failed ? u"NACK" : u"ACK", Socket());
    }
}

bool CLpdSession::WriteSpool() {
    const platform::CFileError written =
        SpoolFile.Write(Connection->Buffer.get(), static_cast<std::size_t>(Connection->Length));
    if (!written)
        return true;
    // A full disk or an I/O error loses the job as surely as a broken connection.
    Log(u"%d\tLPD (%d): Unable to write the spool file %s (%s)", Job->LocalFileName, written.Description());
    return false;
}

bool CLpdSession::ReceiveData(int64_t count, bool untilClose) {
    int64_t received = 0;
    for (;;) {
        if (!untilClose && received == count)
            return true;
        const int32_t chunk =
            untilClose ? DATA_CHUNK : static_cast<int32_t>(std::min<int64_t>(DATA_CHUNK, count - received));
        const int result =
            untilClose ? ReceiveSome(Connection.get(), chunk) : ReceiveBytes(Connection.get(), chunk);
        if (result != 0) {
            if (untilClose && Connection->Error == CONNECTION_CLOSED) {
                Closed = true;
                return true;
            }
            Log(u"%d\tLPD (%d): ERROR RECV for Data File (socket=%d, error=%s, total_size=%d, "
                u"size_already_read=%d, size_read=%d)",
                Socket(), Error(), count, received, Connection->Length);
            return false;
        }
        if (!WriteSpool())
            return false;
        received += Connection->Length;
    }
}

void CLpdSession::ReceiveDataFile() {
    bool failed = false;
    Trace(u"%d\tLPD (%d): Received Data File description");
    const int64_t count = ReadFileDescription();
    Trace(u"%d\tLPD (%d): DFA Length = %d, DFA Name = %s", count, Job->ReceivedFileName);
    if (SendByte(Connection.get(), 0x00) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for DFA description (socket=%d, error=%s)",
            Socket(), Error());
        failed = true;
    } else {
        Trace(u"%d\tLPD (%d): Sent acknowledgement for DFA description (socket=%d)", Socket());
        const bool untilClose = count == 0 || count >= DATA_LENGTH_UNKNOWN;
        if (count < 0) {
            // Nothing to receive for a negative count; the end byte follows at once.
        } else if (!ReceiveData(count, untilClose)) {
            failed = true;
        }
        if (!failed && !Closed && ReceiveEndOfFile(Connection.get()) != 0) {
            // All announced bytes arrived and the client closed instead of sending the end byte: the file
            // is complete all the same.
            if (Connection->Error == CONNECTION_CLOSED) {
                Closed = true;
            } else {
                Log(u"%d\tLPD (%d): ERROR CHECKING END DATA for Data File (socket=%d, error=%s)", Socket(),
                    Error());
                failed = true;
            }
        }
    }
    DataReceived = DataReceived || !failed;
    if (!failed && !RecordIfComplete())
        failed = true;
    if (failed)
        Continue = false;
    if (Closed) {
        // The client has gone; an acknowledgement can only reach one that merely stopped sending.
        SendAck(Connection.get(), failed);
        return;
    }
    if (SendAck(Connection.get(), failed) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for DFA reception (socket=%d, error=%s)", Socket(),
            Error());
        Continue = false;
    } else {
        Trace(u"%d\tLPD (%d): Sent %s for DFA reception (socket=%d)", failed ? u"NACK" : u"ACK", Socket());
    }
}

void CLpdSession::Discard() {
    RemoveFileWithRetry(Job->LocalFileName, Parts.Settings.AccessFile_MaxAttempts,
                        Parts.Settings.AccessFile_WaitingTimeMsec, nullptr, 0);
    Job.reset();
}

}  // namespace

void LpdClientThread(std::unique_ptr<LpdConnection> connection, const CLpdServerParts& parts,
                     const CLpdSessionPlace& place) {
    CLpdGreeting greeting;
    ReceiveGreeting(connection.get(), parts.PrinterList, &greeting);
    LpdSessionThread(std::move(connection), greeting, parts, place);
}

void LpdSessionThread(std::unique_ptr<LpdConnection> connection, const CLpdGreeting& greeting,
                      const CLpdServerParts& parts, const CLpdSessionPlace& place) {
    CLpdSession(std::move(connection), parts, place).Run(greeting);
}

}  // namespace velmora
