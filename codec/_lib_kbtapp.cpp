// Decoder of packed package items: the sliding-window bit stream.
#include "codec/_lib_kbtapp.h"

#include <algorithm>
#include <cstring>

namespace codec {
namespace {

// Bytes after the last stream byte that a caller guarantees to be readable zeros.
constexpr int64_t kGuaranteedPad = 4;

// Bits of the stream from bit position pos on, least significant first; at least 57 of
// them are valid. Bytes past the guaranteed padding read as zero, as the padding does.
class BitPeeker {
 public:
  BitPeeker(const uint8_t* input, int64_t totalBits)
      : input_(input), readable_((totalBits + 7) / 8 + kGuaranteedPad) {}

  uint64_t Peek(int64_t pos) const {
    int64_t byte = pos >> 3;
    uint64_t word;
    if (byte + 8 <= readable_) {
      std::memcpy(&word, input_ + byte, 8);  // little-endian host
    } else {
      word = 0;
      for (int64_t i = 0; i < 8 && byte + i < readable_; ++i) {
        word |= static_cast<uint64_t>(input_[byte + i]) << (8 * i);
      }
    }
    return word >> (pos & 7);
  }

 private:
  const uint8_t* input_;
  int64_t readable_;
};

// Length code that does not fit the current peek: count its ones word by word.
LengthCode SlowLength(const BitPeeker& bits, int64_t pos) {
  int32_t ones = 0;
  for (;;) {
    uint64_t word = bits.Peek(pos + ones);
    int run = word == ~0ull ? 57 : __builtin_ctzll(~word);
    if (run > 57) run = 57;
    ones += run;
    if (ones > 127) return {MAX_WND_SIZE + 1, 128};
    if (run < 57) break;
  }
  auto v = static_cast<int32_t>((bits.Peek(pos + ones + 1)) & 7);
  return {8 * ones + v + 1, ones + 4};
}

}  // namespace

int ReadBit(const uint8_t* input, int64_t n) {
  return (input[n >> 3] >> (n & 7)) & 1;
}

LengthCode ReadLength(const uint8_t* input, int64_t position) {
  int32_t ones = 0;
  while (ReadBit(input, position + ones) == 1) {
    if (++ones > 127) return {MAX_WND_SIZE + 1, 128};
  }
  int32_t v = 0;
  for (int i = 0; i < 3; ++i)
    v |= ReadBit(input, position + ones + 1 + i) << i;
  return {8 * ones + v + 1, ones + 4};
}

int32_t UnpackWindowBits(const uint8_t* input, int64_t totalBits, uint8_t* output,
                         int32_t capacity) {
  if (totalBits <= 0) return 0;
  const BitPeeker bits(input, totalBits);
  int64_t pos = 0;
  int32_t produced = 0;
  do {
    uint64_t word = bits.Peek(pos);
    if ((word & 1) == 0) {
      // Literal: flag, then 8 bits of value.
      if (produced + 1 >= capacity) return -1;
      output[produced++] = static_cast<uint8_t>(word >> 1);
      pos += 9;
      continue;
    }
    // Copy: flag, 10-bit offset, length code.
    auto offset = static_cast<int32_t>((word >> 1) & 0x3FF);
    uint64_t rest = word >> 11;  // at least 46 valid bits
    int ones = __builtin_ctzll(~rest);
    LengthCode code;
    if (ones <= 42) {
      code = {8 * ones + static_cast<int32_t>((rest >> (ones + 1)) & 7) + 1, ones + 4};
    } else {
      code = SlowLength(bits, pos + 11);
      if (code.length > MAX_WND_SIZE) return -1;
    }
    const int32_t windowStart = std::max(0, produced - MAX_WND_SIZE);
    const int32_t source = windowStart + offset;
    if (produced + code.length >= capacity) return -1;
    if (source + code.length > capacity) return -1;
    // Source bytes at or past the output position are the buffer's zero fill.
    if (source + code.length <= produced) {
      std::memcpy(output + produced, output + source, static_cast<size_t>(code.length));
    } else {
      std::memmove(output + produced, output + source, static_cast<size_t>(code.length));
    }
    produced += code.length;
    pos += 11 + code.bits;
  } while (pos < totalBits);
  return produced;
}

int32_t UnpackWindow(const uint8_t* input, int32_t count, uint8_t* output, int32_t capacity) {
  return UnpackWindowBits(input, static_cast<int64_t>(count) * 8, output, capacity);
}

}  // namespace codec
