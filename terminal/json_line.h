// JSON lines as --json writes them and --all reads its children's, through nlohmann's
// JSON library: objects keep their members in the order they were given, a value goes
// on one line, every text is valid UTF-8, durations are seconds to the millisecond.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace app {

using Json = nlohmann::ordered_json;

// A text as a JSON string. Printer replies, serial numbers and package texts may hold
// any bytes: valid UTF-8 stays as it is (JsonLine writes the C0 and C1 control
// characters as \u00NN), and each byte that is not part of well-formed UTF-8 becomes the four
// characters \xNN (upper-case hex), as the terminal shows it, so that it can be told from
// a real character and the line is always valid JSON in valid UTF-8.
Json JsonText(std::string_view text);

// A duration of ms milliseconds, written in seconds with three decimals ("1.600").
Json JsonSeconds(uint64_t ms);

// value on one line, without spaces.
std::string JsonLine(const Json& value);

// line as a JSON value; a discarded value (is_discarded()) when it is no JSON.
Json ReadJsonLine(std::string_view line);

}  // namespace app
