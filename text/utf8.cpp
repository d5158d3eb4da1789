#include "text/utf8.h"

#include <cstdio>

namespace velmora {

namespace {

// Sequence length by the high four bits of a lead byte; 0 for a continuation byte.
constexpr int SEQUENCE_LENGTH[16] = {1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 2, 2, 3, 4};

constexpr int ERROR_LIMIT = 1000;

int SequenceLength(unsigned char b) {
    return SEQUENCE_LENGTH[b >> 4];
}

// Bytes 0xF8 to 0xFF have a length of 4 in the table but start no sequence when sizes are measured.
bool IsLeadByte(unsigned char b) {
    return SequenceLength(b) != 0 && b < 0xF8;
}

int EncodedUnitLength(char16_t c) {
    if (c < 0x80) {
        return 1;
    }
    if (c < 0x800) {
        return 2;
    }
    return 3;
}

bool IsSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

int TerminatedLength(const char16_t* source) {
    int n = 0;
    while (source[n] != 0) {
        ++n;
    }
    return n;
}

}  // namespace

int Utf8EncodedLength(int n, const char16_t* source) {
    if (source == nullptr) {
        return 0;
    }
    int length = 0;
    for (int i = 0; i < n; ++i) {
        length += EncodedUnitLength(source[i]);
    }
    return length;
}

int Utf8Encode(char* destination, int capacity, const char16_t* source, int n) {
    if (source == nullptr) {
        return 0;
    }
    if (destination != nullptr && capacity < 0) {
        return -2;
    }
    if (destination == nullptr && capacity != 0) {
        return -1;
    }
    if (n == -1) {
        n = TerminatedLength(source) + 1;
    } else if (n < 0) {
        return -1;
    }
    if (capacity == 0) {
        return Utf8EncodedLength(n, source);
    }

    int written = 0;
    for (int i = 0; i < n; ++i) {
        const char16_t c = source[i];
        if (IsSurrogate(c)) {
            std::fprintf(stderr, "encountered part of a surrogate pair : ignoring\n");
        }
        const int length = EncodedUnitLength(c);
        if (length > capacity - written) {
            return -2;
        }
        switch (length) {
            case 1:
                destination[written++] = static_cast<char>(c);
                break;
            case 2:
                destination[written++] = static_cast<char>(0xC0 | ((c >> 6) & 0x1F));
                destination[written++] = static_cast<char>(0x80 | (c & 0x3F));
                break;
            default:
                destination[written++] = static_cast<char>(0xE0 | ((c >> 12) & 0x0F));
                destination[written++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                destination[written++] = static_cast<char>(0x80 | (c & 0x3F));
                break;
        }
    }
    return written;
}

int Utf8DecodedLength(int n, const char* source) {
    if (source == nullptr) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    int units = 0;
    int i = 0;
    while (i < n) {
        const unsigned char b = bytes[i];
        if (!IsLeadByte(b)) {
            std::fprintf(stderr, "invalid byte 0x%02X in UTF-8 sequence, skipping it!\n", b);
            ++i;
            continue;
        }
        const int length = SequenceLength(b);
        // A four-byte sequence stands for a surrogate pair.
        units += length == 4 ? 2 : 1;
        i += length;
    }
    return units;
}

int Utf8StringLength(const char* source) {
    if (source == nullptr) {
        return 0;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    int i = 0;
    while (bytes[i] != 0) {
        const unsigned char b = bytes[i];
        if (!IsLeadByte(b)) {
            std::fprintf(stderr, "invalid first byte value 0x%02X in UTF-8 sequence!\n", b);
            ++i;
            continue;
        }
        // Never step over the terminator: a sequence cut short counts only the bytes before it.
        const int length = SequenceLength(b);
        ++i;
        for (int k = 1; k < length && bytes[i] != 0; ++k) {
            ++i;
        }
    }
    return i + 1;
}

namespace {

// Each report counts against the caller's limit, when it keeps one; past it a last line says so once.
void ReportInvalidByte(unsigned char b, int* errorCounter) {
    if (errorCounter == nullptr) {
        std::fprintf(stderr, "invalid byte value 0x%02X in UTF-8 sequence, ignoring it!\n", b);
        return;
    }
    if (*errorCounter < ERROR_LIMIT) {
        std::fprintf(stderr, "invalid byte value 0x%02X in UTF-8 sequence, ignoring it!\n", b);
        ++*errorCounter;
    }
    if (*errorCounter == ERROR_LIMIT) {
        std::fprintf(stderr, "more invalid byte values in UTF-8 sequence, ignoring...\n");
        ++*errorCounter;
    }
}

void ReportSurrogatePair(int* errorCounter) {
    if (errorCounter == nullptr) {
        std::fprintf(stderr, "got surrogate pair; ignoring\n");
    } else if (*errorCounter < ERROR_LIMIT) {
        std::fprintf(stderr, "got surrogate pair; ignoring\n");
        ++*errorCounter;
    }
}

}  // namespace

int Utf8Decode(char16_t* destination, int* count, const char* source, int n, int* errorCounter) {
    if (source == nullptr || count == nullptr) {
        return -1;
    }
    if (destination == nullptr && *count != 0) {
        return -1;
    }
    if (n == -1) {
        n = Utf8StringLength(source);
    } else if (n < 0) {
        return -1;
    }
    if (*count == 0) {
        *count = Utf8DecodedLength(n, source);
        return *count;
    }

    const auto* bytes = reinterpret_cast<const unsigned char*>(source);
    const int capacity = *count;
    int written = 0;
    int consumed = 0;
    int i = 0;
    while (i < n) {
        if (written >= capacity) {
            return -2;
        }
        const unsigned char b = bytes[i];
        if (b < 0x80) {
            destination[written++] = b;
            ++i;
            ++consumed;
            continue;
        }
        const int length = SequenceLength(b);
        if (length > n - i) {
            break;  // a sequence cut short by the end of the input is dropped
        }
        if (length == 0) {
            // A continuation byte where a sequence should start: skipped, and not counted as consumed.
            ReportInvalidByte(b, errorCounter);
            ++i;
            continue;
        }
        if (length == 4) {
            // Outside the Basic Multilingual Plane: one replacement character.
            ReportSurrogatePair(errorCounter);
            destination[written++] = u'?';
            i += 4;
            consumed += 4;
            continue;
        }
        char16_t unit = static_cast<char16_t>(b & (length == 2 ? 0x1F : 0x0F));
        for (int k = 1; k < length; ++k) {
            unit = static_cast<char16_t>((unit << 6) | (bytes[i + k] & 0x3F));
        }
        destination[written++] = unit;
        i += length;
        consumed += length;
    }
    *count = written;
    return consumed;
}

}  // namespace velmora
