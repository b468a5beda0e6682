// The settings reader on arbitrary text. Input: SECTION NUL KEY NUL TEXT; without two
// NULs the whole input is the text and the lookup is MAIN/MAKE.
#include <string>

#include "fuzz/targets/fuzz_files.h"
#include "workflow/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string section = "MAIN", key = "MAKE", text = input;
  const size_t first = input.find('\0');
  const size_t second = first == std::string::npos ? first : input.find('\0', first + 1);
  if (second != std::string::npos) {
    section = input.substr(0, first);
    key = input.substr(first + 1, second - first - 1);
    text = input.substr(second + 1);
  }
  const std::string value = app::ProfileString(text, section, key, "<default>");
  fuzzing::Require(value.size() <= 2047 || value == "<default>", "values are cut to 2047");
  int32_t number = 0;
  app::ParseSettingInt(value, number);
  app::ParseSettingInt(input, number);
  return 0;
}
