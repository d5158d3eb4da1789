// The receive-job session: one connection, one print job into one queue.
#include <memory>
#include <string>

#include "core/app.h"
#include "core/language.h"
#include "net/job_intake.h"
#include "net/lpd_server.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "spool/my_file.h"
#include "text/code_page.h"
#include "text/format.h"
#include "text/text_util.h"

namespace velmora {

namespace {

// RFC 1179 control files are a few lines; a larger announcement is refused rather than allocated.
constexpr int32_t kMaxControlFileSize = 1 << 20;
constexpr int32_t kDataChunk = 4096;

class Session {
  public:
    explicit Session(std::unique_ptr<LpdConnection> connection)
        : app_(App()),
          connection_(std::move(connection)),
          mode_(app_.ModeDigit()),
          thread_(static_cast<int>(platform::CurrentThreadId())),
          detailed_(app_.LogLevel == 2) {}

    void Run();

  private:
    template <typename... Args>
    void Log(std::u16string_view format, const Args&... args) {
        app_.WriteLog(Format(format, mode_, thread_, args...));
    }
    template <typename... Args>
    void Trace(std::u16string_view format, const Args&... args) {
        if (detailed_)
            Log(format, args...);
    }
    int Socket() const { return static_cast<int>(connection_->socket); }
    std::u16string Error() const { return SocketErrorName(connection_->error); }

    bool ReceiveJob(const std::u16string& queue);
    void ReceiveControlFile();
    void ReceiveDataFile();
    // The count and file name of a 02 or 03 subcommand line.
    int32_t ReadFileDescription();
    void Discard();

    CVelmoraVirtualPrinterApp& app_;
    std::unique_ptr<LpdConnection> connection_;
    const int mode_;
    const int thread_;
    const bool detailed_;
    bool continue_ = true;
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
    if (!app_.FindVirtualPrinter(queue, &hold)) {
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

    job_ = CreateSpoolJob(queue, static_cast<uint32_t>(thread_));
    if (hold)
        job_->SetHeld();
    job_->SourceHost = platform::AnsiToUnicode(peer);

    const bool received = ReceiveJob(queue);
    spoolFile_.Close();
    if (received && (app_.Stress == 0 || app_.ServiceMode)) {
        AddSpoolJob(std::move(job_), static_cast<uint32_t>(thread_));
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
            if (!continue_)
                break;
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

int32_t Session::ReadFileDescription() {
    const int32_t count = ParseInt32(AsciiToUtf16(ReadToken(connection_.get(), ' ')));
    job_->ReceivedFileName = platform::AnsiToUnicode(ReadToken(connection_.get(), '\n'));
    return count;
}

void Session::ReceiveControlFile() {
    bool failed = false;
    Trace(u"%d\tLPD (%d): Received Control File description");
    const int32_t count = ReadFileDescription();
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
            result = ReceiveBytes(connection_.get(), count);
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

void Session::ReceiveDataFile() {
    bool failed = false;
    Trace(u"%d\tLPD (%d): Received Data File description");
    const int32_t count = ReadFileDescription();
    Trace(u"%d\tLPD (%d): DFA Length = %d, DFA Name = %s", count, job_->ReceivedFileName);
    if (SendByte(connection_.get(), 0x00) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for DFA description (socket=%d, error=%s)",
            Socket(), Error());
        failed = true;
    } else {
        Trace(u"%d\tLPD (%d): Sent acknowledgement for DFA description (socket=%d)", Socket());
        int32_t remaining = count;
        int32_t chunk = kDataChunk;
        while (remaining > 0 && !failed) {
            chunk = std::min(chunk, remaining);
            if (ReceiveBytes(connection_.get(), chunk) != 0) {
                Log(u"%d\tLPD (%d): ERROR RECV for Data File (socket=%d, error=%s, total_size=%d, "
                    u"size_already_read=%d, size_read=%d)",
                    Socket(), Error(), count, count - remaining, connection_->length);
                failed = true;
                break;
            }
            const platform::FileError written =
                spoolFile_.Write(connection_->buffer.get(), static_cast<std::size_t>(connection_->length));
            if (written) {
                // A full disk or an I/O error loses the job as surely as a broken connection.
                Log(u"%d\tLPD (%d): Unable to write the spool file %s (%s)", job_->LocalFileName,
                    written.Description());
                failed = true;
                break;
            }
            remaining -= connection_->length;
        }
        if (!failed && ReceiveEndOfFile(connection_.get()) != 0) {
            Log(u"%d\tLPD (%d): ERROR CHECKING END DATA for Data File (socket=%d, error=%s)", Socket(),
                Error());
            failed = true;
        }
    }
    if (failed)
        continue_ = false;
    if (SendAck(connection_.get(), failed) != 0) {
        Log(u"%d\tLPD (%d): Unable to send acknowledgement for DFA reception (socket=%d, error=%s)", Socket(),
            Error());
        continue_ = false;
    } else {
        Trace(u"%d\tLPD (%d): Sent %s for DFA reception (socket=%d)", failed ? u"NACK" : u"ACK", Socket());
    }
}

void Session::Discard() {
    RemoveFileWithRetry(job_->LocalFileName, app_.AccessFile_MaxAttempts, app_.AccessFile_WaitingTimeMsec,
                        nullptr, 0);
    job_.reset();
}

}  // namespace

void LpdClientThread(std::unique_ptr<LpdConnection> connection) {
    Session(std::move(connection)).Run();
}

}  // namespace velmora
