#include "output/lpd_client.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/identity.h"
#include "platform/socket.h"
#include "text/code_page.h"

namespace velmora {

namespace {

using platform::SocketHandle;

constexpr std::size_t BLOCK_SIZE = 4096;
// The control file must fit the receiving side's 4096-byte buffer with its end byte.
constexpr std::size_t MAX_CONTROL_FILE = BLOCK_SIZE - 1;
// The data file moves in pieces of this size: few system calls for files of gigabytes.
constexpr std::size_t DATA_BLOCK_SIZE = 64 * 1024;
// The fixed names of the job's two files: one job per connection, so nothing to tell apart.
constexpr char CONTROL_FILE_NAME[] = "cfA001";
constexpr char DATA_FILE_NAME[] = "dfA001";

constexpr int32_t PRINTED = 0;
constexpr int32_t NOT_CONNECTED = 1;
constexpr int32_t SEND_FAILED = -1;

std::string SocketFailure(int code) {
    return platform::UnicodeToAnsi(platform::SocketErrorText(code));
}

// Starts the socket layer, and owns the socket, for the length of one call; the socket closes before the
// layer is cleaned up.
class CClientConnection {
  public:
    CClientConnection() : SocketsStarted(platform::SocketStartup() == 0) {}
    ~CClientConnection() {
        OwnedSocket.Close();
        if (SocketsStarted)
            platform::SocketCleanup();
    }
    CClientConnection(const CClientConnection&) = delete;
    CClientConnection& operator=(const CClientConnection&) = delete;

    bool Started() const { return SocketsStarted; }
    bool Create() {
        OwnedSocket = platform::CSocket(platform::CreateTcpSocket());
        return OwnedSocket.IsValid();
    }
    SocketHandle Socket() const { return OwnedSocket.Get(); }

  private:
    bool SocketsStarted;
    platform::CSocket OwnedSocket;
};

// The exchange on a connected socket: every send and reply checked, the first failure's text kept.
class CExchange {
  public:
    CExchange(SocketHandle socket, int replyMilliseconds, const std::atomic<bool>* cut, std::string* outcome)
        : OwnedSocket(socket), ReplyMilliseconds(replyMilliseconds), Cut(cut), Outcome(outcome) {}

    bool Send(const void* data, std::size_t size) {
        const char* bytes = static_cast<const char*>(data);
        while (size > 0) {
            const long sent = platform::Send(OwnedSocket, bytes, size);
            if (sent <= 0) {
                *Outcome = SocketFailure(platform::LastSocketError());
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
        if (!WaitForReply()) {
            *Outcome = SocketFailure(platform::WSA_TIMED_OUT);
            return false;
        }
        char reply[BLOCK_SIZE];
        const long received = platform::Receive(OwnedSocket, reply, sizeof reply);
        if (received < 0) {
            *Outcome = SocketFailure(platform::LastSocketError());
            return false;
        }
        if (received == 0 || reply[0] != 0) {
            *Outcome = refusal;
            return false;
        }
        return true;
    }

  private:
    // In slices, so that the server's stop is seen soon after it cuts the wait.
    bool WaitForReply() const {
        constexpr int SLICE_MILLISECONDS = 200;
        for (int waited = 0; waited < ReplyMilliseconds; waited += SLICE_MILLISECONDS) {
            if (Cut && *Cut)
                return false;
            if (platform::WaitReadable(OwnedSocket, std::min(SLICE_MILLISECONDS, ReplyMilliseconds - waited)))
                return true;
        }
        return false;
    }

    SocketHandle OwnedSocket;
    int ReplyMilliseconds;
    const std::atomic<bool>* Cut;
    std::string* Outcome;
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
    text += std::string("l") + DATA_FILE_NAME + "\n";
    return text;
}

// Sends size bytes of the open file; false with the outcome.
bool SendFileData(CExchange& exchange, platform::CNativeFile& file, int64_t size, std::string* outcome) {
    const std::unique_ptr<char[]> block(new char[DATA_BLOCK_SIZE]);
    for (int64_t remaining = size; remaining > 0;) {
        platform::CFileError error;
        // Never more than announced, even when the file has grown since.
        const long read = file.Read(
            block.get(), static_cast<std::size_t>(std::min<int64_t>(remaining, DATA_BLOCK_SIZE)), &error);
        if (read < 0) {
            *outcome =
                "The file cannot be read (reason:" + platform::UnicodeToAnsi(error.Description()) + ")";
            return false;
        }
        if (read == 0) {
            // Fewer bytes than announced would leave the server waiting for the rest.
            *outcome = "The file became shorter while it was sent";
            return false;
        }
        if (!exchange.Send(block.get(), static_cast<std::size_t>(read)))
            return false;
        remaining -= read;
    }
    return true;
}

// Sends the job over the connected socket; the file is open.
int32_t SendJob(CExchange& exchange, platform::CNativeFile& file, const std::string& queue,
                const std::string& controlFile, std::string* outcome) {
    if (!exchange.Step(CommandLine('\x02', queue), "The print request is rejected"))
        return SEND_FAILED;
    if (!exchange.Step(FileLine('\x02', static_cast<int64_t>(controlFile.size()), CONTROL_FILE_NAME),
                       "The control descriptor is rejected"))
        return SEND_FAILED;
    if (!exchange.Step(controlFile + '\0', "The control file is rejected"))
        return SEND_FAILED;

    const int64_t size = file.Length();
    if (!exchange.Step(FileLine('\x03', size, DATA_FILE_NAME), "The data descriptor is rejected"))
        return SEND_FAILED;
    if (!SendFileData(exchange, file, size, outcome))
        return SEND_FAILED;
    if (!exchange.Step(std::string(1, '\0'), "The data file is rejected"))
        return SEND_FAILED;
    *outcome = "The file is printed";
    return PRINTED;
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
    if (controlFile->size() > MAX_CONTROL_FILE) {
        *outcome = "The control file is too long (" + std::to_string(controlFile->size()) +
                   " bytes, at most " + std::to_string(MAX_CONTROL_FILE) + ")";
        return false;
    }
    return true;
}

// Connects the connection's socket to the request's host and port; false with the outcome.
bool ConnectToServer(CClientConnection& connection, const CLpdJobRequest& request, std::string* outcome) {
    if (!connection.Started() || !connection.Create()) {
        *outcome = SocketFailure(platform::LastSocketError());
        return false;
    }
    const SocketHandle socket = connection.Socket();
    const std::string hostBytes = ToBytes1252(request.Host);
    platform::CIpv4SocketAddress address;
    if (!platform::ResolveIpv4(hostBytes, static_cast<uint16_t>(request.Port), &address)) {
        *outcome = "Unable to resolve server: " + hostBytes + "\n";
        return false;
    }
    if (platform::SetSendTimeout(socket, request.Timeouts.ReplyMilliseconds) != 0 ||
        platform::ConnectWithin(socket, address, request.Timeouts.ConnectMilliseconds) != 0) {
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
        return NOT_CONNECTED;
    CClientConnection connection;
    if (!ConnectToServer(connection, request, outcome))
        return NOT_CONNECTED;

    platform::CNativeFile file;
    if (const platform::CFileError error =
            file.Open(request.FilePath, platform::OPEN_READ | platform::SHARE_DENY_NONE)) {
        *outcome = "The file is not found (reason:" + platform::UnicodeToAnsi(error.Description()) + ")";
        return SEND_FAILED;
    }
    // A zero count reads as "until the connection closes" to many servers (LPRng, this system's own), so
    // the end byte would become data and the reply never come. Like lpr, send no job for an empty file.
    if (file.Length() == 0) {
        *outcome = "The file is empty";
        return SEND_FAILED;
    }
    CExchange exchange(connection.Socket(), request.Timeouts.ReplyMilliseconds, request.Cut, outcome);
    return SendJob(exchange, file, ToBytes1252(request.Queue), controlFile, outcome);
}

}  // namespace

CLpdSendResult SendJobByLpd(const CLpdJobRequest& request) {
    CLpdSendResult result;
    result.Code = Forward(request, &result.Text);
    return result;
}

}  // namespace velmora
