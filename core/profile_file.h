// The settings file: an INI file of bracketed sections and "key=value" lines ending in CR LF.
// Reads behave like the Windows profile functions; every write replaces the file whole through a new
// file renamed over the old one, so a crash never leaves a half-written settings file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

class CProfileFile {
  public:
    void SetPath(const std::u16string& path) { ProfilePath = path; }
    const std::u16string& Path() const { return ProfilePath; }

    // The key's value read as a decimal number (leading digits with an optional minus sign; anything
    // else reads as 0), or the default when the file, the section or the key is absent or empty.
    int32_t GetInt(std::u16string_view section, std::u16string_view key, int32_t defaultValue) const;
    // The key's value without the spaces around it; empty when the file, the section or the key is absent.
    std::u16string GetString(std::u16string_view section, std::u16string_view key) const;
    bool WriteInt(std::u16string_view section, std::u16string_view key, int32_t value);
    // Replaces every key of the section by the entries: "key=value" texts each followed by a NUL, the
    // list ending with a second NUL (bytes as they go to the file).
    bool WriteSection(std::u16string_view section, std::string_view entries);

  private:
    std::u16string ProfilePath;
};

}  // namespace velmora
