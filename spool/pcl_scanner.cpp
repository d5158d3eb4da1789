#include "spool/pcl_scanner.h"

#include <cstdint>
#include <limits>

namespace velmora {

void PclScanner::Reset() {
    skip_ = 0;
    hpglMode_ = false;
    inEscape_ = false;
    paramChar_ = 0;
    groupChar_ = 0;
    termChar_ = 0;
    valueLength_ = 0;
    pages_ = 0;
    PaperSourceLength = -1;
    OutputBinLength = -1;
}

void PclScanner::FeedHpgl(uint8_t b) {
    if (!inEscape_) {
        if (b == kEsc) {
            inEscape_ = true;
            paramChar_ = 0;
            groupChar_ = 0;
        }
    } else if (paramChar_ == 0) {
        paramChar_ = b;
    } else if (IsUpper(b)) {
        // Any escape sequence ending in a capital leaves HP-GL/2 (ESC % 0 A is the usual one).
        hpglMode_ = false;
        EndSequence();
        ClearValue();
    } else if (IsLower(b)) {
        ClearValue();
    } else {
        AppendValue(b);
    }
}

// Called while an escape sequence is open or in HP-GL/2 mode; the plain-text case is handled inline.
void PclScanner::FeedSequence(uint8_t b) {
    if (hpglMode_) {
        FeedHpgl(b);
        return;
    }
    if (paramChar_ == 0) {
        paramChar_ = b;
        // Two-character sequences such as ESC E (printer reset).
        if (IsUpper(b))
            EndSequence();
        return;
    }
    if (paramChar_ == '%') {
        if (IsUpper(b)) {
            // ESC % <n> B enters HP-GL/2; ESC % -12345 X and the others simply end here.
            if (b == 'B')
                hpglMode_ = true;
            EndSequence();
            ClearValue();
        } else if (IsLower(b)) {
            ClearValue();
        } else {
            AppendValue(b);
        }
        return;
    }
    if (groupChar_ == 0) {
        groupChar_ = b;
        if (IsUpper(b))
            EndSequence();
        return;
    }
    if (IsUpper(b)) {
        termChar_ = b;
        inEscape_ = false;
        InterpretParameter();
        EndSequence();
        ClearValue();
    } else if (IsLower(b)) {
        // Combined parameters (ESC & l 1 h 2 G) keep the group for the next one.
        termChar_ = b;
        InterpretParameter();
        ClearValue();
    } else {
        AppendValue(b);
    }
}

void PclScanner::InterpretParameter() {
    if (paramChar_ == '&' && groupChar_ == 'l') {
        if (termChar_ == 'G' || termChar_ == 'g') {
            OutputBinLength = valueLength_;
        } else if (termChar_ == 'H' || termChar_ == 'h') {
            PaperSourceLength = valueLength_;
        }
    } else if ((paramChar_ == '(' || paramChar_ == ')') && groupChar_ == 's' && termChar_ == 'W') {
        skip_ = ValueAsInteger();  // font header or character data
    } else if (paramChar_ == '*' && groupChar_ == 'b' && (termChar_ == 'V' || termChar_ == 'W')) {
        skip_ = ValueAsInteger();  // raster data
    } else if (paramChar_ == '*' && (groupChar_ == 'c' || groupChar_ == 's' || groupChar_ == 'v') &&
               termChar_ == 'W') {
        skip_ = ValueAsInteger();  // pattern, symbol set or palette data
    }
}

// Leading white space, an optional sign, then digits up to the first other character; no digits give 0.
// Values beyond the 32-bit range are clamped.
int32_t PclScanner::ValueAsInteger() const {
    int i = 0;
    while (i < valueLength_ && (value_[i] == ' ' || (value_[i] >= '\t' && value_[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < valueLength_ && (value_[i] == '+' || value_[i] == '-')) {
        negative = value_[i] == '-';
        ++i;
    }
    constexpr int64_t kLimit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; i < valueLength_ && value_[i] >= '0' && value_[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (value_[i] - '0');
        if (magnitude > kLimit)
            magnitude = kLimit;
    }
    if (negative)
        return static_cast<int32_t>(-magnitude);
    return static_cast<int32_t>(magnitude > kLimit - 1 ? kLimit - 1 : magnitude);
}

}  // namespace velmora
