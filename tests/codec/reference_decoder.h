// A plain bit-by-bit decoder written straight from the stream format, kept as the
// yardstick for the fast decoder.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace reference {

inline int Bit(const std::vector<uint8_t>& in, int64_t n) {
  return (in[static_cast<size_t>(n / 8)] >> (n % 8)) & 1;
}

inline uint32_t Field(const std::vector<uint8_t>& in, int64_t& pos, int bits) {
  uint32_t value = 0;
  for (int i = 0; i < bits; ++i)
    value |= static_cast<uint32_t>(Bit(in, pos++)) << i;
  return value;
}

// in holds the stream followed by enough zero bytes; out is zero-filled, capacity bytes.
inline int32_t Decode(const std::vector<uint8_t>& in, int64_t totalBits,
                      std::vector<uint8_t>& out) {
  const auto capacity = static_cast<int64_t>(out.size());
  int64_t pos = 0;
  int64_t produced = 0;
  if (totalBits == 0) return 0;
  do {
    if (Bit(in, pos++) == 1) {
      const int64_t windowStart = std::max<int64_t>(0, produced - 1024);
      const int64_t offset = Field(in, pos, 10);
      int64_t ones = 0;
      while (Bit(in, pos++) == 1) {
        if (++ones > 127) return -1;
      }
      const int64_t length = 8 * ones + Field(in, pos, 3) + 1;
      const int64_t source = windowStart + offset;
      if (produced + length >= capacity) return -1;
      if (source + length > capacity) return -1;
      std::vector<uint8_t> before(out.begin() + source, out.begin() + source + length);
      std::copy(before.begin(), before.end(), out.begin() + produced);
      produced += length;
    } else {
      const auto value = static_cast<uint8_t>(Field(in, pos, 8));
      if (produced + 1 >= capacity) return -1;
      out[static_cast<size_t>(produced++)] = value;
    }
  } while (pos < totalBits);
  return static_cast<int32_t>(produced);
}

}  // namespace reference
