#include "workflow/settings.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>

#include "package/text.h"

using fwp::EqualsIgnoringCase;
using fwp::HexDigitValue;
using fwp::TrimBlanks;
using fwp::Unquote;

namespace app {
namespace {

constexpr size_t kMaxValueLength = 2047;  // what a 2048-character buffer keeps

// Settings values may be quoted either way.
std::string UnquoteValue(const std::string& value) {
  return Unquote(value, "\"'");
}

}  // namespace

std::string SettingsPathFor(const std::string& executablePath) {
  const size_t slash = executablePath.rfind('/');
  const size_t dot = executablePath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? executablePath.substr(0, dot) : executablePath) + ".ini";
}

std::string ProfileString(const std::string& text, const std::string& section,
                          const std::string& key, const std::string& def) {
  std::istringstream lines(text);
  std::string line;
  bool inSection = false;
  while (std::getline(lines, line)) {
    std::string trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed[0] == ';') continue;
    if (trimmed[0] == '[') {
      size_t close = trimmed.find(']');
      std::string name =
          TrimBlanks(trimmed.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = EqualsIgnoringCase(name, TrimBlanks(section));
      continue;
    }
    if (!inSection) continue;
    size_t equals = trimmed.find('=');
    if (equals == std::string::npos) continue;
    if (!EqualsIgnoringCase(TrimBlanks(trimmed.substr(0, equals)), TrimBlanks(key))) continue;
    std::string value = UnquoteValue(TrimBlanks(trimmed.substr(equals + 1)));
    if (value.size() > kMaxValueLength) value.resize(kMaxValueLength);
    return value;
  }
  return def;
}

bool ParseSettingInt(const std::string& input, int32_t& value) {
  std::string text = input;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text = "$" + text.substr(2);
  }
  size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const bool hex = i < text.size() && text[i] == '$';
  if (hex) ++i;
  if (i >= text.size()) return false;
  uint64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    int digit = hex ? HexDigitValue(text[i])
                    : (std::isdigit(static_cast<unsigned char>(text[i])) ? text[i] - '0' : -1);
    if (digit < 0) return false;
    magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    // Hex spells the 32 bits themselves ($FFFFFFFF is -1); decimal must fit the range.
    if (magnitude > (hex ? 0xFFFFFFFFull : 0x80000000ull)) return false;
  }
  if (!hex && !negative && magnitude > 0x7FFFFFFFull) return false;
  auto bits = static_cast<uint32_t>(magnitude);
  if (negative) bits = 0u - bits;
  value = static_cast<int32_t>(bits);
  return true;
}

bool ReadSettingBool(const std::string& iniPath, const std::string& section, const std::string& key,
                     bool def) {
  std::ifstream file(iniPath, std::ios::binary);
  if (!file) return def;  // a missing file is no failure: the default holds
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) return false;
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // editors' UTF-8 mark
  int32_t number = 0;
  if (!ParseSettingInt(ProfileString(text, section, key, ""), number)) return def;
  return number != 0;
}

}  // namespace app
