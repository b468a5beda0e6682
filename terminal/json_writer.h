// A small writer of JSON text: one object at a time, members in the order they are
// added. Every text is escaped whatever bytes it holds (printer replies may hold any):
// control bytes and the bytes of broken UTF-8 sequences become \u00XX escapes, so that
// the output is always valid JSON in valid UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// text as a JSON string, quotes included.
std::string JsonString(std::string_view text);

class JsonObject {
 public:
  JsonObject& Text(std::string_view key, std::string_view value);
  JsonObject& Number(std::string_view key, int64_t value);
  // A number of seconds, to the millisecond.
  JsonObject& Seconds(std::string_view key, uint64_t ms);
  JsonObject& Bool(std::string_view key, bool value);
  JsonObject& Null(std::string_view key);
  JsonObject& Object(std::string_view key, const JsonObject& value);
  JsonObject& Array(std::string_view key, const std::vector<JsonObject>& values);

  // The object's text, on one line.
  std::string Str() const { return "{" + members_ + "}"; }

 private:
  JsonObject& Member(std::string_view key, const std::string& valueText);

  std::string members_;
};

// The objects as a JSON array, on one line.
std::string JsonArray(const std::vector<JsonObject>& values);

}  // namespace app
