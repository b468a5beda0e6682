#include "terminal/json_line.h"

#include "platform/printable_text.h"

namespace app {
namespace {

// nlohmann escapes C0 controls but writes the C1 controls (U+0080..U+009F) as they are,
// and a terminal showing the line may act on them. The same characters as \u0080..\u009f:
// outside its strings a dumped line is ASCII, so C2 80..C2 9F are such characters.
std::string WithC1Escaped(std::string text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    const auto next = static_cast<uint8_t>(text[i + 1]);
    if (static_cast<uint8_t>(text[i]) != 0xC2 || next < 0x80 || next > 0x9F) continue;
    text.replace(i, 2, std::string("\\u00") + kHex[next >> 4] + kHex[next & 0xF]);
    i += 5;
  }
  return text;
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
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string valid;
  valid.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = platform::Utf8SequenceLength(text, i);
    if (length > 0) {
      valid.append(text.substr(i, length));
      i += length;
      continue;
    }
    const auto byte = static_cast<uint8_t>(text[i++]);
    valid += "\\x";
    valid += kHex[byte >> 4];
    valid += kHex[byte & 0xF];
  }
  return valid;
}

namespace {

// Every string value inside value as JsonText makes it.
void ValidTexts(Json& value) {
  if (value.is_string()) {
    value = JsonText(value.get_ref<const std::string&>());
  } else if (value.is_structured()) {
    for (Json& member : value)
      ValidTexts(member);
  }
}

}  // namespace

Json JsonSeconds(uint64_t ms) {
  return static_cast<double>(ms) / 1000;
}

std::string JsonLine(const Json& value) {
  try {
    return WithMilliseconds(
        WithC1Escaped(value.dump(-1, ' ', false, Json::error_handler_t::strict)));
  } catch (const Json::type_error&) {
    // A text that did not go through JsonText holds bytes that are not UTF-8: it is
    // written as JsonText writes it.
    Json valid = value;
    ValidTexts(valid);
    return WithMilliseconds(
        WithC1Escaped(valid.dump(-1, ' ', false, Json::error_handler_t::replace)));
  }
}

Json ReadJsonLine(std::string_view line) {
  return Json::parse(line.begin(), line.end(), nullptr, false);
}

}  // namespace app
