#include "core/allowed_clients.h"

#include <algorithm>

namespace velmora {

namespace {

bool IsSeparator(char16_t c) {
    return c == u',' || c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// A decimal number of 1 to 3 digits up to the maximum; false for anything else.
bool ParseSmallNumber(std::u16string_view text, uint32_t maximum, uint32_t* value) {
    if (text.empty() || text.size() > 3)
        return false;
    uint32_t number = 0;
    for (const char16_t c : text) {
        if (c < u'0' || c > u'9')
            return false;
        number = number * 10 + static_cast<uint32_t>(c - u'0');
    }
    *value = number;
    return number <= maximum;
}

bool ParseAddress(std::u16string_view text, uint32_t* address) {
    uint32_t result = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = part < 3 ? text.find(u'.') : text.size();
        uint32_t octet = 0;
        if (dot == std::u16string_view::npos || !ParseSmallNumber(text.substr(0, dot), 255, &octet))
            return false;
        result = result << 8 | octet;
        text.remove_prefix(std::min(dot + 1, text.size()));
    }
    *address = result;
    return true;
}

}  // namespace

std::vector<std::u16string> SplitClientList(std::u16string_view text) {
    std::vector<std::u16string> entries;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !IsSeparator(text[i]))
            continue;
        if (i > start)
            entries.emplace_back(text.substr(start, i - start));
        start = i + 1;
    }
    return entries;
}

bool ParseClientRange(std::u16string_view entry, CClientRange* range) {
    const std::size_t slash = entry.find(u'/');
    uint32_t bits = 32;
    if (slash != std::u16string_view::npos && !ParseSmallNumber(entry.substr(slash + 1), 32, &bits))
        return false;
    uint32_t address = 0;
    if (!ParseAddress(entry.substr(0, slash), &address))
        return false;
    range->Mask = bits == 0 ? 0 : ~uint32_t{0} << (32 - bits);
    range->Network = address & range->Mask;
    return true;
}

std::u16string FirstUnreadableClient(std::u16string_view text) {
    const CAllowedClients list(text);
    return list.Unreadable.empty() ? std::u16string() : list.Unreadable.front();
}

CAllowedClients::CAllowedClients(std::u16string_view text) {
    for (std::u16string& entry : SplitClientList(text)) {
        CClientRange range;
        if (ParseClientRange(entry, &range)) {
            Ranges.push_back(range);
            Readable.push_back(std::move(entry));
        } else {
            Unreadable.push_back(std::move(entry));
        }
    }
}

bool CAllowedClients::Allows(uint32_t address) const {
    return Ranges.empty() || std::any_of(Ranges.begin(), Ranges.end(), [address](const CClientRange& range) {
               return (address & range.Mask) == range.Network;
           });
}

}  // namespace velmora
