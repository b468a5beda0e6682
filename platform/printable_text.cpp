#include "platform/printable_text.h"

#include <cstdint>

namespace platform {

size_t Utf8SequenceLength(std::string_view text, size_t at) {
  const auto lead = static_cast<uint8_t>(text[at]);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80;  // the second byte's range, narrower after some leads
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<uint8_t>(text[at + k]);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  const auto escape = [&](uint8_t byte) {
    shown += "\\x";
    shown += kHex[byte >> 4];
    shown += kHex[byte & 0xF];
  };
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<uint8_t>(text[i]);
    const size_t length = Utf8SequenceLength(text, i);
    // U+0080..U+009F, the C1 controls, are C2 80..C2 9F.
    const bool control = byte < 0x20 || byte == 0x7F ||
                         (length == 2 && byte == 0xC2 && static_cast<uint8_t>(text[i + 1]) < 0xA0);
    if (length == 0) {
      escape(byte);
      ++i;
    } else if (control) {
      for (size_t end = i + length; i < end; ++i)
        escape(static_cast<uint8_t>(text[i]));
    } else {
      shown.append(text.substr(i, length));
      i += length;
    }
  }
  return shown;
}

}  // namespace platform
