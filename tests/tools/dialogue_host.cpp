#include "tests/tools/dialogue_host.h"

#include <cstdio>

namespace simtest {

std::string HexText(const std::vector<uint8_t>& bytes, const HexStyle& style) {
  const char* digits = style.lowerCase ? "0123456789abcdef" : "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
    if (style.bytesPerLine > 0 && (i + 1) % style.bytesPerLine == 0) {
      text += style.lineEndingLfOnly ? "\n" : "\r\n";
    }
  }
  return text;
}

std::string SetitLine(int tp, int64_t add, int64_t len, int64_t ck, int md) {
  char line[128];
  std::snprintf(line, sizeof line, "SETIT TP=%d,ADD=%lld,LEN=%lld,CK=%lld,MD=%d\r\n", tp,
                static_cast<long long>(add), static_cast<long long>(len),
                static_cast<long long>(ck), md);
  return line;
}

int64_t Sum(const std::vector<uint8_t>& bytes) {
  int64_t sum = 0;
  for (uint8_t b : bytes)
    sum += b;
  return sum;
}

std::string DfLine(const std::vector<uint8_t>& image) {
  return "DF 0 536870912 " + std::to_string(image.size()) + " " + std::to_string(Sum(image)) +
         "\r\n";
}

std::vector<uint8_t> Pattern(size_t size, unsigned seed) {
  std::vector<uint8_t> data(size);
  uint32_t x = seed;
  for (auto& b : data) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return data;
}

int BlockSize(int tp) {
  switch (tp) {
    case 0:
      return 2 << 20;
    case 3:
      return 1 << 20;
    default:
      return 128 << 10;
  }
}

}  // namespace simtest
