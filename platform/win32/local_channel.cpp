#include "platform/local_channel.h"
#include "platform/local_channel_frame.h"

// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <chrono>

#include "platform/win32/wide.h"

namespace velmora::platform {

namespace {

constexpr DWORD PIPE_BUFFER = 64 * 1024;

// Closes a handle once.
struct CHandle {
    HANDLE Value = INVALID_HANDLE_VALUE;
    CHandle() = default;
    explicit CHandle(HANDLE value) : Value(value) {}
    ~CHandle() { Reset(); }
    CHandle(CHandle&& other) noexcept : Value(other.Value) { other.Value = INVALID_HANDLE_VALUE; }
    CHandle& operator=(CHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            Value = other.Value;
            other.Value = INVALID_HANDLE_VALUE;
        }
        return *this;
    }
    bool Valid() const { return Value != INVALID_HANDLE_VALUE && Value != nullptr; }
    void Reset() {
        if (Valid())
            CloseHandle(Value);
        Value = INVALID_HANDLE_VALUE;
    }
};

// One overlapped transfer of the whole buffer (a read or a write), waiting up to the time.
template <typename Transfer>
bool Complete(HANDLE pipe, char* bytes, DWORD size, DWORD milliseconds, Transfer transfer) {
    for (DWORD done = 0; done < size;) {
        OVERLAPPED overlapped = {};
        CHandle event(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        overlapped.hEvent = event.Value;
        DWORD moved = 0;
        if (!transfer(pipe, bytes + done, size - done, &moved, &overlapped)) {
            if (GetLastError() != ERROR_IO_PENDING)
                return false;
            if (WaitForSingleObject(event.Value, milliseconds) != WAIT_OBJECT_0) {
                CancelIo(pipe);
                GetOverlappedResult(pipe, &overlapped, &moved, TRUE);
                return false;
            }
            if (!GetOverlappedResult(pipe, &overlapped, &moved, FALSE))
                return false;
        }
        if (moved == 0)
            return false;
        done += moved;
    }
    return true;
}

BOOL ReadPart(HANDLE pipe, char* bytes, DWORD size, DWORD* moved, OVERLAPPED* overlapped) {
    return ReadFile(pipe, bytes, size, moved, overlapped);
}

BOOL WritePart(HANDLE pipe, char* bytes, DWORD size, DWORD* moved, OVERLAPPED* overlapped) {
    return WriteFile(pipe, bytes, size, moved, overlapped);
}

}  // namespace

struct CLocalConnection::CNative {
    CHandle Pipe;
};

struct CLocalChannelListener::CNative {
    std::u16string Name;
    // The instance waiting for the next caller, and its pending connect.
    CHandle Pending;
    CHandle Event;
    OVERLAPPED Overlapped = {};
    bool Waiting = false;
};

CLocalConnection::CLocalConnection() : Native(std::make_unique<CNative>()) {}
CLocalConnection::~CLocalConnection() = default;
CLocalConnection::CLocalConnection(CLocalConnection&& other) noexcept = default;
CLocalConnection& CLocalConnection::operator=(CLocalConnection&& other) noexcept = default;

bool CLocalConnection::IsOpen() const {
    return Native && Native->Pipe.Valid();
}

bool CLocalConnection::SendWhole(const std::string& bytes) {
    std::string framed;
    if (!IsOpen() || !FrameMessage(bytes, &framed))
        return false;
    return Complete(Native->Pipe.Value, framed.data(), static_cast<DWORD>(framed.size()), INFINITE,
                    WritePart);
}

bool CLocalConnection::ReceiveWhole(std::string* bytes, int timeoutMilliseconds) {
    if (!IsOpen())
        return false;
    const DWORD wait = static_cast<DWORD>(timeoutMilliseconds);
    unsigned char head[CHANNEL_HEAD_SIZE];
    std::size_t size = 0;
    if (!Complete(Native->Pipe.Value, reinterpret_cast<char*>(head), CHANNEL_HEAD_SIZE, wait, ReadPart) ||
        !FramedLength(head, &size)) {
        return false;
    }
    bytes->assign(size, '\0');
    return size == 0 || Complete(Native->Pipe.Value, bytes->data(), static_cast<DWORD>(size), wait, ReadPart);
}

bool CLocalConnection::PeerIsPrinterAdministrator() const {
    // The pipe admits only Administrators and the system (its security descriptor): whoever connected is
    // one of them.
    return IsOpen();
}

CLocalChannelListener::CLocalChannelListener() : Native(std::make_unique<CNative>()) {}

CLocalChannelListener::~CLocalChannelListener() {
    Close();
}

namespace {

// A new instance of the pipe for the next caller: for Administrators and the system only.
HANDLE CreateInstance(const std::u16string& name, bool first) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;GA;;;BA)(A;;GA;;;SY)", SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return INVALID_HANDLE_VALUE;
    }
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor, FALSE};
    const HANDLE pipe = CreateNamedPipeW(
        Wide(name), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0),
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
        PIPE_UNLIMITED_INSTANCES, PIPE_BUFFER, PIPE_BUFFER, 0, &security);
    LocalFree(descriptor);
    return pipe;
}

}  // namespace

bool CLocalChannelListener::Listen(const std::u16string& name) {
    Close();
    Native->Name = name;
    Native->Pending = CHandle(CreateInstance(name, true));
    Native->Event = CHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    return Native->Pending.Valid() && Native->Event.Valid();
}

CLocalConnection CLocalChannelListener::Accept(int timeoutMilliseconds) {
    CLocalConnection connection;
    if (!Native->Pending.Valid())
        return connection;
    if (!Native->Waiting) {
        Native->Overlapped = OVERLAPPED{};
        Native->Overlapped.hEvent = Native->Event.Value;
        ResetEvent(Native->Event.Value);
        if (ConnectNamedPipe(Native->Pending.Value, &Native->Overlapped)) {
            SetEvent(Native->Event.Value);
        } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
            SetEvent(Native->Event.Value);
        } else if (GetLastError() != ERROR_IO_PENDING) {
            // A caller that came and went: this instance starts again.
            DisconnectNamedPipe(Native->Pending.Value);
            return connection;
        }
        Native->Waiting = true;
    }
    if (WaitForSingleObject(Native->Event.Value, static_cast<DWORD>(timeoutMilliseconds)) != WAIT_OBJECT_0)
        return connection;
    Native->Waiting = false;
    connection.Native->Pipe = std::move(Native->Pending);
    Native->Pending = CHandle(CreateInstance(Native->Name, false));
    return connection;
}

void CLocalChannelListener::Close() {
    if (Native->Waiting && Native->Pending.Valid()) {
        CancelIo(Native->Pending.Value);
        DWORD ignored = 0;
        GetOverlappedResult(Native->Pending.Value, &Native->Overlapped, &ignored, TRUE);
    }
    Native->Waiting = false;
    Native->Pending.Reset();
    Native->Event.Reset();
}

bool ConnectLocalChannel(const std::u16string& name, CLocalConnection* connection) {
    CHandle pipe(CreateFileW(Wide(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr));
    if (!pipe.Valid())
        return false;
    connection->Native->Pipe = std::move(pipe);
    return true;
}

}  // namespace velmora::platform
