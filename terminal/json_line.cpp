#include "terminal/json_line.h"

namespace app {
namespace {

// Length of the valid UTF-8 sequence at text[i], 0 when none starts there. Overlong
// forms, surrogates and code points past U+10FFFF are not valid.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = at(i);
  size_t length = 0;
  uint32_t min = 0, cp = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, cp = lead & 0x07u;
  } else {
    return 0;
  }
  if (i + length > text.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (at(i + k) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

// nlohmann writes a double in its shortest form ("1.6", "9.0"); the durations, the only
// doubles these lines hold, have always had three decimals. Numbers are padded here,
// outside the strings.
std::string WithMilliseconds(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 16);
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    out += c;
    if (inString) {
      if (c == '\\' && i + 1 < text.size()) {
        out += text[++i];
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '.') {
      size_t decimals = 0;
      while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
        out += text[++i];
        ++decimals;
      }
      out.append(decimals < 3 ? 3 - decimals : 0, '0');
    }
  }
  return out;
}

}  // namespace

Json JsonText(std::string_view text) {
  std::string valid;
  valid.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = Utf8Length(text, i);
    if (length > 0) {
      valid.append(text.substr(i, length));
      i += length;
      continue;
    }
    const auto byte = static_cast<uint8_t>(text[i++]);
    valid += static_cast<char>(0xC0 | byte >> 6);
    valid += static_cast<char>(0x80 | (byte & 0x3F));
  }
  return valid;
}

Json JsonSeconds(uint64_t ms) {
  return static_cast<double>(ms) / 1000;
}

std::string JsonLine(const Json& value) {
  // Every text went through JsonText; should one not have, its broken bytes become
  // U+FFFD rather than an exception.
  return WithMilliseconds(value.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Json ReadJsonLine(std::string_view line) {
  return Json::parse(line.begin(), line.end(), nullptr, false);
}

}  // namespace app
