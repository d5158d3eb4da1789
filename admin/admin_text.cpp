#include <algorithm>

#include "admin/admin_commands.h"

namespace velmora {

// Tabs and backslashes escaped, so that a value never splits its line.
std::u16string MachineText(const std::u16string& value) {
    std::u16string text;
    for (const char16_t c : value) {
        if (c == u'\t')
            text += u"\\t";
        else if (c == u'\\')
            text += u"\\\\";
        else
            text += c;
    }
    return text;
}

// Columns padded to their widest cell (counted in UTF-16 units).
std::u16string Table(const std::vector<std::vector<std::u16string>>& rows) {
    std::vector<std::size_t> widths(rows.front().size(), 0);
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    }
    std::u16string text;
    for (const auto& row : rows) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            text += row[i];
            if (i + 1 < row.size())
                text += std::u16string(widths[i] - row[i].size() + 2, u' ');
        }
        // Empty last cells leave no spaces behind.
        text.erase(text.find_last_not_of(u' ') + 1);
        text += u"\n";
    }
    return text;
}

}  // namespace velmora
