#include "output/lpd_client.h"

#include <algorithm>
#include <cstring>

#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/identity.h"
#include "platform/socket.h"
#include "text/code_page.h"

namespace velmora {

namespace {

using platform::SocketHandle;

constexpr std::size_t kBlockSize = 4096;
// The control file must fit the receiving side's 4096-byte buffer with its end byte.
constexpr std::size_t kMaxControlFile = kBlockSize - 1;
// The fixed names of the job's two files: one job per connection, so nothing to tell apart.
constexpr char kControlFileName[] = "cfA001";
constexpr char kDataFileName[] = "dfA001";

constexpr int32_t kPrinted = 0;
constexpr int32_t kNotConnected = 1;
constexpr int32_t kFailed = -1;

std::string SocketFailure(int code) {
    return platform::UnicodeToAnsi(platform::SocketErrorText(code));
}

// Starts the socket layer, and owns the socket, for the length of one call; the socket closes before the
// layer is cleaned up.
class Connection {
  public:
    Connection() : started_(platform::SocketStartup() == 0) {}
    ~Connection() {
        socket_.Close();
        if (started_)
            platform::SocketCleanup();
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Started() const { return started_; }
    bool Create() {
        socket_ = platform::CSocket(platform::CreateTcpSocket());
        return socket_.IsValid();
    }
    SocketHandle Socket() const { return socket_.Get(); }

  private:
    bool started_;
    platform::CSocket socket_;
};

// The exchange on a connected socket: every send and reply checked, the first failure's text kept.
class Exchange {
  public:
    Exchange(SocketHandle socket, int replyMilliseconds, std::string* outcome)
        : socket_(socket), replyMilliseconds_(replyMilliseconds), outcome_(outcome) {}

    bool Send(const void* data, std::size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const long sent = platform::Send(socket_, bytes, size);
            if (sent <= 0) {
                *outcome_ = SocketFailure(platform::LastSocketError());
                return false;
            }
            bytes += sent;
            size -= static_cast<std::size_t>(sent);
        }
        return true;
    }
    bool Send(const std::string& bytes) { return Send(bytes.data(), bytes.size()); }

    // Sends the bytes and reads the reply: true when its first byte is 0. A refusal, or a close without a
    // reply, leaves the step's refusal text; a failure or time-out the system's text.
    bool Step(const std::string& bytes, const char* refusal) {
        if (!Send(bytes))
            return false;
        if (!platform::WaitReadable(socket_, replyMilliseconds_)) {
            *outcome_ = SocketFailure(platform::kWsaTimedOut);
            return false;
        }
        char reply[kBlockSize];
        const long received = platform::Receive(socket_, reply, sizeof reply);
        if (received < 0) {
            *outcome_ = SocketFailure(platform::LastSocketError());
            return false;
        }
        if (received == 0 || reply[0] != 0) {
            *outcome_ = refusal;
            return false;
        }
        return true;
    }

  private:
    SocketHandle socket_;
    int replyMilliseconds_;
    std::string* outcome_;
};

std::string CommandLine(char command, const std::string& operand) {
    // A single LF ends the line, as RFC 1179 has it: a CR before it would become part of the operand.
    return std::string(1, command) + operand + "\n";
}

std::string FileLine(char subcommand, int64_t size, const char* name) {
    return CommandLine(subcommand, std::to_string(size) + " " + name);
}

std::string ControlFile(const std::u16string& hostName, const std::string& documentName,
                        const std::u16string& userName, const std::u16string& jobClass,
                        const std::u16string& jobName) {
    std::string text = "H" + platform::UnicodeToAnsi(hostName) + "\n";
    text += "N" + documentName + "\n";
    text += "P" + platform::UnicodeToAnsi(userName) + "\n";
    if (!jobClass.empty())
        text += "C" + platform::UnicodeToAnsi(jobClass) + "\n";
    if (!jobName.empty())
        text += "J" + platform::UnicodeToAnsi(jobName) + "\n";
    // RFC 1179 prints only the data files that a print line names; "l" prints the bytes as they are.
    text += std::string("l") + kDataFileName + "\n";
    return text;
}

// Sends the job over the connected socket; the file is open.
int32_t SendJob(Exchange& exchange, platform::NativeFile& file, const std::string& queue,
                const std::string& controlFile, std::string* outcome) {
    if (!exchange.Step(CommandLine('\x02', queue), "The print request is rejected"))
        return kFailed;
    if (!exchange.Step(FileLine('\x02', static_cast<int64_t>(controlFile.size()), kControlFileName),
                       "The control descriptor is rejected"))
        return kFailed;
    if (!exchange.Step(controlFile + '\0', "The control file is rejected"))
        return kFailed;

    const int64_t size = file.Length();
    if (!exchange.Step(FileLine('\x03', size, kDataFileName), "The data descriptor is rejected"))
        return kFailed;
    char block[kBlockSize];
    for (int64_t remaining = size; remaining > 0;) {
        platform::FileError error;
        // Never more than announced, even when the file has grown since.
        const long read =
            file.Read(block, static_cast<std::size_t>(std::min<int64_t>(remaining, kBlockSize)), &error);
        if (read < 0) {
            *outcome =
                "The file cannot be read (reason:" + platform::UnicodeToAnsi(error.Description()) + ")";
            return kFailed;
        }
        if (read == 0) {
            // Fewer bytes than announced would leave the server waiting for the rest.
            *outcome = "The file became shorter while it was sent";
            return kFailed;
        }
        if (!exchange.Send(block, static_cast<std::size_t>(read)))
            return kFailed;
        remaining -= read;
    }
    if (!exchange.Step(std::string(1, '\0'), "The data file is rejected"))
        return kFailed;
    *outcome = "The file is printed";
    return kPrinted;
}

// Fills in the defaults of the request and makes its control file; false with the outcome when the job
// cannot be sent.
bool PrepareJob(CLpdJobRequest& request, std::string* controlFile, std::string* outcome) {
    if (request.Host.empty())
        request.Host = u"127.0.0.1";
    if (request.Queue.empty())
        request.Queue = u"PASS";
    if (request.HostName.empty() && (request.HostName = platform::ComputerName()).empty()) {
        *outcome = "Unable to get GetComputerName";
        return false;
    }
    if (request.UserName.empty() && (request.UserName = platform::UserName()).empty()) {
        *outcome = "Unable to get GetUserName";
        return false;
    }
    *controlFile = ControlFile(request.HostName, ToBytes1252(request.DocumentName), request.UserName,
                               request.JobClass, request.JobName);
    // Refused before anything is sent: a control file cut short would lose the print line.
    if (controlFile->size() > kMaxControlFile) {
        *outcome = "The control file is too long (" + std::to_string(controlFile->size()) +
                   " bytes, at most " + std::to_string(kMaxControlFile) + ")";
        return false;
    }
    return true;
}

// Connects the connection's socket to the request's host and port; false with the outcome.
bool ConnectToServer(Connection& connection, const CLpdJobRequest& request, std::string* outcome) {
    if (!connection.Started() || !connection.Create()) {
        *outcome = SocketFailure(platform::LastSocketError());
        return false;
    }
    const SocketHandle socket = connection.Socket();
    const std::string hostBytes = ToBytes1252(request.Host);
    platform::Ipv4SocketAddress address;
    if (!platform::ResolveIpv4(hostBytes, static_cast<uint16_t>(request.Port), &address)) {
        *outcome = "Unable to resolve server: " + hostBytes + "\n";
        return false;
    }
    if (platform::SetSendTimeout(socket, request.Timeouts.replyMilliseconds) != 0 ||
        platform::ConnectWithin(socket, address, request.Timeouts.connectMilliseconds) != 0) {
        *outcome = SocketFailure(platform::LastSocketError());
        return false;
    }
    // The end byte after the data file is a small write behind unacknowledged data: held back until the
    // server acknowledges, it would cost up to the server's delayed-acknowledgement time (40 ms) a job.
    platform::SetNoDelay(socket);
    return true;
}

int32_t Forward(CLpdJobRequest request, std::string* outcome) {
    std::string controlFile;
    if (!PrepareJob(request, &controlFile, outcome))
        return kNotConnected;
    Connection connection;
    if (!ConnectToServer(connection, request, outcome))
        return kNotConnected;

    platform::NativeFile file;
    if (const platform::FileError error =
            file.Open(request.FilePath, platform::kOpenRead | platform::kShareDenyNone)) {
        *outcome = "The file is not found (reason:" + platform::UnicodeToAnsi(error.Description()) + ")";
        return kFailed;
    }
    // A zero count reads as "until the connection closes" to many servers (LPRng, this system's own), so
    // the end byte would become data and the reply never come. Like lpr, send no job for an empty file.
    if (file.Length() == 0) {
        *outcome = "The file is empty";
        return kFailed;
    }
    Exchange exchange(connection.Socket(), request.Timeouts.replyMilliseconds, outcome);
    return SendJob(exchange, file, ToBytes1252(request.Queue), controlFile, outcome);
}

}  // namespace

CLpdSendResult SendJobByLpd(const CLpdJobRequest& request) {
    CLpdSendResult result;
    result.Code = Forward(request, &result.Text);
    return result;
}

}  // namespace velmora
