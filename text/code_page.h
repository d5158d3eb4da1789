// Single-character conversion between UTF-16 and code pages, table driven.
// The system itself only uses code page 1252 (Windows Latin-1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// One UTF-16 unit for a code of the given code page; 0 (and a diagnostic on stderr) for an unknown code page.
char16_t CodePageToUnicode(int32_t codePage, uint16_t code);
// The code of a UTF-16 unit in the given code page; 0 where the code page has no such character.
uint16_t UnicodeToCodePage(int32_t codePage, char16_t unit);

// Exactly n units/bytes, one per byte/unit, no terminator written. Both return the destination.
char16_t* BytesToUnicode1252(char16_t* destination, const unsigned char* source, std::size_t n);
unsigned char* UnicodeToBytes1252(unsigned char* destination, const char16_t* source, std::size_t n);

void CopyUnicode(char16_t* destination, const char16_t* source, std::size_t n);
// A new zero-terminated copy of n units (n = -1: up to the source's terminator); free it with delete[].
char16_t* DuplicateUnicode(const char16_t* source, long n);

// Releases every cached table; later conversions rebuild what they need.
void FreeCodePageTables();

// String forms of the 1252 buffer operations, one byte per unit.
std::string ToBytes1252(std::u16string_view text);
std::u16string FromBytes1252(std::string_view bytes);

}  // namespace velmora
