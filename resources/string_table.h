// The string table: every text the system shows or logs by resource id, in English, French and Japanese.
// Texts are looked up in the calling thread's language (see SelectLanguage).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "resources/string_ids.h"

namespace velmora {

// Windows language identifiers of the three interface languages.
enum class Language : uint16_t { English = 1033, French = 1036, Japanese = 1041 };

// The calling thread's interface language (English until set).
void SetThreadLanguage(Language language);
Language ThreadLanguage();

// The text of a string id in the calling thread's language, or in the given one; empty for an unknown id.
std::u16string LoadString(uint32_t id);
std::u16string LoadString(uint32_t id, Language language);

// Every id the table holds, in ascending order.
std::vector<uint32_t> StringTableIds();

}  // namespace velmora
