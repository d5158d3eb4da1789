// The listener: accepts connections on the LPD port while the server runs.
#include "net/lpd_server.h"

#include <chrono>
#include <thread>

#include "core/app.h"
#include "core/language.h"
#include "platform/socket.h"
#include "text/format.h"

namespace velmora {

namespace {

// Lines of the listener: logged always, and shown to the user in the desktop program.
void Report(const std::u16string& logLine, const std::u16string& message) {
    CVelmoraVirtualPrinterApp& app = App();
    app.WriteLog(logLine);
    app.ShowMessageBox(message, MessageIcon::Error);
}

void StartConnectionThread(std::unique_ptr<LpdConnection> connection) {
    CVelmoraVirtualPrinterApp& app = App();
    ++app.ActiveConnections;
    std::thread([connection = std::move(connection)]() mutable {
        LpdClientThread(std::move(connection));
        --App().ActiveConnections;
    }).detach();
}

}  // namespace

void CVelmoraVirtualPrinterApp::SetServerRunning(bool running) {
    std::lock_guard<std::mutex> lock(ServerLock);
    ServerRunning = running;
}

bool CVelmoraVirtualPrinterApp::IsServerRunning() const {
    std::lock_guard<std::mutex> lock(ServerLock);
    return ServerRunning;
}

void CVelmoraVirtualPrinterApp::StartLpdServer() {
    StopLpdServer();
    SetServerRunning(true);
    LpdServerThreadHandle = std::thread(LpdServerThread);
}

void CVelmoraVirtualPrinterApp::StopLpdServer() {
    SetServerRunning(false);
    if (LpdServerThreadHandle.joinable())
        LpdServerThreadHandle.join();
}

void LpdServerThread() {
    using namespace platform;
    CVelmoraVirtualPrinterApp& app = App();
    const int mode = app.ModeDigit();
    SelectLanguage();
    app.WriteLog(Format(u"%d\tStarting LPD Server", mode));
    SocketStartup();

    const SocketHandle listener = CreateTcpSocket();
    if (listener == kInvalidSocket) {
        Report(Format(u"%d\tLPD Server: INVALID_SOCKET", mode), u"INVALID_SOCKET");
        SocketCleanup();
        return;
    }
    const auto fail = [&](const std::u16string& logLine, const std::u16string& message) {
        Report(logLine, message);
        CloseSocket(listener);
        SocketCleanup();
    };
    SetNonBlocking(listener, true);
    if (SetKeepAlive(listener, true) != 0) {
        const std::u16string text = Format(u"%d\tLPD Server: error setsockopt(SO_KEEPALIVE) for raison: '%d'",
                                           mode, LastSocketError());
        fail(text, text);
        return;
    }
    const int32_t port = app.PortLPD;
    const uint16_t bound = static_cast<uint16_t>(port & 0xFFFF);
    if ((app.LoopbackOnly ? BindLoopback(listener, bound) : BindAnyAddress(listener, bound)) != 0) {
        const std::u16string text = Format(u"%d\tLPD Server: Unable to bind Port : %d", mode, port);
        fail(text, text);
        return;
    }
    app.WriteLog(Format(u"%d\tLPD Server: Bind Port %d", mode, port));
    if (Listen(listener, 0x7fffffff) != 0) {
        fail(Format(u"%d\tLPD Server: Unable to listen", mode), u"Unable to listen");
        return;
    }
    app.WriteLog(Format(u"%d\tLPD Server is started", mode));
    app.ListeningPort = LocalPort(listener);

    while (app.IsServerRunning()) {
        Ipv4SocketAddress peer;
        const SocketHandle socket = Accept(listener, &peer);
        if (socket == kInvalidSocket) {
            const int error = LastSocketError();
            if (error == kWsaWouldBlock) {
                // Waiting for a connection instead of sleeping: a stop is still seen within 100 ms.
                WaitReadable(listener, 100);
            } else {
                const std::u16string text = Format(u"%d\tLPD Server: ERROR ON ACCEPT (%d)", mode, error);
                Report(text, text);
                // A lasting failure (no descriptors left) would otherwise fill the log as fast as it can.
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            continue;
        }
        std::unique_ptr<LpdConnection> connection = CreateConnection();
        if (!connection) {
            app.WriteLog(Format(u"%d\tERROR: cannot run thread LPD client (allocation error)", mode));
            CloseSocket(socket);
            continue;
        }
        // Accepted sockets do not inherit non-blocking mode everywhere; the reception polls.
        SetNonBlocking(socket, true);
        connection->socket = socket;
        connection->peer = std::make_unique<Ipv4SocketAddress>(peer);
        StartConnectionThread(std::move(connection));
    }

    app.WriteLog(Format(u"%d\tLPD Server is stopped", mode));
    app.ListeningPort = 0;
    CloseSocket(listener);
    SocketCleanup();
}

}  // namespace velmora
