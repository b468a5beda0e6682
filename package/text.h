// Small text helpers of the package layer (ASCII, byte strings).
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace fwp {

inline bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// text with every ASCII letter in lower case: the key under which names that differ only
// in letter case meet.
inline std::string FoldCase(std::string text) {
  for (char& c : text)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// text without blanks and control characters at either end.
inline std::string TrimBlanks(const std::string& text) {
  const char* blanks = " \t\r\n\f\v";
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// value without one pair of surrounding quotes: a character of quotes at both ends.
inline std::string Unquote(const std::string& value, std::string_view quotes) {
  if (value.size() >= 2 && quotes.find(value.front()) != std::string_view::npos &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The value of a hexadecimal digit of either case; -1 for any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "N bytes", with the size in MiB beside it from 1 MiB on.
inline std::string SizeText(int64_t bytes) {
  std::string text = std::to_string(bytes) + " bytes";
  if (bytes < (1 << 20)) return text;
  char mebibytes[32];
  std::snprintf(mebibytes, sizeof mebibytes, " (%.1f MiB)", static_cast<double>(bytes) / (1 << 20));
  return text + mebibytes;
}

}  // namespace fwp
