// Who may print: the AllowedClients key of [Settings], a list of IPv4 addresses and networks
// ("192.168.1.0/24, 10.0.0.5") separated by commas or white space. An empty list lets every client in, and
// so does a list in which no entry can be read: a typing slip never locks everyone out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Addresses in host byte order: those whose bits under the mask equal the network's.
struct CClientRange {
    uint32_t Network = 0;
    uint32_t Mask = 0;
};

// The entries of a list as written, split at commas and white space.
std::vector<std::u16string> SplitClientList(std::u16string_view text);
// One entry, "a.b.c.d" or "a.b.c.d/bits" (bits 0 to 32; host bits of a network are ignored); false for
// anything else.
bool ParseClientRange(std::u16string_view entry, CClientRange* range);
// The first entry of the list that cannot be read; empty when every one can.
std::u16string FirstUnreadableClient(std::u16string_view text);

class CAllowedClients {
  public:
    // Everyone.
    CAllowedClients() = default;
    explicit CAllowedClients(std::u16string_view text);

    bool Allows(uint32_t address) const;
    // Some entry can be read: clients outside the list are refused.
    bool Restricts() const { return !Ranges.empty(); }
    // The list has entries (readable or not).
    bool Written() const { return !Readable.empty() || !Unreadable.empty(); }
    // As written.
    std::vector<std::u16string> Readable;
    std::vector<std::u16string> Unreadable;

  private:
    std::vector<CClientRange> Ranges;
};

}  // namespace velmora
