// Small text helpers that every front end may use: lines of a text, numbers, file names,
// hex digits, the escaping of control bytes, times as people read them.
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

// The digits of upper-case hexadecimal.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";
// Two upper-case hex digits, high nibble first.
std::string ByteToHex(uint8_t value);

// The text as one line: line breaks at its end dropped, others turned into blanks.
std::string OneLine(const std::string& text);

// Which bytes Escaped writes as escapes. (Texts from a printer or a package on their way
// to a terminal line, a table or a box go through platform::Printable instead.)
enum class Escape {
  // Everything but printable ASCII: CR and LF as \r and \n, the backslash doubled,
  // the rest as \xNN. Every byte can be read back from the text.
  kAllButPrintableAscii,
};
std::string Escaped(std::string_view text, Escape which);

// A time as M:SS, or H:MM:SS from an hour on (rounded up to the second).
std::string Duration(uint64_t ms);
// Whole seconds for a message text: "3 s".
std::string SecondsText(uint64_t ms);

// Rows of cells as left-aligned columns two blanks apart, a line each, with no blanks at
// a line's end. Rows may have different lengths. Cells are one line of UTF-8 each, a
// character a column.
std::string AlignedColumns(const std::vector<std::vector<std::string>>& rows);

}  // namespace app
