// Small text helpers: lines of a text, numbers, file names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The line with that 0-based index of text, as stored (blanks kept), or "" when text has
// fewer lines. Lines end at CR, LF or CR LF; a final line break starts no extra line.
std::string TextLine(std::string_view text, int32_t index);

// A whole decimal number with an optional sign (blanks before it allowed); fallback
// when the text is anything else or does not fit 32 bits.
int32_t DecimalOrDefault(std::string_view text, int32_t fallback);

// "a.b.fwp" -> "a.b" + newSuffix; a file name without "." gets newSuffix appended.
// Only the last path component is looked at.
std::string ReplaceExtension(const std::string& path, const std::string& newSuffix);

// The file name of path without its extension (the text from the last "." on).
std::string BaseNameWithoutExtension(const std::string& path);

// Rows of cells as left-aligned columns two blanks apart, a line each, with no blanks at
// a line's end. Rows may have different lengths.
std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows);

}  // namespace app
