// Texts that come from a device or a package (USB serial numbers, product strings, version
// labels, item names, a printer's replies, process names) on their way to a terminal line,
// a table or a message box. Such a text may hold any bytes; shown raw, an escape sequence
// would drive the terminal and a line break would forge a line of its own.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// The length of the well-formed UTF-8 sequence at text[at] (1 for ASCII), 0 when none
// starts there: a stray continuation byte, a cut or overlong sequence, a surrogate, a
// code point above U+10FFFF, or a byte that never occurs in UTF-8 (C0, C1, F5..FF).
size_t Utf8SequenceLength(std::string_view text, size_t at);

// text with C0 controls (CR, LF, ESC and TAB among them), DEL, the C1 controls
// (U+0080..U+009F, the bytes C2 80..C2 9F) and every byte that is not part of
// well-formed UTF-8 written as \xNN, upper-case hex, byte by byte. Every other character
// of valid UTF-8 stays as it is. A backslash stays as it is too: the result is for people
// to read, not to be read back, so a text that holds "\x1B" itself looks like one that
// held the byte; what the printer really sent is in the verbose log, which escapes the
// backslash.
std::string Printable(std::string_view text);

}  // namespace platform
