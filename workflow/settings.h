// The optional settings file beside the executable: the executable's path with its
// extension replaced by ".ini". Read only, never written.
#pragma once

#include <cstdint>
#include <string>

namespace app {

// The settings file that belongs to an executable path ("/a/b/tool" -> "/a/b/tool.ini",
// "/a/pkg.run" -> "/a/pkg.ini").
std::string SettingsPathFor(const std::string& executablePath);

// Reads a yes/no key of the settings file at iniPath. A missing file, section or key
// gives def; a value that is no whole number gives def as well.
bool ReadSettingBool(const std::string& iniPath, const std::string& section, const std::string& key,
                     bool def);

// The private-profile lookup on text already in memory: sections and keys match without
// regard to case, blanks around the value are stripped, one pair of surrounding quotes
// is removed, lines beginning with ";" are ignored and the first matching key wins.
// Returns def when the section or key is missing. Values are cut to 2047 characters.
std::string ProfileString(const std::string& text, const std::string& section,
                          const std::string& key, const std::string& def);

// The whole-number reading of a setting: optional sign, decimal digits, or "$" / "0x"
// followed by hex digits. False when the text is no whole number of 32 bits.
bool ParseSettingInt(const std::string& text, int32_t& value);

}  // namespace app
