#include "spool/pcl_scanner.h"

#include <cstdint>
#include <limits>

namespace velmora {

void PclScanner::Reset() {
    Skip = 0;
    HpglMode = false;
    InEscape = false;
    ParamChar = 0;
    GroupChar = 0;
    TermChar = 0;
    ValueLength = 0;
    PageCount = 0;
    PaperSourceLength = -1;
    OutputBinLength = -1;
}

void PclScanner::FeedHpgl(uint8_t b) {
    if (!InEscape) {
        if (b == ESC) {
            InEscape = true;
            ParamChar = 0;
            GroupChar = 0;
        }
    } else if (ParamChar == 0) {
        ParamChar = b;
    } else if (IsUpper(b)) {
        // Any escape sequence ending in a capital leaves HP-GL/2 (ESC % 0 A is the usual one).
        HpglMode = false;
        EndSequence();
        ClearValue();
    } else if (IsLower(b)) {
        ClearValue();
    } else {
        AppendValue(b);
    }
}

bool PclScanner::TakeFirst(uint8_t& character, uint8_t b) {
    if (character != 0)
        return false;
    character = b;
    if (IsUpper(b))
        EndSequence();
    return true;
}

// Called while an escape sequence is open or in HP-GL/2 mode; the plain-text case is handled inline.
void PclScanner::FeedSequence(uint8_t b) {
    if (HpglMode) {
        FeedHpgl(b);
        return;
    }
    // Two-character sequences such as ESC E (printer reset) end at their first character.
    if (TakeFirst(ParamChar, b))
        return;
    if (ParamChar == '%') {
        if (IsUpper(b)) {
            // ESC % <n> B enters HP-GL/2; ESC % -12345 X and the others simply end here.
            if (b == 'B')
                HpglMode = true;
            EndSequence();
            ClearValue();
        } else if (IsLower(b)) {
            ClearValue();
        } else {
            AppendValue(b);
        }
        return;
    }
    if (TakeFirst(GroupChar, b))
        return;
    if (IsUpper(b)) {
        TermChar = b;
        InEscape = false;
        InterpretParameter();
        EndSequence();
        ClearValue();
    } else if (IsLower(b)) {
        // Combined parameters (ESC & l 1 h 2 G) keep the group for the next one.
        TermChar = b;
        InterpretParameter();
        ClearValue();
    } else {
        AppendValue(b);
    }
}

void PclScanner::InterpretParameter() {
    if (ParamChar == '&' && GroupChar == 'l') {
        if (TermChar == 'G' || TermChar == 'g') {
            OutputBinLength = ValueLength;
        } else if (TermChar == 'H' || TermChar == 'h') {
            PaperSourceLength = ValueLength;
        }
    } else if ((ParamChar == '(' || ParamChar == ')') && GroupChar == 's' && TermChar == 'W') {
        Skip = ValueAsInteger();  // font header or character data
    } else if (ParamChar == '*' && GroupChar == 'b' && (TermChar == 'V' || TermChar == 'W')) {
        Skip = ValueAsInteger();  // raster data
    } else if (ParamChar == '*' && (GroupChar == 'c' || GroupChar == 's' || GroupChar == 'v') &&
               TermChar == 'W') {
        Skip = ValueAsInteger();  // pattern, symbol set or palette data
    }
}

// Leading white space, an optional sign, then digits up to the first other character; no digits give 0.
// Values beyond the 32-bit range are clamped.
int32_t PclScanner::ValueAsInteger() const {
    int i = 0;
    while (i < ValueLength && (Value[i] == ' ' || (Value[i] >= '\t' && Value[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < ValueLength && (Value[i] == '+' || Value[i] == '-')) {
        negative = Value[i] == '-';
        ++i;
    }
    constexpr int64_t LIMIT = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; i < ValueLength && Value[i] >= '0' && Value[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (Value[i] - '0');
        if (magnitude > LIMIT)
            magnitude = LIMIT;
    }
    if (negative)
        return static_cast<int32_t>(-magnitude);
    return static_cast<int32_t>(magnitude > LIMIT - 1 ? LIMIT - 1 : magnitude);
}

}  // namespace velmora
