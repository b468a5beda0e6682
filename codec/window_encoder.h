// Encoder for the sliding-window bit stream of packed package items (the decoder is
// UnpackWindow in _lib_kbtapp.h). Only the package tools and the tests link it; the
// updater itself never packs anything.
//
// The stream it writes, bit 0 of byte 0 first, every field least significant bit first:
//   literal: 0, 8-bit value                                        9 bits
//   copy:    1, 10-bit offset, k one-bits, 0, 3-bit v (len 8k+v+1)  15 + (len-1)/8 bits
//
// Copies follow two rules that keep the stream safe for every decoder of the format:
//   - a copy's source lies inside the window and ends at or before the position where
//     the copy starts (source + length <= produced), so it never reads the zero fill
//     that a decoder finds at and beyond its current output position;
//   - its length is 2 to MAX_WND_SIZE (a one-byte copy costs more than a literal).
// The offset counts from window start = max(0, produced - MAX_WND_SIZE).
//
// Size bounds: a literal costs 9 bits per byte and a copy of length L >= 2 costs at most
// 15 + (L - 1) / 8 < 9 * L bits, so the stream is never longer than
// ceil(9 * size / 8) bytes (PackWindowBound). The longest single token is a copy of
// MAX_WND_SIZE bytes: 1 + 10 + 127 + 1 + 3 = 142 bits (kMaxCopyTokenBits), which also
// is the furthest a decoder can read past the last token's first bit.
//
// The last byte is padded with zero bits. A decoder reads them as one more literal of
// value 0 (or nothing, when the stream ends on a byte boundary); callers keep only the
// unpacked length they were given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace codec {

struct PackOptions {
  // How many earlier positions with the same three leading bytes are tried per position.
  int chainDepth = 64;
  // A match at least this long is taken at once; shorter ones go through the search for
  // the cheapest token sequence.
  int goodLength = 128;
};

// Largest stream PackWindow can write for size input bytes.
size_t PackWindowBound(size_t size);

// Packs size bytes into a window-codec bit stream (empty for empty input).
std::vector<uint8_t> PackWindow(const uint8_t* data, size_t size,
                                const PackOptions& options = PackOptions());

}  // namespace codec
