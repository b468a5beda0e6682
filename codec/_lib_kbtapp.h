// Decoder of packed package items: the sliding-window bit stream.
//
// Tokens follow one another without alignment, read from bit 0 of byte 0 upward, every
// multi-bit field least significant bit first:
//   literal: 0, then 8 bits of value
//   copy:    1, then a 10-bit offset, then a length code: k one-bits, a zero bit and a
//            3-bit v; length = 8k + v + 1 (1 to MAX_WND_SIZE).
// A copy's source starts at window start + offset, where window start is
// max(0, produced - MAX_WND_SIZE); it moves like memmove, so source bytes at or past
// the current output position are the zero fill of the output buffer.
#pragma once

#include <cstdint>

namespace codec {

inline constexpr int32_t MAX_WND_SIZE = 1024;

// Bits a copy token of the longest length takes: flag, offset, 127 ones, zero, v.
inline constexpr int32_t kMaxCopyTokenBits = 1 + 10 + 127 + 1 + 3;

// Decodes all 8 * count bits of input into output (zero-filled by the caller, capacity
// bytes). The input must be followed by at least 4 readable zero bytes. Returns the
// number of bytes produced, or -1 when a token would reach the capacity, when a length
// code exceeds MAX_WND_SIZE, or when a copy's source would lie outside the buffer.
int32_t UnpackWindow(const uint8_t* input, int32_t count, uint8_t* output, int32_t capacity);

// The same with the input length in bits.
int32_t UnpackWindowBits(const uint8_t* input, int64_t totalBits, uint8_t* output,
                         int32_t capacity);

// Bit n of a byte block: bit n % 8 of byte n / 8.
int ReadBit(const uint8_t* input, int64_t n);

struct LengthCode {
  int32_t length;  // 8k + v + 1
  int32_t bits;    // k + 4
};
// Reads the length code at bit position; a code with more than 127 one-bits comes back
// with its length above MAX_WND_SIZE after reading no further than the 128th one-bit.
LengthCode ReadLength(const uint8_t* input, int64_t position);

}  // namespace codec
