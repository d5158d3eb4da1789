// The interface language, chosen by the registry value Lang (EN, FR or JA).
#pragma once

#include "resources/string_table.h"

namespace velmora {

// The language that a Lang value selects: EN, FR or JA without regard to case, anything else English.
Language LanguageFromValue(const std::u16string& value);
// Reads Lang and applies it to the calling thread; every thread that loads texts calls it first.
void SelectLanguage();

}  // namespace velmora
