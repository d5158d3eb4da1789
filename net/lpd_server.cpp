#include "net/lpd_server.h"

#include <chrono>
#include <thread>

#include "core/language.h"
#include "net/lpd_front.h"
#include "platform/socket.h"
#include "text/format.h"

namespace velmora {

CLpdServer::~CLpdServer() {
    StopLpdServer();
    WaitForSessions();
}

void CLpdServer::Report(const std::u16string& logLine, const std::u16string& message) {
    Parts.Reporter.WriteLog(logLine);
    Parts.Reporter.ShowMessageBox(message, MessageIcon::Error);
}

void CLpdServer::SetServerRunning(bool running) {
    std::lock_guard<std::mutex> lock(ServerLock);
    ServerRunning = running;
}

bool CLpdServer::IsServerRunning() const {
    std::lock_guard<std::mutex> lock(ServerLock);
    return ServerRunning;
}

void CLpdServer::StartLpdServer() {
    StopLpdServer();
    SetServerRunning(true);
    LpdServerThreadHandle = std::thread(&CLpdServer::LpdServerThread, this);
}

void CLpdServer::StopLpdServer() {
    SetServerRunning(false);
    if (LpdServerThreadHandle.joinable())
        LpdServerThreadHandle.join();
}

void CLpdServer::LpdServerThread() {
    using namespace platform;
    const int mode = Parts.Reporter.ModeDigit();
    SelectLanguage();
    Parts.Reporter.WriteLog(Format(u"%d\tStarting LPD Server", mode));
    SocketStartup();

    CSocket listener(CreateTcpSocket());
    if (!listener) {
        Report(Format(u"%d\tLPD Server: INVALID_SOCKET", mode), u"INVALID_SOCKET");
        SocketCleanup();
        return;
    }
    const auto fail = [&](const std::u16string& logLine, const std::u16string& message) {
        Report(logLine, message);
        listener.Close();
        SocketCleanup();
    };
    SetNonBlocking(listener.Get(), true);
    if (SetKeepAlive(listener.Get(), true) != 0) {
        const std::u16string text = Format(u"%d\tLPD Server: error setsockopt(SO_KEEPALIVE) for raison: '%d'",
                                           mode, LastSocketError());
        fail(text, text);
        return;
    }
    const int32_t port = Parts.Settings.PortLPD;
    const uint16_t bound = static_cast<uint16_t>(port & 0xFFFF);
    if ((LoopbackOnly ? BindLoopback(listener.Get(), bound) : BindAnyAddress(listener.Get(), bound)) != 0) {
        const std::u16string text = Format(u"%d\tLPD Server: Unable to bind Port : %d", mode, port);
        fail(text, text);
        return;
    }
    Parts.Reporter.WriteLog(Format(u"%d\tLPD Server: Bind Port %d", mode, port));
    if (Listen(listener.Get(), 0x7fffffff) != 0) {
        fail(Format(u"%d\tLPD Server: Unable to listen", mode), u"Unable to listen");
        return;
    }
    Parts.Reporter.WriteLog(Format(u"%d\tLPD Server is started", mode));
    ListeningPort = LocalPort(listener.Get());
    ServeConnections(listener.Get());
    Parts.Reporter.WriteLog(Format(u"%d\tLPD Server is stopped", mode));
    ListeningPort = 0;
    listener.Close();
    SocketCleanup();
}

void CLpdServer::WaitForSessions(std::chrono::milliseconds grace) {
    if (!Sessions.WaitForEnd(grace)) {
        Parts.Reporter.WriteLog(
            Format(u"%d\tLPD Server: %d session(s) still receiving at the end of the stop's grace: cut",
                   Parts.Reporter.ModeDigit(), Sessions.ActiveSessions()));
        CutSessions = true;
    }
    Sessions.JoinAll();
    CutSessions = false;
}

void CLpdServer::ServeConnections(platform::SocketHandle listener) {
    CLpdFront front(Parts, Place, Sessions, ReceiveTiming, &CutSessions, WaitingConnections);
    if (!front.Serve(listener, [this] { return IsServerRunning(); })) {
        const std::u16string text = Format(u"%d\tLPD Server: Unable to wait for connections (%d)",
                                           Parts.Reporter.ModeDigit(), platform::LastSocketError());
        Report(text, text);
    }
}

}  // namespace velmora
