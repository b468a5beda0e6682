#include "terminal/json_writer.h"

#include <cstdio>

namespace app {
namespace {

std::string Escaped(uint8_t byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\u%04x", byte);
  return text;
}

// Length of the valid UTF-8 sequence at text[i], 0 when none starts there. Overlong
// forms, surrogates and code points past U+10FFFF are not valid.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto at = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t lead = at(i);
  size_t length = 0;
  uint32_t min = 0, cp = 0;
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

}  // namespace

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<uint8_t>(text[i]);
    if (byte >= 0x80) {
      const size_t length = Utf8Length(text, i);
      if (length == 0) {
        out += Escaped(byte);
        ++i;
      } else {
        out.append(text.substr(i, length));
        i += length;
      }
      continue;
    }
    switch (byte) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          out += Escaped(byte);
        } else {
          out += static_cast<char>(byte);
        }
    }
    ++i;
  }
  return out + "\"";
}

JsonObject& JsonObject::Member(std::string_view key, const std::string& valueText) {
  if (!members_.empty()) members_ += ",";
  members_ += JsonString(key) + ":" + valueText;
  return *this;
}

JsonObject& JsonObject::Text(std::string_view key, std::string_view value) {
  return Member(key, JsonString(value));
}

JsonObject& JsonObject::Number(std::string_view key, int64_t value) {
  return Member(key, std::to_string(value));
}

JsonObject& JsonObject::Seconds(std::string_view key, uint64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03llu", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000));
  return Member(key, text);
}

JsonObject& JsonObject::Bool(std::string_view key, bool value) {
  return Member(key, value ? "true" : "false");
}

JsonObject& JsonObject::Null(std::string_view key) {
  return Member(key, "null");
}

JsonObject& JsonObject::Object(std::string_view key, const JsonObject& value) {
  return Member(key, value.Str());
}

JsonObject& JsonObject::Array(std::string_view key, const std::vector<JsonObject>& values) {
  return Member(key, JsonArray(values));
}

std::string JsonArray(const std::vector<JsonObject>& values) {
  std::string out = "[";
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ",";
    out += values[i].Str();
  }
  return out + "]";
}

}  // namespace app
