// UTF-8 codec working per UTF-16 unit, limited to the Basic Multilingual Plane.
// Diagnostics go to the standard error stream and never stop a conversion.
#pragma once

namespace velmora {

int Utf8EncodedLength(int n, const char16_t* source);
// Bytes written; with capacity 0 the size needed; 0 for a null source; -1/-2 for argument errors and
// a destination that is too small. n = -1 takes the source up to and including its terminator.
int Utf8Encode(char* destination, int capacity, const char16_t* source, int n);
int Utf8DecodedLength(int n, const char* source);
// Bytes of a zero-terminated UTF-8 string, terminator included.
int Utf8StringLength(const char* source);
// Bytes consumed; *count is the capacity in units on entry and the units written on return
// (a count of 0 on entry asks for the size). -1 for argument errors, -2 when the capacity runs out.
int Utf8Decode(char16_t* destination, int* count, const char* source, int n, int* errorCounter = nullptr);

}  // namespace velmora
