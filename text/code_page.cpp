#include "text/code_page.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <mutex>
#include <new>
#include <shared_mutex>

namespace velmora {

namespace {

constexpr std::size_t TABLE_SIZE = 65536;
using Table = std::array<uint16_t, TABLE_SIZE>;

enum class Direction { ToUnicode = 0, FromUnicode = 1 };

// One cache slot per table the converter knows; several code page numbers may share a slot.
enum Slot : int { SLOT1252 = 0, SLOT1200 = 1, SLOT_COUNT = 2 };

// Windows-1252 bytes 0x80 to 0x9F; the five bytes the code page leaves undefined map to the C1 control of
// the same value so that every byte survives a round trip. 0xA0 to 0xFF equal their Latin-1 code points.
constexpr std::array<uint16_t, 32> k1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

int SlotOf(int32_t codePage) {
    switch (codePage) {
        case 1252:
            return SLOT1252;
        case 1200:
            return SLOT1200;
        default:
            return -1;
    }
}

// Tables are allocated without throwing: a conversion that cannot get its table yields zeros (as for an
// unknown code page) rather than an exception in the middle of a log line; the next call tries again.
std::unique_ptr<Table> BuildForward(int slot) {
    std::unique_ptr<Table> table(new (std::nothrow) Table);
    if (!table) {
        return table;
    }
    table->fill(0);
    if (slot == SLOT1252) {
        for (uint16_t i = 0; i < 0x80; ++i) {
            (*table)[i] = i;
        }
        for (std::size_t i = 0; i < k1252High.size(); ++i) {
            (*table)[0x80 + i] = k1252High[i];
        }
        for (uint16_t i = 0xA0; i < 0x100; ++i) {
            (*table)[i] = i;
        }
    } else {  // 1200: UTF-16 itself
        for (std::size_t i = 0; i < TABLE_SIZE; ++i) {
            (*table)[i] = static_cast<uint16_t>(i);
        }
    }
    return table;
}

// Visits codes in increasing order, so where two codes share a character the higher code wins.
std::unique_ptr<Table> Invert(const Table* forward) {
    std::unique_ptr<Table> reverse(forward ? new (std::nothrow) Table : nullptr);
    if (!reverse) {
        return reverse;
    }
    reverse->fill(0);
    for (std::size_t i = 0; i < TABLE_SIZE; ++i) {
        if ((*forward)[i] != 0) {
            (*reverse)[(*forward)[i]] = static_cast<uint16_t>(i);
        }
    }
    return reverse;
}

// Readers hold the shared lock while they look at a table, so FreeCodePageTables (exclusive) can never
// pull a table from under a conversion that is still running on another thread. The lock and the slots are
// never destroyed, so a thread that logs during static destruction still finds them.
std::shared_mutex& CacheLock() {
    static auto* lock = new std::shared_mutex;
    return *lock;
}
const Table* gCache[SLOT_COUNT][2] = {};

// Runs convert(table) with the table of the code page and direction, building it on first use.
// Returns false, without calling convert, for a code page this converter does not know (after the
// diagnostic) and for a table that could not be allocated.
template <typename Convert>
bool WithTable(int32_t codePage, Direction direction, Convert&& convert) {
    const int slot = SlotOf(codePage);
    if (slot < 0) {
        std::fprintf(stderr, "Code page not found : %d\n", codePage);
        return false;
    }
    const int dir = static_cast<int>(direction);
    {
        std::shared_lock lock(CacheLock());
        if (const Table* table = gCache[slot][dir]) {
            convert(*table);
            return true;
        }
    }
    std::unique_lock lock(CacheLock());
    const Table*& entry = gCache[slot][dir];
    if (entry == nullptr) {
        if (direction == Direction::ToUnicode) {
            entry = BuildForward(slot).release();
        } else if (const Table* forward = gCache[slot][0]) {
            entry = Invert(forward).release();
        } else {
            entry = Invert(BuildForward(slot).get()).release();
        }
        if (entry == nullptr) {
            return false;
        }
    }
    convert(*entry);
    return true;
}

}  // namespace

char16_t CodePageToUnicode(int32_t codePage, uint16_t code) {
    char16_t result = 0;
    WithTable(codePage, Direction::ToUnicode, [&](const Table& table) { result = table[code]; });
    return result;
}

uint16_t UnicodeToCodePage(int32_t codePage, char16_t unit) {
    uint16_t result = 0;
    WithTable(codePage, Direction::FromUnicode, [&](const Table& table) { result = table[unit]; });
    return result;
}

char16_t* BytesToUnicode1252(char16_t* destination, const unsigned char* source, std::size_t n) {
    if (n == 0) {
        return destination;
    }
    const bool converted = WithTable(1252, Direction::ToUnicode, [&](const Table& table) {
        for (std::size_t i = 0; i < n; ++i) {
            destination[i] = table[source[i]];
        }
    });
    if (!converted) {
        std::fill_n(destination, n, u'\0');
    }
    return destination;
}

unsigned char* UnicodeToBytes1252(unsigned char* destination, const char16_t* source, std::size_t n) {
    if (n == 0) {
        return destination;
    }
    const bool converted = WithTable(1252, Direction::FromUnicode, [&](const Table& table) {
        for (std::size_t i = 0; i < n; ++i) {
            destination[i] = static_cast<unsigned char>(table[source[i]]);
        }
    });
    if (!converted) {
        std::fill_n(destination, n, 0);
    }
    return destination;
}

void CopyUnicode(char16_t* destination, const char16_t* source, std::size_t n) {
    std::copy_n(source, n, destination);
}

char16_t* DuplicateUnicode(const char16_t* source, long n) {
    if (source == nullptr) {
        return nullptr;
    }
    std::size_t length = 0;
    if (n < 0) {
        while (source[length] != 0) {
            ++length;
        }
    } else {
        length = static_cast<std::size_t>(n);
    }
    auto* copy = new char16_t[length + 1];
    std::copy_n(source, length, copy);
    copy[length] = 0;
    return copy;
}

void FreeCodePageTables() {
    std::unique_lock lock(CacheLock());
    for (auto& slot : gCache) {
        for (const Table*& table : slot) {
            delete table;
            table = nullptr;
        }
    }
}

std::string ToBytes1252(std::u16string_view text) {
    std::string bytes(text.size(), '\0');
    UnicodeToBytes1252(reinterpret_cast<unsigned char*>(bytes.data()), text.data(), text.size());
    return bytes;
}

std::u16string FromBytes1252(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    BytesToUnicode1252(text.data(), reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return text;
}

}  // namespace velmora
