#include "package/hex_text.h"

#include <array>
#include <cstring>

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

// Every byte value's two digits, ready to be copied as a pair.
constexpr std::array<char, 512> MakePairs() {
  std::array<char, 512> pairs{};
  for (int i = 0; i < 256; ++i) {
    pairs[2 * i] = kDigits[i >> 4];
    pairs[2 * i + 1] = kDigits[i & 15];
  }
  return pairs;
}
constexpr std::array<char, 512> kPairs = MakePairs();

inline char* PutByte(char* out, uint8_t value) {
  std::memcpy(out, &kPairs[2 * value], 2);
  return out + 2;
}

}  // namespace

std::string ByteToHex(uint8_t value) {
  return std::string(&kPairs[2 * value], 2);
}

std::string BytesToHexText(const uint8_t* data, int32_t length, int32_t bytesPerLine) {
  if (length <= 0) return {};
  const size_t n = static_cast<size_t>(length);
  const size_t perLine = bytesPerLine > 0 ? static_cast<size_t>(bytesPerLine) : 0;
  const size_t breaks = perLine > 0 ? n / perLine : 0;
  std::string text(2 * n + 2 * breaks, '\0');
  char* out = text.data();
  size_t i = 0;
  for (size_t line = 0; line < breaks; ++line) {
    for (size_t end = i + perLine; i < end; ++i)
      out = PutByte(out, data[i]);
    *out++ = '\r';
    *out++ = '\n';
  }
  for (; i < n; ++i)
    out = PutByte(out, data[i]);
  return text;
}
