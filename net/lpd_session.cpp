// The receive-job session: one connection, one print job into one queue.
#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "core/language.h"
#include "net/job_intake.h"
#include "net/lpd_server.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "core/my_file.h"
#include "text/code_page.h"
#include "text/format.h"
#include "text/text_util.h"

namespace velmora {

namespace {

// RFC 1179 control files are a few lines; a larger announcement is refused rather than allocated.
constexpr int32_t kMaxControlFileSize = 1 << 20;
// Data files stream to disk in pieces of this size: large enough for the disk's speed, small enough to
// keep every connection's memory small.
constexpr int32_t kDataChunk = 64 * 1024;

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

class Session {
  public:
    Session(std::unique_ptr<LpdConnection> connection, const CLpdServerParts& parts, const CLpdSessionPlace& place)
        : parts_(parts),
          place_(place),
          connection_(std::move(connection)),
          mode_(parts.Reporter.ModeDigit()),
          thread_(static_cast<int>(platform::CurrentThreadId())),
          detailed_(parts.Settings.LogLevel == 2) {}

    void Run();

  private:
    template <typename... Args>
    void Log(std::u16string_view format, const Args&... args) {
        parts_.Reporter.WriteLog(Format(format, mode_, thread_, args...));
    }
    template <typename... Args>
    void Trace(std::u16string_view format, const Args&... args) {
        if (detailed_)
            Log(format, args...);
    }
    int Socket() const { return static_cast<int>(connection_->socket.Get()); }
    std::u16string Error() const { return SocketErrorName(connection_->error); }

    bool ReceiveJob(const std::u16string& queue);
    void ReceiveControlFile();
    void ReceiveDataFile();
    // The count and file name of a 02 or 03 subcommand line.
    int64_t ReadFileDescription();
    // Receives count bytes into the spool file, or, for an unannounced length, everything up to the
    // client's close. Returns false with the failure logged.
    bool ReceiveData(int64_t count, bool untilClose);
    bool WriteSpool();
    void Discard();

    const CLpdServerParts& parts_;
    const CLpdSessionPlace& place_;
    std::unique_ptr<LpdConnection> connection_;
    const int mode_;
    const int thread_;
    const bool detailed_;
    bool continue_ = true;
    // The client closed the connection at the end of a complete data file: the job is complete.
    bool closed_ = false;
    SpoolFilePtr job_;
    platform::NativeFile spoolFile_;
};

void Session::Run() {
    SelectLanguage();
    const std::string peer = platform::AddressText(*connection_->peer);
    Log(u"%d\tLPD (%d): Accept from %S", peer);

    if (ReceiveBytes(connection_.get(), -1) != 0) {
        Log(u"%d\tLPD (%d): ERROR RECV for modeLPD (socket=%d, error=%s, size_read=%d)", Socket(), Error(),
            connection_->length);
        return;
    }
    const int8_t command = NextByte(connection_.get());
    if (command != 0x02) {
        Log(u"%d\tLPD (%d): Unknown method (modeLPD=%d)", command);
        return;
    }
    Trace(u"%d\tLPD (%d): Receiving a job (modeLPD=%d)", command);
    const std::u16string queue = platform::AnsiToUnicode(ReadToken(connection_.get(), '\n'));
    Trace(u"%d\tLPD (%d): Received Queue name -> %s", queue);

    bool hold = false;
    if (!parts_.PrinterList.FindVirtualPrinter(queue, &hold)) {
        Log(u"%d\tLPD (%d): Queue %s does not exist", queue);
        SendByte(connection_.get(), 0x01);
        return;
    }
    Trace(u"%d\tLPD (%d): Queue %s exists", queue);
    if (SendByte(connection_.get(), 0x00) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for queue reception (socket=%d, error=%s)",
            Socket(), Error());
        return;
    }
    Trace(u"%d\tLPD (%d): Sent acknowledgement for queue reception (socket=%d)", Socket());

    job_ = CreateSpoolJob(place_.SpoolFolder, queue, static_cast<uint32_t>(thread_));
    if (hold)
        job_->SetHeld();
    job_->SourceHost = platform::AnsiToUnicode(peer);

    const bool received = ReceiveJob(queue);
    spoolFile_.Close();
    // Stress runs of the desktop program receive jobs without keeping them; the service keeps every job.
    if (received && (parts_.Settings.Stress == 0 || mode_ == 1)) {
        parts_.Jobs.AddSpoolJob(std::move(job_), static_cast<uint32_t>(thread_));
    } else {
        Discard();
    }
}

bool Session::ReceiveJob(const std::u16string&) {
    if (spoolFile_.Open(job_->LocalFileName,
                        platform::kOpenReadWrite | platform::kOpenCreate | platform::kOpenNoTruncate)) {
        Log(u"%d\tLPD (%d): Unable to create : %s", job_->LocalFileName);
        return false;
    }
    Trace(u"%d\tLPD (%d): Client file created: %s", job_->LocalFileName);

    if (ReceiveBytes(connection_.get(), -1) != 0) {
        Log(u"%d\tLPD (%d): ERROR RECV Job subcommand (socket=%d, error=%s, size_read=%d)", Socket(), Error(),
            connection_->length);
        return false;
    }
    while (continue_) {
        const int8_t subcommand = NextByte(connection_.get());
        if (subcommand == 0x01) {
            Log(u"%d\tLPD (%d): Received command to abort job");
            continue_ = false;
            SendByte(connection_.get(), 0x00);
            break;
        }
        if (subcommand == 0x02 || subcommand == 0x03) {
            subcommand == 0x02 ? ReceiveControlFile() : ReceiveDataFile();
            if (!continue_ || closed_)
                break;
        } else {
            // An unknown subcommand gets no reply, so its client may already have sent the next line
            // behind it: a complete line that arrived with it is served, not dropped.
            ReadToken(connection_.get(), '\n');
            const char* rest = connection_->buffer.get() + connection_->position;
            if (HasMoreBytes(connection_.get()) &&
                std::memchr(rest, '\n',
                            static_cast<std::size_t>(connection_->length - connection_->position))) {
                continue;
            }
        }
        if (ReceiveBytes(connection_.get(), -1) != 0) {
            // The client closing the connection after its last file is the end of a complete job.
            if (connection_->error == kConnectionClosed)
                break;
            Log(u"%d\tLPD (%d): ERROR RECV Next Job subcommand (socket=%d, error=%s, size_read=%d)", Socket(),
                Error(), connection_->length);
            continue_ = false;
        }
    }
    return continue_;
}

int64_t Session::ReadFileDescription() {
    const int64_t count = ParseCount(ReadToken(connection_.get(), ' '));
    job_->ReceivedFileName = platform::AnsiToUnicode(ReadToken(connection_.get(), '\n'));
    return count;
}

void Session::ReceiveControlFile() {
    bool failed = false;
    Trace(u"%d\tLPD (%d): Received Control File description");
    const int64_t count = ReadFileDescription();
    Trace(u"%d\tLPD (%d): CFA Length = %d, CFA Name = %s", count, job_->ReceivedFileName);
    if (SendByte(connection_.get(), 0x00) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for CFA description (socket=%d, error=%s)",
            Socket(), Error());
        failed = true;
    } else {
        Trace(u"%d\tLPD (%d): Sent acknowledgement for CFA description (socket=%d)", Socket());
        // A negative or oversized count fails like a reception that could not be allocated.
        int result = -1;
        if (count < 0 || count > kMaxControlFileSize) {
            connection_->buffer.reset();
            connection_->length = connection_->position = 0;
            connection_->error = kErrorAllocation;
        } else {
            result = ReceiveBytes(connection_.get(), static_cast<int32_t>(count));
        }
        if (result != 0) {
            Log(u"%d\tLPD (%d): ERROR RECV for Control File (socket=%d, error=%s, total_size=%d, "
                u"size_read=%d)",
                Socket(), Error(), count, connection_->length);
            failed = true;
        } else {
            Trace(u"%d\tLPD (%d): Received Control File");
            std::u16string text = FromBytes1252(
                std::string_view(connection_->buffer.get(), static_cast<std::size_t>(connection_->length)));
            // The text ends at its first zero unit.
            text.resize(std::min(text.find(u'\0'), text.size()));
            job_->ControlFile += text;
            if (ReceiveEndOfFile(connection_.get()) != 0) {
                Log(u"%d\tLPD (%d): ERROR CHECKING END DATA for Control File (socket=%d, error=%s)", Socket(),
                    Error());
                failed = true;
            }
        }
    }
    if (failed)
        continue_ = false;
    if (SendAck(connection_.get(), failed) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for CFA reception (socket=%d, error=%s)", Socket(),
            Error());
        continue_ = false;
    } else {
        Trace(u"%d\tLPD (%d): Sent %s for CFA reception (socket=%d)", failed ? u"NACK" : u"ACK", Socket());
    }
}

bool Session::WriteSpool() {
    const platform::FileError written =
        spoolFile_.Write(connection_->buffer.get(), static_cast<std::size_t>(connection_->length));
    if (!written)
        return true;
    // A full disk or an I/O error loses the job as surely as a broken connection.
    Log(u"%d\tLPD (%d): Unable to write the spool file %s (%s)", job_->LocalFileName, written.Description());
    return false;
}

bool Session::ReceiveData(int64_t count, bool untilClose) {
    int64_t received = 0;
    for (;;) {
        if (!untilClose && received == count)
            return true;
        const int32_t chunk =
            untilClose ? kDataChunk : static_cast<int32_t>(std::min<int64_t>(kDataChunk, count - received));
        const int result =
            untilClose ? ReceiveSome(connection_.get(), chunk) : ReceiveBytes(connection_.get(), chunk);
        if (result != 0) {
            if (untilClose && connection_->error == kConnectionClosed) {
                closed_ = true;
                return true;
            }
            Log(u"%d\tLPD (%d): ERROR RECV for Data File (socket=%d, error=%s, total_size=%d, "
                u"size_already_read=%d, size_read=%d)",
                Socket(), Error(), count, received, connection_->length);
            return false;
        }
        if (!WriteSpool())
            return false;
        received += connection_->length;
    }
}

void Session::ReceiveDataFile() {
    bool failed = false;
    Trace(u"%d\tLPD (%d): Received Data File description");
    const int64_t count = ReadFileDescription();
    Trace(u"%d\tLPD (%d): DFA Length = %d, DFA Name = %s", count, job_->ReceivedFileName);
    if (SendByte(connection_.get(), 0x00) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for DFA description (socket=%d, error=%s)",
            Socket(), Error());
        failed = true;
    } else {
        Trace(u"%d\tLPD (%d): Sent acknowledgement for DFA description (socket=%d)", Socket());
        // A length of 0, or one beyond 32 bits, is the "unknown length" of real clients: the data runs
        // until the client closes the connection.
        const bool untilClose = count == 0 || count > INT32_MAX;
        if (count < 0) {
            // Nothing to receive for a negative count; the end byte follows at once.
        } else if (!ReceiveData(count, untilClose)) {
            failed = true;
        }
        if (!failed && !closed_ && ReceiveEndOfFile(connection_.get()) != 0) {
            // All announced bytes arrived and the client closed instead of sending the end byte: the file
            // is complete all the same.
            if (connection_->error == kConnectionClosed) {
                closed_ = true;
            } else {
                Log(u"%d\tLPD (%d): ERROR CHECKING END DATA for Data File (socket=%d, error=%s)", Socket(),
                    Error());
                failed = true;
            }
        }
    }
    if (failed)
        continue_ = false;
    if (closed_) {
        // The client has gone; an acknowledgement can only reach one that merely stopped sending.
        SendAck(connection_.get(), false);
        return;
    }
    if (SendAck(connection_.get(), failed) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for DFA reception (socket=%d, error=%s)", Socket(),
            Error());
        continue_ = false;
    } else {
        Trace(u"%d\tLPD (%d): Sent %s for DFA reception (socket=%d)", failed ? u"NACK" : u"ACK", Socket());
    }
}

void Session::Discard() {
    RemoveFileWithRetry(job_->LocalFileName, parts_.Settings.AccessFile_MaxAttempts,
                        parts_.Settings.AccessFile_WaitingTimeMsec,
                        nullptr, 0);
    job_.reset();
}

}  // namespace

void LpdClientThread(std::unique_ptr<LpdConnection> connection, const CLpdServerParts& parts,
                     const CLpdSessionPlace& place) {
    Session(std::move(connection), parts, place).Run();
}

}  // namespace velmora
