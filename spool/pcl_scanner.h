// A small recogniser of the PCL printer language: counts form feeds outside escape sequences, binary
// data and HP-GL/2 graphics, and reports where paper-source and output-bin commands end so that a
// copying user can rewrite their values.
#pragma once

#include <cstdint>

namespace velmora {

class PclScanner {
  public:
    PclScanner() { Reset(); }

    void Reset();

    // Examines the next byte of the stream. Called once per byte of large files, so the common cases
    // stay inline and nothing is allocated.
    void Feed(uint8_t b) {
        if (Skip > 0) {
            --Skip;
            return;
        }
        // A negative count announced by a command never runs out: the rest of the stream is data.
        if (Skip < 0)
            return;
        if (!HpglMode && !InEscape) {
            if (b == ESC) {
                InEscape = true;
                ParamChar = 0;
                GroupChar = 0;
            } else if (b == FORM_FEED && PageCount < MAX_PAGE_COUNT) {
                ++PageCount;
            }
            return;
        }
        FeedSequence(b);
    }

    // Form feeds counted so far; a file beyond 2 GiB may hold more than the count goes up to.
    int32_t Pages() const { return PageCount; }
    static constexpr int32_t MAX_PAGE_COUNT = INT32_MAX;

    // Set by the byte that ends a paper-source (ESC & l <n> H) or output-bin (ESC & l <n> G) command to
    // the length of its value, which is the bytes right before that terminator; -1 when none. A copying
    // user sets them back to -1 once it has acted on them.
    int32_t PaperSourceLength = -1;
    int32_t OutputBinLength = -1;

    // The longest parameter value kept; further characters are dropped.
    static constexpr int MAX_VALUE_LENGTH = 254;

  private:
    static constexpr uint8_t ESC = 0x1B;
    static constexpr uint8_t FORM_FEED = 0x0C;

    static bool IsUpper(uint8_t b) { return b >= 'A' && b <= 'Z'; }
    static bool IsLower(uint8_t b) { return b >= 'a' && b <= 'z'; }

    void FeedSequence(uint8_t b);
    // Stores b as the sequence's parameter or group character when that is still empty (the sequence
    // ends there when b is its final character); false when it was taken already.
    bool TakeFirst(uint8_t& character, uint8_t b);
    void FeedHpgl(uint8_t b);
    void AppendValue(uint8_t b) {
        if (ValueLength < MAX_VALUE_LENGTH)
            Value[ValueLength++] = static_cast<char>(b);
    }
    void ClearValue() {
        ValueLength = 0;
        TermChar = 0;
    }
    void EndSequence() {
        InEscape = false;
        ParamChar = 0;
        GroupChar = 0;
    }
    void InterpretParameter();
    int32_t ValueAsInteger() const;

    int32_t Skip;
    bool HpglMode;
    bool InEscape;
    uint8_t ParamChar;
    uint8_t GroupChar;
    uint8_t TermChar;
    char Value[MAX_VALUE_LENGTH];
    int ValueLength;
    int32_t PageCount;
};

}  // namespace velmora
