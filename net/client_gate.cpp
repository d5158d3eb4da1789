#include "net/client_gate.h"

#include "text/format.h"

namespace velmora {

namespace {

std::u16string Joined(const std::vector<std::u16string>& entries) {
    std::u16string text;
    for (const std::u16string& entry : entries)
        text += (text.empty() ? u"" : u", ") + entry;
    return text;
}

std::u16string DottedAddress(uint32_t address) {
    return Format(u"%d.%d.%d.%d", address >> 24, address >> 16 & 0xFF, address >> 8 & 0xFF, address & 0xFF);
}

}  // namespace

CClientGate::CClientGate(CReporter& reporter, const CSettings& settings)
    : Reporter(reporter), Settings(settings) {
    ReadList();
}

CClientGate::~CClientGate() {
    for (const auto& [address, refusals] : Refused) {
        if (refusals.Pending > 0)
            WriteLine(address, refusals.Pending);
    }
}

void CClientGate::ReadList() {
    Version = Settings.AllowedClientsChanges();
    List = CAllowedClients(Settings.AllowedClients());
    const int mode = Reporter.ModeDigit();
    for (const std::u16string& entry : List.Unreadable) {
        Reporter.WriteLog(
            Format(u"%d\tLPD Server: AllowedClients entry not understood, ignored: %s", mode, entry));
    }
    if (List.Written() && !List.Restricts()) {
        Reporter.WriteLog(
            Format(u"%d\tLPD Server: AllowedClients has no valid entry: every client is accepted", mode));
    }
    if (List.Restricts() && Settings.LogLevel == 2)
        Reporter.WriteLog(Format(u"%d\tLPD Server: Clients accepted: %s", mode, Joined(List.Readable)));
}

bool CClientGate::Admits(const platform::CIpv4SocketAddress& peer) {
    if (Settings.AllowedClientsChanges() != Version)
        ReadList();
    const uint8_t* bytes = peer.Bytes + 4;
    const uint32_t address =
        uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
    if (List.Allows(address))
        return true;
    const auto now = Clock::now();
    const auto [found, first] = Refused.try_emplace(address, CRefusals{now, 0});
    if (first || now - found->second.LineAt >= REFUSAL_LOG_PERIOD) {
        WriteLine(address, found->second.Pending + 1);
        found->second = CRefusals{now, 0};
    } else {
        ++found->second.Pending;
    }
    return false;
}

void CClientGate::WritePendingLines() {
    const auto now = Clock::now();
    if (now - LastScan < std::chrono::seconds(1))
        return;
    LastScan = now;
    for (auto it = Refused.begin(); it != Refused.end();) {
        CRefusals& refusals = it->second;
        if (now - refusals.LineAt < REFUSAL_LOG_PERIOD) {
            ++it;
        } else if (refusals.Pending > 0) {
            WriteLine(it->first, refusals.Pending);
            refusals = CRefusals{now, 0};
            ++it;
        } else {
            // Quiet for a minute: forgotten, so that the table holds only the last minute's addresses.
            it = Refused.erase(it);
        }
    }
}

void CClientGate::WriteLine(uint32_t address, long count) {
    Reporter.WriteLog(Format(u"%d\tLPD Server: Refused %d connection(s) from %s: not in AllowedClients",
                             Reporter.ModeDigit(), count, DottedAddress(address)));
}

}  // namespace velmora
