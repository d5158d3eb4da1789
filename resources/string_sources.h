// The string table's sources: each part of the program keeps the texts it shows in a table of its own,
// and the string table looks every id up in all of them.
#pragma once

#include <cstdint>
#include <span>

namespace velmora {

// One entry per id; a null translation means "not translated" and falls back to English.
struct CStringEntry {
    uint32_t Id;
    const char16_t* English;
    const char16_t* French;
    const char16_t* Japanese;
};

// Messages, states, command prompts and the other texts of the core (string_table.cpp).
std::span<const CStringEntry> CoreStrings();
// The main window's menus, toolbar, status bar, job list and tray icon (window_strings.cpp).
std::span<const CStringEntry> WindowStrings();
// The dialogs' titles, labels and buttons (dialog_strings.cpp).
std::span<const CStringEntry> DialogStrings();
// The command-line administration tool's help and messages (admin_strings.cpp).
std::span<const CStringEntry> AdminStrings();

}  // namespace velmora
