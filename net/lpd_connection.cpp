#include "net/lpd_connection.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <string_view>

#include "text/text_util.h"

namespace velmora {

namespace {

// A line reception asks for this much at a time; LPD command lines are far shorter.
constexpr std::size_t LINE_CHUNK = 1024;

void ReleaseBuffer(LpdConnection* connection) {
    connection->Buffer.reset();
    connection->Length = 0;
    connection->Position = 0;
}

int FailReception(LpdConnection* connection, int32_t error) {
    ReleaseBuffer(connection);
    connection->Error = error;
    return -1;
}

struct CSocketErrorEntry {
    int32_t Code;
    const char16_t* Name;
};

constexpr CSocketErrorEntry SOCKET_ERROR_NAMES[] = {
    {10004, u"WSAEINTR"},
    {10009, u"WSAEBADF"},
    {10013, u"WSAEACCES"},
    {10014, u"WSAEFAULT"},
    {10022, u"WSAEINVAL"},
    {10024, u"WSAEMFILE"},
    {10035, u"WSAEWOULDBLOCK"},
    {10036, u"WSAEINPROGRESS"},
    {10037, u"WSAEALREADY"},
    {10038, u"WSAENOTSOCK"},
    {10039, u"WSAEDESTADDRREQ"},
    {10040, u"WSAEMSGSIZE"},
    {10041, u"WSAEPROTOTYPE"},
    {10042, u"WSAENOPROTOOPT"},
    {10043, u"WSAEPROTONOSUPPORT"},
    {10044, u"WSAESOCKTNOSUPPORT"},
    {10045, u"WSAEOPNOTSUPP"},
    {10046, u"WSAEPFNOSUPPORT"},
    {10047, u"WSAEAFNOSUPPORT"},
    {10048, u"WSAEADDRINUSE"},
    {10049, u"WSAEADDRNOTAVAIL"},
    {10050, u"WSAENETDOWN"},
    {10051, u"WSAENETUNREACH"},
    {10052, u"WSAENETRESET"},
    {10053, u"WSAECONNABORTED"},
    {10054, u"WSAECONNRESET"},
    {10055, u"WSAENOBUFS"},
    {10056, u"WSAEISCONN"},
    {10057, u"WSAENOTCONN"},
    {10058, u"WSAESHUTDOWN"},
    {10059, u"WSAETOOMANYREFS"},
    {10060, u"WSAETIMEDOUT"},
    {10061, u"WSAECONNREFUSED"},
    {10062, u"WSAELOOP"},
    {10063, u"WSAENAMETOOLONG"},
    {10064, u"WSAEHOSTDOWN"},
    {10065, u"WSAEHOSTUNREACH"},
    {10066, u"WSAENOTEMPTY"},
    {10067, u"WSAEPROCLIM"},
    {10068, u"WSAEUSERS"},
    {10069, u"WSAEDQUOT"},
    {10070, u"WSAESTALE"},
    {10071, u"WSAEREMOTE"},
    {10091, u"WSASYSNOTREADY"},
    {10092, u"WSAVERNOTSUPPORTED"},
    {10093, u"WSANOTINITIALISED"},
    {10101, u"WSAEDISCON"},
    {10102, u"WSAENOMORE"},
    {10103, u"WSAECANCELLED"},
    {10104, u"WSAEINVALIDPROCTABLE"},
    {10105, u"WSAEINVALIDPROVIDER"},
    {10106, u"WSAEPROVIDERFAILEDINIT"},
    {10107, u"WSASYSCALLFAILURE"},
    {10108, u"WSASERVICE_NOT_FOUND"},
    {10109, u"WSATYPE_NOT_FOUND"},
    {10110, u"WSA_E_NO_MORE"},
    {10111, u"WSA_E_CANCELLED"},
    {10112, u"WSAEREFUSED"},
};
static_assert(std::size(SOCKET_ERROR_NAMES) == 58);

}  // namespace

std::unique_ptr<LpdConnection> CreateConnection() {
    return std::unique_ptr<LpdConnection>(new (std::nothrow) LpdConnection());
}

void FreeConnection(std::unique_ptr<LpdConnection>& connection) {
    connection.reset();
}

namespace {

using Clock = std::chrono::steady_clock;
// The longest single wait of a reception: how soon a server's stop is seen by a silent connection.
constexpr int64_t WAIT_SLICE_MILLISECONDS = 500;

// Makes room for one more chunk of a line after the bytes held; false when there is no memory for it or
// the line would pass the largest length a reception can report.
bool GrowLineBuffer(LpdConnection* connection, std::size_t chunk, std::size_t* size) {
    const auto length = static_cast<std::size_t>(connection->Length);
    if (length + chunk >= static_cast<std::size_t>(std::numeric_limits<int32_t>::max()))
        return false;
    if (length + chunk + 1 <= *size)
        return true;
    char* grown = static_cast<char*>(std::realloc(connection->Buffer.get(), length + chunk + 1));
    if (!grown)
        return false;
    connection->Buffer.release();
    connection->Buffer.reset(grown);
    *size = length + chunk + 1;
    std::memset(grown + length, 0, chunk + 1);
    return true;
}

// A reception of a line (-1) or of a count; with anyAmount, a count reception ends as soon as some bytes
// have arrived.
int Reception(LpdConnection* connection, int32_t wanted, bool anyAmount) {
    connection->Error = 0;
    if (!connection->Socket) {
        connection->Error = ERROR_SOCKET_NUMBER;
        return -1;
    }
    ReleaseBuffer(connection);
    // The session passes counts straight from the client: a negative one is refused like a failed
    // allocation.
    if (wanted < -1)
        return FailReception(connection, ERROR_ALLOCATION);
    const bool line = wanted == -1;
    std::size_t chunk = line ? LINE_CHUNK : static_cast<std::size_t>(wanted);
    // calloc: a large count costs memory only as its bytes arrive.
    std::size_t size = chunk + 1;
    connection->Buffer.reset(static_cast<char*>(std::calloc(size, 1)));
    if (!connection->Buffer)
        return FailReception(connection, ERROR_ALLOCATION);
    if (!line && wanted == 0)
        return 0;

    const CLpdReceiveTiming timing = connection->Timing;
    // Silence ends the reception once it has lasted (IdleLimit + 1) polls. The waits themselves are longer
    // slices of that time: thousands of idle connections then cost few wake-ups, and data still end a
    // wait the moment they arrive.
    const auto silenceLimit =
        std::chrono::milliseconds(int64_t{timing.PollMilliseconds} * (int64_t{timing.IdleLimit} + 1));
    const int64_t slice = std::max<int64_t>(timing.PollMilliseconds, WAIT_SLICE_MILLISECONDS);
    auto silentSince = Clock::now();
    for (;;) {
        if (connection->Cut && *connection->Cut)
            return FailReception(connection, ERROR_SESSION_CUT);
        const auto length = static_cast<std::size_t>(connection->Length);
        if (line) {
            if (!GrowLineBuffer(connection, chunk, &size))
                return FailReception(connection, ERROR_ALLOCATION);
        } else {
            // Never more than is missing: bytes beyond the count belong to the next reception.
            chunk = static_cast<std::size_t>(wanted) - length;
        }

        char* space = connection->Buffer.get() + length;
        // Clients send the end byte of a file as a small write of its own, which waits for our
        // acknowledgement of the data: a delayed one would cost about 40 ms per file. Linux forgets the
        // setting, so it is made before every receive.
        platform::SetQuickAck(connection->Socket.Get());
        const long received = platform::Receive(connection->Socket.Get(), space, chunk);
        if (received > 0) {
            connection->Length += static_cast<int32_t>(received);
            silentSince = Clock::now();
            const bool complete =
                line ? std::memchr(space, '\n', static_cast<std::size_t>(received)) != nullptr
                     : (anyAmount || connection->Length == wanted);
            if (complete) {
                connection->Error = 0;
                return 0;
            }
            continue;
        }
        if (received == 0)
            return FailReception(connection, CONNECTION_CLOSED);
        const int code = platform::LastSocketError();
        if (code != platform::WSA_WOULD_BLOCK)
            return FailReception(connection, code);
        // Waiting for readiness rather than sleeping takes data the moment it arrives; a wait that ends
        // with data never counts as the one that ends the reception.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(silenceLimit -
                                                                                (Clock::now() - silentSince));
        const bool readable = platform::WaitReadable(
            connection->Socket.Get(), static_cast<int>(std::clamp<int64_t>(left.count(), 0, slice)));
        if (!readable && Clock::now() - silentSince >= silenceLimit)
            return FailReception(connection, ERROR_INTERNAL_TIMEOUT);
    }
}

}  // namespace

int ReceiveBytes(LpdConnection* connection, int32_t wanted) {
    return Reception(connection, wanted, false);
}

int ReceiveLineSoFar(LpdConnection* connection, bool start) {
    connection->Error = 0;
    if (!connection->Socket) {
        connection->Error = ERROR_SOCKET_NUMBER;
        return -1;
    }
    if (start)
        ReleaseBuffer(connection);
    for (;;) {
        // The buffer holds at least the bytes and their terminating zero.
        std::size_t size = static_cast<std::size_t>(connection->Length) + 1;
        if (!GrowLineBuffer(connection, LINE_CHUNK, &size))
            return FailReception(connection, ERROR_ALLOCATION);
        char* space = connection->Buffer.get() + connection->Length;
        // No quick acknowledgement here: every line is answered at once, and the answer carries it.
        const long received = platform::Receive(connection->Socket.Get(), space, LINE_CHUNK);
        if (received == 0)
            return FailReception(connection, CONNECTION_CLOSED);
        if (received < 0) {
            const int code = platform::LastSocketError();
            return code == platform::WSA_WOULD_BLOCK ? 1 : FailReception(connection, code);
        }
        connection->Length += static_cast<int32_t>(received);
        if (std::memchr(space, '\n', static_cast<std::size_t>(received)))
            return 0;
    }
}

int ReceiveSome(LpdConnection* connection, int32_t maximum) {
    return Reception(connection, std::max<int32_t>(maximum, 1), true);
}

bool IsReceptionComplete(const LpdConnection* connection, int32_t wanted) {
    if (wanted != -1)
        return connection->Length == wanted;
    return connection->Length > 0 && std::memchr(connection->Buffer.get(), '\n',
                                                 static_cast<std::size_t>(connection->Length)) != nullptr;
}

bool HasMoreBytes(const LpdConnection* connection) {
    return connection->Position < connection->Length;
}

int8_t NextByte(LpdConnection* connection) {
    if (connection->Position >= connection->Length)
        return 0;
    return static_cast<int8_t>(connection->Buffer[connection->Position++]);
}

std::string ReadToken(LpdConnection* connection, char delimiter) {
    if (connection->Position >= connection->Length)
        return std::string();
    const std::string_view rest(connection->Buffer.get() + connection->Position,
                                static_cast<std::size_t>(connection->Length - connection->Position));
    const std::size_t end = std::min(rest.find(delimiter), rest.size());
    connection->Position += static_cast<int32_t>(end);
    if (end < rest.size())
        ++connection->Position;  // past the delimiter
    std::string_view token = rest.substr(0, end);
    const std::size_t last = token.find_last_not_of(' ');
    token = token.substr(0, last == std::string_view::npos ? 0 : last + 1);
    return std::string(token);
}

int SendByte(LpdConnection* connection, uint8_t byte) {
    if (!connection->Socket) {
        connection->Error = ERROR_SOCKET_NUMBER;
        return -1;
    }
    if (platform::Send(connection->Socket.Get(), &byte, 1) < 0) {
        connection->Error = platform::LastSocketError();
        return -1;
    }
    connection->Error = 0;
    return 0;
}

int SendAck(LpdConnection* connection, bool failed) {
    return SendByte(connection, failed ? 0x01 : 0x00);
}

int ReceiveEndOfFile(LpdConnection* connection) {
    if (ReceiveBytes(connection, 1) != 0)
        return -1;
    NextByte(connection);
    return 0;
}

std::u16string SocketErrorName(int32_t code) {
    switch (code) {
        case ERROR_SOCKET_NUMBER:
            return u"ERROR_SOCKET_NUMBER";
        case ERROR_ALLOCATION:
            return u"ERROR_ALLOCATION";
        case ERROR_INTERNAL_TIMEOUT:
            return u"ERROR_INTERNAL_TIMEOUT";
        case ERROR_SESSION_CUT:
            return u"ERROR_SESSION_CUT";
        case CONNECTION_CLOSED:
            return u"CONNECTION_CLOSED";
        default:
            break;
    }
    for (const CSocketErrorEntry& entry : SOCKET_ERROR_NAMES) {
        if (entry.Code == code)
            return entry.Name;
    }
    return AsciiToUtf16(std::to_string(code));
}

}  // namespace velmora
