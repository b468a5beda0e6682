// Decodes a window-codec stream one bit at a time, straight from the token format, and
// notes what an encoder must never write: copies whose source reaches the copy's own
// output position (they read the buffer's zero fill), and lengths above MAX_WND_SIZE.
// Independent of the fast decoder, so the encoder tests and the fuzz targets can hold
// both against it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace window_tokens {

struct Walk {
  int32_t result = 0;  // produced bytes, or -1 (as codec::UnpackWindowBits)
  int64_t tokens = 0;
  int64_t copies = 0;
  bool zeroFillCopy = false;  // a copy read bytes at or past its output position
  bool shortCopy = false;     // a one-byte copy (never worth it)
};

class BitSource {
 public:
  // Bytes at or past size read as zero, like the padding a caller puts behind a stream.
  BitSource(const uint8_t* data, int64_t size) : data_(data), size_(size) {}
  int Bit(int64_t n) const {
    const int64_t byte = n / 8;
    return byte < size_ ? (data_[byte] >> (n % 8)) & 1 : 0;
  }
  uint32_t Field(int64_t& pos, int bits) const {
    uint32_t value = 0;
    for (int i = 0; i < bits; ++i)
      value |= static_cast<uint32_t>(Bit(pos++)) << i;
    return value;
  }

 private:
  const uint8_t* data_;
  int64_t size_;
};

// Decodes totalBits bits of input (size readable bytes) into out, which is zero-filled
// and capacity bytes long. Gives up with -1 where the decoder does: a token that would
// reach the capacity, a length code above 1024, a copy source outside the buffer.
inline Walk Decode(const uint8_t* input, int64_t size, int64_t totalBits, uint8_t* out,
                   int64_t capacity) {
  Walk walk;
  auto stop = [&walk]() {
    walk.result = -1;
    return walk;
  };
  const BitSource bits(input, size);
  int64_t pos = 0;
  int64_t produced = 0;
  if (totalBits <= 0) return walk;
  do {
    ++walk.tokens;
    if (bits.Bit(pos++) == 0) {
      const auto value = static_cast<uint8_t>(bits.Field(pos, 8));
      if (produced + 1 >= capacity) return stop();
      out[produced++] = value;
      continue;
    }
    ++walk.copies;
    const int64_t windowStart = std::max<int64_t>(0, produced - 1024);
    const int64_t offset = bits.Field(pos, 10);
    int64_t ones = 0;
    while (bits.Bit(pos++) == 1) {
      if (++ones > 127) return stop();
    }
    const int64_t length = 8 * ones + bits.Field(pos, 3) + 1;
    const int64_t source = windowStart + offset;
    if (produced + length >= capacity || source + length > capacity) return stop();
    walk.zeroFillCopy = walk.zeroFillCopy || source + length > produced;
    walk.shortCopy = walk.shortCopy || length == 1;
    // Each destination byte gets its source byte's value from before the move.
    std::memmove(out + produced, out + source, static_cast<size_t>(length));
    produced += length;
  } while (pos < totalBits);
  walk.result = static_cast<int32_t>(produced);
  return walk;
}

}  // namespace window_tokens
